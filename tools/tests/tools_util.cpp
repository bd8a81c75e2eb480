#include "tools_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include "testsupport/testsupport.h"

extern char** environ;

namespace tools_test {

namespace fs = std::filesystem;

RunResult run(const std::vector<std::string>& argv, const std::string& cwd) {
    TempDir scratch("run");
    std::string err_path = scratch / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    RunResult result;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = "cannot start " + argv[0];
        return result;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = read_file(err_path);
    return result;
}

std::string bin_dir() {
    if (const char* b = std::getenv("VELTRIN_BIN")) return b;
    return std::string(VELTRIN_BINARY_DIR) + "/bin";
}

std::string windows(const std::string& host) {
    std::string out = "C:" + host;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::vector<std::string> split_blanks(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string token;
    while (in >> token) out.push_back(token);
    return out;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    return testsupport::slurp(path);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool is_executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

void make_dirs(const std::string& path) {
    fs::create_directories(path);
}

std::map<std::string, std::string> tree(const std::string& dir) {
    return testsupport::tree_listing(dir);
}

cab::Entry entry(std::string name, std::string data, std::uint16_t attribs) {
    cab::Entry e;
    e.name = std::move(name);
    e.data = std::move(data);
    e.attribs = attribs;
    e.mtime = 1700000000;
    return e;
}

std::string noise(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xff);
    }
    return s;
}

std::string text(std::size_t size) {
    std::string s;
    for (int i = 0; s.size() < size; ++i) s += "Zeile " + std::to_string(i) + " des Textes\r\n";
    s.resize(size);
    return s;
}

RunResult extract_all(const std::string& cabinet, const std::string& folder) {
    std::vector<std::string> argv{bin_dir() + "/extractor"};
    for (auto& t : split_blanks(windows(cabinet) + " " + windows(folder) + "\\*.* -d -i"))
        argv.push_back(t);
    return run(argv);
}

RunResult extract_one(const std::string& cabinet, const std::string& target) {
    std::vector<std::string> argv{bin_dir() + "/extractor"};
    for (auto& t : split_blanks(windows(cabinet) + " " + windows(target) + " -d -i -ox"))
        argv.push_back(t);
    return run(argv);
}

}  // namespace tools_test

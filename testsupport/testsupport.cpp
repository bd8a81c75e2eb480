#include "testsupport/testsupport.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/error.h"
#include "platform/file_toolkit.h"
#include "platform/paths.h"

namespace testsupport {
namespace {

// Tests may run as root, whose installs go into the system-wide places: every test process, and
// every program it starts, finds them in the build folder instead, never in the real system.
const bool g_private_system_places = [] {
    ::setenv("XDG_DATA_DIRS", VELTRIN_BINARY_DIR "/tests/system-share:/usr/local/share:/usr/share",
             1);
    return true;
}();

std::string make_temp(const std::string& tag) {
    std::string pattern = "/tmp/veltrin-" + tag + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    // Others may read it, as a test server running under another name must.
    ::chmod(pattern.c_str(), 0755);
    return pattern;
}

// A test may leave read-only folders behind; the removal needs to write to each.
void make_writable(const std::string& folder) {
    ::chmod(folder.c_str(), 0755);
    for (const auto& n : platform::list_folder(folder)) {
        const std::string full = folder + "/" + n;
        struct stat st;
        if (::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) make_writable(full);
    }
}

void walk(const std::string& dir, const std::string& prefix, const TreeOptions& options,
          std::map<std::string, std::string>& out) {
    for (const auto& n : platform::list_folder(dir)) {
        const std::string full = dir + "/" + n;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (options.folders) out[prefix + n + "/"] = "";
            walk(full, prefix + n + "/", options, out);
        } else if (S_ISLNK(st.st_mode) && options.links) {
            out[prefix + n] = "->" + std::filesystem::read_symlink(full).string();
        } else if (S_ISREG(st.st_mode) || !options.links) {
            out[prefix + n] = slurp(full);
        }
    }
}

}  // namespace

TempDir::TempDir(const std::string& tag) : host(make_temp(tag)) {}

TempDir::~TempDir() {
    if (keep) return;
    make_writable(host);
    platform::remove_tree(host);
}

std::string TempDir::win(const std::string& name) const {
    const std::string w = platform::windows_path(host);
    return name.empty() ? w : w + "\\" + name;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string shell_quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string noexec_mount_prefix(const std::filesystem::path& dir) {
    static const bool possible = shell("unshare -rm true >/dev/null 2>&1") == 0;
    if (!possible) return {};
    return "unshare -rm sh -c 'mount -t tmpfs -o noexec,mode=0700 none \"$0\" && exec \"$@\"' " +
           shell_quoted(dir) + " ";
}

long error_of(const std::function<void()>& statement) {
    try {
        statement();
    } catch (const platform::Error& e) {
        return e.number;
    }
    return 0;
}

std::string test_component(const std::string& name) {
    return std::string(VELTRIN_BINARY_DIR) + "/lib/libveltrin_testcomp_" + name + ".so";
}

bool is_loaded(const std::string& host) {
    void* h = ::dlopen(host.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) ::dlclose(h);
    return h != nullptr;
}

std::map<std::string, std::string> tree_listing(const std::string& dir, TreeOptions options) {
    std::map<std::string, std::string> out;
    walk(dir, "", options, out);
    return out;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* v = std::getenv(name_.c_str())) old_ = v;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

std::string system_data_env(const std::filesystem::path& root) {
    return " XDG_DATA_DIRS=" + shell_quoted(root / "system") + ":/usr/share ";
}

std::filesystem::path menu_folder(const std::filesystem::path& root) {
    return ::geteuid() == 0 ? root / "system/applications"
                            : root / "home/.local/share/applications";
}

}  // namespace testsupport

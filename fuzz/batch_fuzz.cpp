// The batch interpreter on any batch, run in a sandbox: box/ (the current folder, holding files,
// a read-only file, a folder and a link to outside/) and outside/ beside it. Every deletion
// passes through the wrappers below: one outside box/ is never carried out, and it aborts the
// run unless the batch itself names a path that could leave box/ (a drive, a root, "..").
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_util.h"
#include "platform/batch.h"
#include "platform/paths.h"

extern "C" {
int __real_unlink(const char* path);
int __real_rmdir(const char* path);
int __real_unlinkat(int dir, const char* path, int flags);
int __real_rename(const char* from, const char* to);
}

namespace {

std::string box, outside, home;  // home: where libFuzzer was started
bool may_leave = false;          // the batch names something outside box/ itself

// The path with its folder resolved (the last component stays: unlink removes a link itself).
std::string resolved(int dir, const char* path) {
    std::string p = path;
    if (p.empty() || p[0] != '/') {
        char cwd[PATH_MAX];
        if (dir != AT_FDCWD) {
            const std::string link = "/proc/self/fd/" + std::to_string(dir);
            const ssize_t n = ::readlink(link.c_str(), cwd, sizeof cwd - 1);
            if (n < 0) std::abort();
            cwd[n] = 0;
        } else if (!::getcwd(cwd, sizeof cwd)) {
            return "";
        }
        p = std::string(cwd) + "/" + p;
    }
    const auto cut = p.find_last_of('/');
    std::string leaf = p.substr(cut + 1), parent = p.substr(0, cut);
    char real[PATH_MAX];
    if (!::realpath(parent.empty() ? "/" : parent.c_str(), real)) return "";
    if (leaf == "." || leaf == "..")
        return std::filesystem::path(real + ("/" + leaf)).lexically_normal();
    return std::string(real) + "/" + leaf;
}

bool allowed(int dir, const char* path) {
    const std::string r = resolved(dir, path);
    if (r.empty()) return true;  // nothing there: the call fails on its own
    if (r == box || r.rfind(box + "/", 0) == 0) return true;
    if (!may_leave) fuzz::broken("a deletion stays inside the folders the batch names", r);
    return false;
}

bool names_outside(std::string_view batch) {
    // The sandbox's links "link" and "sub\up" lead outside: a batch that names them (the lookup
    // ignores case) names what lies behind them, as a Windows batch would through a junction.
    std::string lower(batch);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("link") != std::string::npos || lower.find("up") != std::string::npos)
        return true;
    if (batch.find(':') != std::string_view::npos || batch.find("..") != std::string_view::npos ||
        batch.find('%') != std::string_view::npos)
        return true;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const char c = batch[i];
        if ((c == '\\' || c == '/') &&
            (i == 0 ||
             std::string_view(" \t\"\r\n=,;@").find(batch[i - 1]) != std::string_view::npos))
            return true;
    }
    return false;
}

void make_sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(box, ec);
    std::filesystem::create_directories(box + "/sub/deep", ec);
    std::filesystem::create_directories(outside + "/inner", ec);
    for (const char* f : {"a.txt", "b.dat", "sub/c.txt", "sub/deep/d.txt", "ro.txt"})
        fuzz::write_bytes(box + "/" + f, "x");
    ::chmod((box + "/ro.txt").c_str(), 0444);
    for (const char* f : {"keep.txt", "inner/keep.dat"}) fuzz::write_bytes(outside + "/" + f, "k");
    ::symlink(outside.c_str(), (box + "/link").c_str());
    ::symlink(outside.c_str(), (box + "/sub/up").c_str());
}

}  // namespace

extern "C" {
int __wrap_unlink(const char* path) {
    if (!allowed(AT_FDCWD, path)) return errno = EACCES, -1;
    return __real_unlink(path);
}
int __wrap_rmdir(const char* path) {
    if (!allowed(AT_FDCWD, path)) return errno = EACCES, -1;
    return __real_rmdir(path);
}
int __wrap_unlinkat(int dir, const char* path, int flags) {
    if (!allowed(dir, path)) return errno = EACCES, -1;
    return __real_unlinkat(dir, path, flags);
}
int __wrap_rename(const char* from, const char* to) {
    if (!allowed(AT_FDCWD, from) || !allowed(AT_FDCWD, to)) return errno = EACCES, -1;
    return __real_rename(from, to);
}
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    box = fuzz::scratch() + "/box";
    outside = fuzz::scratch() + "/outside";
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) std::abort();
    home = cwd;  // libFuzzer's corpus paths are relative to it
    // The home folder is the box's neighbour: the box's parent is then a system folder.
    ::setenv("HOME", (fuzz::scratch() + "/home").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view batch(reinterpret_cast<const char*>(data), size);
    may_leave = true;  // the harness's own cleaning
    make_sandbox();
    may_leave = names_outside(batch);
    if (::chdir(box.c_str()) != 0) std::abort();
    fuzz::write_bytes(box + "/job.bat", batch);
    platform::run_batch("job.bat");
    if (::chdir(home.c_str()) != 0) std::abort();
    // Whatever the batch did, outside/ is whole.
    for (const char* f : {"/keep.txt", "/inner/keep.dat"}) {
        if (!may_leave && !std::filesystem::exists(outside + f))
            fuzz::broken("nothing outside the box is deleted", f);
    }
    may_leave = true;
    return 0;
}

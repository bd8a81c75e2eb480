#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/program_container.h"
#include "platform/transcript.h"

extern char** environ;

namespace platform {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool ieq_suffix(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char a = s[s.size() - suffix.size() + i];
        char b = suffix[i];
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// True when the last path component carries an extension.
bool has_extension(std::string_view path) {
    size_t slash = path.find_last_of("\\/");
    size_t dot = path.rfind('.');
    return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

bool host_regular_file(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool windows_file_exists(const std::string& windows) {
    if (windows.empty()) return false;
    return host_regular_file(host_path(windows));
}

// ---- the table of processes this program knows -------------------------------------------

struct ProcessTable {
    std::mutex mutex;
    std::map<long, std::optional<unsigned long>> children;  // pid -> exit code once reaped
    std::map<Handle, long> handles;                         // handle -> pid
    Handle next_handle = 1;
};

ProcessTable& table() {
    static ProcessTable* t = new ProcessTable;
    return *t;
}

unsigned long status_to_code(int status) {
    if (WIFEXITED(status)) return static_cast<unsigned long>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128ul + static_cast<unsigned long>(WTERMSIG(status));
    return 0;
}

// Reaps a child of ours without blocking; the exit code once it ended.
std::optional<unsigned long> poll_child_locked(ProcessTable& t, long pid) {
    auto& entry = t.children[pid];
    if (entry) return entry;
    int status = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    if (r == pid) {
        entry = status_to_code(status);
    } else if (r < 0 && errno == ECHILD) {
        entry = 0ul;  // reaped elsewhere: it has ended, its code is gone
    }
    return entry;
}

// A process that is not our child: alive as long as it exists and is no zombie.
bool foreign_alive(long pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    std::FILE* f = std::fopen(path, "re");
    if (!f) return true;
    char buf[512] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const char* close_paren = std::strrchr(buf, ')');
    if (n && close_paren && close_paren[1] == ' ' && close_paren[2] == 'Z') return false;
    return true;
}

// ---- starting --------------------------------------------------------------------------

std::function<bool(const std::string&)>& document_opener() {
    static std::function<bool(const std::string&)> f;
    return f;
}

std::function<void()>& do_events_hook() {
    static std::function<void()> f;
    return f;
}

std::function<void(int)>& end_hook() {
    static std::function<void(int)> f;
    return f;
}

bool read_head(const std::string& host, char* head, size_t size, size_t& got) {
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = ::read(fd, head, size);
    ::close(fd);
    got = n > 0 ? static_cast<size_t>(n) : 0;
    return n >= 0;
}

bool is_host_executable_head(const char* head, size_t n) {
    return (n >= 4 && std::memcmp(head,
                                  "\x7f"
                                  "ELF",
                                  4) == 0) ||
           (n >= 2 && head[0] == '#' && head[1] == '!');
}

// How a file starts and, for a container, where its payload begins: after the sh head that
// mkpackage writes, or (containers made before that head existed) right after "MZ".
ProgramKind program_kind_at(const std::string& host, off_t& offset) {
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return ProgramKind::NotFound;
    if (!S_ISREG(st.st_mode)) return ProgramKind::NotProgram;
    char head[kContainerHeadSize + 4];
    size_t n = 0;
    if (!read_head(host, head, sizeof head, n)) return ProgramKind::NotProgram;
    if (is_host_executable_head(head, n)) {
        // A script needs its run bit; its interpreter would not read it otherwise.
        if (head[0] == '#' && ::access(host.c_str(), X_OK) != 0) return ProgramKind::NotProgram;
        return ProgramKind::Host;
    }
    if (n < 2 || head[0] != 'M' || head[1] != 'Z') return ProgramKind::NotProgram;
    const std::string_view mark = kContainerMarkLine;
    if (n > kContainerHeadSize && std::string_view(head, n).substr(0, mark.size()) == mark &&
        head[mark.size()] == '\n' &&
        is_host_executable_head(head + kContainerHeadSize, n - kContainerHeadSize)) {
        offset = static_cast<off_t>(kContainerHeadSize);
        return ProgramKind::Container;
    }
    if (is_host_executable_head(head + 2, n - 2)) {
        offset = 2;
        return ProgramKind::Container;
    }
    return ProgramKind::NotProgram;
}

// Copies the container's payload into an anonymous in-memory file that can be executed.
int copy_payload(const std::string& host, off_t offset) {
    int in = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return -1;
    int out = ::memfd_create("veltrin-program", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (out < 0) {
        ::close(in);
        return -1;
    }
    bool ok = ::lseek(in, offset, SEEK_SET) == offset;
    char buf[65536];
    while (ok) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
    }
    ::close(in);
    // Sealed, the copy cannot change under a later start that reuses it.
    if (ok)
        ok = ::fcntl(out, F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) ==
             0;
    if (!ok) {
        ::close(out);
        return -1;
    }
    return out;
}

// In-memory copies of payloads, kept for the life of the process: the installer starts the
// same extractor once per file, and copying megabytes for every start would cost more than
// the extraction. A copy is reused only while the file is unchanged (the installer flips the
// container's first byte between runs, which changes its times).
struct PayloadCopy {
    dev_t dev;
    ino_t ino;
    off_t size;
    off_t offset;
    timespec mtime;
    timespec ctime;
    int fd;
    bool script;
};

std::mutex g_payload_mutex;
std::vector<PayloadCopy> g_payloads;

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A new descriptor of the payload's in-memory copy (close-on-exec; the caller closes it), or -1.
// `script` tells whether the payload starts with "#!".
int payload_fd(const std::string& host, off_t offset, bool& script) {
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) return -1;
    std::lock_guard lock(g_payload_mutex);
    for (auto it = g_payloads.begin(); it != g_payloads.end(); ++it) {
        if (it->dev != st.st_dev || it->ino != st.st_ino || it->offset != offset) continue;
        if (it->size == st.st_size && same_time(it->mtime, st.st_mtim) &&
            same_time(it->ctime, st.st_ctim)) {
            script = it->script;
            return ::fcntl(it->fd, F_DUPFD_CLOEXEC, 0);
        }
        ::close(it->fd);  // the file changed: its old copy is of no further use
        g_payloads.erase(it);
        break;
    }
    int fd = copy_payload(host, offset);
    if (fd < 0) return -1;
    char head[2] = {};
    script = ::pread(fd, head, 2, 0) == 2 && head[0] == '#' && head[1] == '!';
    if (g_payloads.size() >= 8) {  // a handful of programs at most; drop the oldest
        ::close(g_payloads.front().fd);
        g_payloads.erase(g_payloads.begin());
    }
    g_payloads.push_back(
        {st.st_dev, st.st_ino, st.st_size, offset, st.st_mtim, st.st_ctim, fd, script});
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// The environment of a started program. The scripted user's script and transcript belong to
// this program: a started program of ours would otherwise follow the same script and truncate
// the transcript. VELTRIN_CHILD_USER_SCRIPT / VELTRIN_CHILD_TRANSCRIPT, when set, become the
// started program's own.
std::vector<std::string> child_environment() {
    std::vector<std::string> env;
    std::string child_script, child_transcript;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        auto is = [&](std::string_view name) {
            return entry.size() > name.size() && entry.substr(0, name.size()) == name &&
                   entry[name.size()] == '=';
        };
        if (is("VELTRIN_CHILD_USER_SCRIPT"))
            child_script = std::string(entry.substr(entry.find('=') + 1));
        else if (is("VELTRIN_CHILD_TRANSCRIPT"))
            child_transcript = std::string(entry.substr(entry.find('=') + 1));
        else if (!is("VELTRIN_USER_SCRIPT") && !is("VELTRIN_TRANSCRIPT") && !is(kContainerVariable))
            env.emplace_back(entry);
    }
    if (!child_script.empty()) env.push_back("VELTRIN_USER_SCRIPT=" + child_script);
    if (!child_transcript.empty()) env.push_back("VELTRIN_TRANSCRIPT=" + child_transcript);
    return env;
}

// Starts the program; returns the pid or -1 with errno set when the program did not start.
// posix_spawn does not copy this (possibly large) process the way fork does.
long spawn(const std::string& host_program, ProgramKind kind, off_t payload_offset,
           const std::vector<std::string>& args, const std::string& host_cwd) {
    int exec_fd = -1;
    bool script = false;
    if (kind == ProgramKind::Container) {
        exec_fd = payload_fd(host_program, payload_offset, script);
        if (exec_fd < 0) return -1;
    } else if (kind == ProgramKind::Host && ::access(host_program.c_str(), X_OK) != 0) {
        // An executable without its run bit (a copy that lost it) still is a program; the
        // in-memory copy carries the bit.
        exec_fd = payload_fd(host_program, 0, script);
        if (exec_fd < 0) return -1;
    }
    std::vector<std::string> argv_store;
    argv_store.push_back(host_program);
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_store = child_environment();
    std::vector<char*> envp;
    for (auto& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (int e = ::posix_spawn_file_actions_init(&actions); e != 0) {
        errno = e;
        return -1;
    }
    int e = 0;
    if (!host_cwd.empty()) e = ::posix_spawn_file_actions_addchdir_np(&actions, host_cwd.c_str());
    // The in-memory copy is executed through its /proc name. A "#!" payload is read again by
    // its interpreter under that name, so its descriptor must stay open across exec (a dup2
    // onto itself clears close-on-exec in the started program only).
    std::string exec_path = host_program;
    if (exec_fd >= 0) {
        exec_path = "/proc/self/fd/" + std::to_string(exec_fd);
        if (script && e == 0) e = ::posix_spawn_file_actions_adddup2(&actions, exec_fd, exec_fd);
    }
    pid_t pid = -1;
    if (e == 0)
        e = ::posix_spawn(&pid, exec_path.c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (exec_fd >= 0) ::close(exec_fd);
    if (e != 0) {
        errno = e;
        return -1;
    }
    ProcessTable& t = table();
    std::lock_guard lock(t.mutex);
    t.children[pid] = std::nullopt;
    return pid;
}

long start_program(const std::string& windows_program, const std::string& arguments,
                   const std::string& host_cwd) {
    std::string host = host_path(windows_program);
    off_t offset = 0;
    ProgramKind kind = program_kind_at(host, offset);
    if (kind == ProgramKind::NotFound) throw Error(53, "File not found");
    if (kind == ProgramKind::NotProgram) throw Error(5, "Invalid procedure call or argument");
    long pid = spawn(host, kind, offset, split_arguments(arguments), host_cwd);
    if (pid < 0) {
        if (errno == ENOENT) throw Error(53, "File not found");
        throw Error(5, "Invalid procedure call or argument");
    }
    transcript_start(windows_program, arguments);
    return pid;
}

// Starts a document viewer without keeping a child: the intermediate process exits at once.
bool xdg_open(const std::string& host) {
    pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
            }
            const char* argv[] = {"xdg-open", host.c_str(), nullptr};
            ::execvp("xdg-open", const_cast<char**>(argv));
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

CommandLine parse_command_line(std::string_view line,
                               const std::function<bool(const std::string&)>& file_exists) {
    auto exists = file_exists ? file_exists : windows_file_exists;
    size_t start = 0;
    while (start < line.size() && is_blank(line[start])) ++start;
    line.remove_prefix(start);
    CommandLine cl;
    auto rest_after = [&](size_t pos) {
        while (pos < line.size() && is_blank(line[pos])) ++pos;
        return std::string(line.substr(std::min(pos, line.size())));
    };
    auto try_name = [&](std::string name) -> std::optional<std::string> {
        if (name.empty()) return std::nullopt;
        if (exists(name)) return name;
        if (!has_extension(name) && exists(name + ".exe")) return name + ".exe";
        return std::nullopt;
    };
    if (!line.empty() && line[0] == '"') {
        size_t close = line.find('"', 1);
        std::string name(
            line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
        cl.arguments = close == std::string_view::npos ? std::string() : rest_after(close + 1);
        if (auto found = try_name(name)) {
            cl.program = *found;
            cl.found = true;
        } else {
            cl.program = name;
        }
        return cl;
    }
    // Unquoted: the shortest prefix ending at a blank (or the end) that names a file.
    for (size_t pos = 0; pos <= line.size(); ++pos) {
        if (pos < line.size() && !is_blank(line[pos])) continue;
        if (pos > 0 && is_blank(line[pos - 1])) continue;  // runs of blanks: first one only
        if (auto found = try_name(std::string(line.substr(0, pos)))) {
            cl.program = *found;
            cl.arguments = rest_after(pos);
            cl.found = true;
            return cl;
        }
    }
    size_t first = 0;
    while (first < line.size() && !is_blank(line[first])) ++first;
    cl.program = std::string(line.substr(0, first));
    cl.arguments = rest_after(first);
    return cl;
}

std::vector<std::string> split_arguments(std::string_view s) {
    std::vector<std::string> out;
    std::string current;
    bool in_arg = false;
    bool in_quotes = false;
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (!in_quotes && is_blank(c)) {
            if (in_arg) out.push_back(std::move(current));
            current.clear();
            in_arg = false;
            ++i;
            continue;
        }
        in_arg = true;
        if (c == '\\') {
            size_t n = 0;
            while (i < s.size() && s[i] == '\\') ++n, ++i;
            if (i < s.size() && s[i] == '"') {
                current.append(n / 2, '\\');
                if (n % 2) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(n, '\\');
            }
            continue;
        }
        if (c == '"') {
            if (in_quotes && i + 1 < s.size() && s[i + 1] == '"') {
                current += '"';  // "" inside quotes: a literal quote
                i += 2;
                continue;
            }
            in_quotes = !in_quotes;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (in_arg) out.push_back(std::move(current));
    return out;
}

ProgramKind program_kind(const std::string& host) {
    off_t offset = 0;
    return program_kind_at(host, offset);
}

long Shell(std::string_view command_line, long /*window_style*/) {
    CommandLine cl = parse_command_line(command_line);
    if (!cl.found) throw Error(53, "File not found");
    return start_program(cl.program, cl.arguments, {});
}

Handle OpenProcess(unsigned long /*desired_access*/, bool /*inherit_handle*/, long pid) {
    if (pid <= 0) return 0;
    ProcessTable& t = table();
    std::lock_guard lock(t.mutex);
    bool known = t.children.count(pid) > 0;
    if (!known && !foreign_alive(pid)) return 0;
    Handle h = t.next_handle++;
    t.handles[h] = pid;
    return h;
}

bool GetExitCodeProcess(Handle process, unsigned long& exit_code) {
    ProcessTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.handles.find(process);
    if (it == t.handles.end()) return false;
    long pid = it->second;
    if (t.children.count(pid)) {
        auto code = poll_child_locked(t, pid);
        exit_code = code ? *code : STILL_ACTIVE;
    } else {
        exit_code = foreign_alive(pid) ? STILL_ACTIVE : 0;
    }
    return true;
}

unsigned long WaitForSingleObject(Handle process, unsigned long milliseconds) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(milliseconds);
    long pid;
    bool child;
    {
        ProcessTable& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.handles.find(process);
        if (it == t.handles.end()) return WAIT_FAILED;
        pid = it->second;
        child = t.children.count(pid) > 0;
    }
    if (child && milliseconds == INFINITE) {
        {
            ProcessTable& t = table();
            std::lock_guard lock(t.mutex);
            if (t.children[pid]) return WAIT_OBJECT_0;
        }
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(static_cast<pid_t>(pid), &status, 0);
        } while (r < 0 && errno == EINTR);
        ProcessTable& t = table();
        std::lock_guard lock(t.mutex);
        if (!t.children[pid]) t.children[pid] = r == pid ? status_to_code(status) : 0ul;
        return WAIT_OBJECT_0;
    }
    for (;;) {
        unsigned long code = 0;
        if (!GetExitCodeProcess(process, code)) return WAIT_FAILED;
        if (code != STILL_ACTIVE) return WAIT_OBJECT_0;
        if (milliseconds != INFINITE && clock::now() >= deadline) return WAIT_TIMEOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool CloseHandle(Handle handle) {
    ProcessTable& t = table();
    std::lock_guard lock(t.mutex);
    return t.handles.erase(handle) > 0;
}

void Sleep(unsigned long milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void DoEvents() {
    if (auto& hook = do_events_hook()) hook();
}

void set_do_events_hook(std::function<void()> hook) {
    do_events_hook() = std::move(hook);
}

long ShellExecuteA(long /*hwnd*/, std::string_view operation, std::string_view file,
                   std::string_view parameters, std::string_view directory, long /*show*/) {
    constexpr long ok = 42, file_not_found = 2, no_association = 31;
    if (!operation.empty() && !(operation.size() == 4 && ieq_suffix(operation, "open")))
        return no_association;
    std::string windows_file(file);
    bool url =
        windows_file.find("://") != std::string::npos || windows_file.rfind("mailto:", 0) == 0;
    std::string host = url ? windows_file : host_path(windows_file);
    if (!url) {
        ProgramKind kind = program_kind(host);
        if (kind == ProgramKind::NotFound) {
            struct stat st;
            if (::stat(host.c_str(), &st) != 0) return file_not_found;
        }
        if (kind == ProgramKind::Host || kind == ProgramKind::Container) {
            std::string cwd = directory.empty() ? std::string() : host_path(directory);
            try {
                start_program(windows_file, std::string(parameters), cwd);
            } catch (const Error& e) {
                return e.number == 53 ? file_not_found : no_association;
            }
            return ok;
        }
    }
    bool opened;
    if (auto& opener = document_opener())
        opened = opener(host);
    else if (scripted_run())
        opened = true;  // a scripted run records the document instead of opening a viewer
    else
        opened = xdg_open(host);
    if (!opened) return no_association;
    transcript_start(windows_file, parameters);
    return ok;
}

void set_document_opener(std::function<bool(const std::string&)> opener) {
    document_opener() = std::move(opener);
}

void end_program(int status) {
    if (auto& hook = end_hook()) {
        hook(status);
        return;
    }
    std::fflush(nullptr);
    std::exit(status);
}

void set_end_program_hook(std::function<void(int)> hook) {
    end_hook() = std::move(hook);
}

}  // namespace platform

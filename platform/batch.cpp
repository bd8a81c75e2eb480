#include "platform/batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "platform/codepage.h"
#include "platform/file_toolkit.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell_file_op.h"
#include "platform/transcript.h"

extern char** environ;

namespace platform {
namespace {

// Names of the two variables through which start_batch hands the job to the interpreter
// process: the batch's Windows path and the descriptor that stays open while the caller runs.
constexpr const char* kBatchVar = "VELTRIN_BATCH_FILE";
constexpr const char* kWaitVar = "VELTRIN_BATCH_WAIT_FD";

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string trim_left(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && is_blank(s[i])) ++i;
    return std::string(s.substr(i));
}

// The interpreter's tokens: blanks separate, double quotes group and are dropped. A backslash
// is an ordinary character here (unlike the C runtime's argument rules), so "C:\x\" is the
// folder C:\x\ and not an escaped quote.
struct Token {
    std::string text;
    bool quoted = false;
};

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && is_blank(s[i])) ++i;
        if (i >= s.size()) break;
        Token t;
        bool in_quotes = false;
        while (i < s.size() && (in_quotes || !is_blank(s[i]))) {
            if (s[i] == '"') {
                in_quotes = !in_quotes;
                t.quoted = true;
            } else {
                t.text += s[i];
            }
            ++i;
        }
        out.push_back(std::move(t));
    }
    return out;
}

struct Arguments {
    std::string switches;  // lower-case switch letters, e.g. "sq"
    std::vector<std::string> names;
};

Arguments parse_arguments(std::string_view rest) {
    Arguments a;
    for (const auto& t : tokenize(rest)) {
        if (!t.quoted && !t.text.empty() && t.text[0] == '/') {
            for (char c : t.text) {
                if (c != '/')
                    a.switches += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        } else if (!t.text.empty()) {
            a.names.push_back(t.text);
        }
    }
    return a;
}

bool has_switch(const Arguments& a, char c) {
    return a.switches.find(c) != std::string::npos;
}

bool name_matches(const std::string& pattern, const std::string& name) {
    return wildcard_name_matches(pattern, name);
}

std::string join_host(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool is_read_only(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// Removes a whole tree without following links. True when everything went.
class Interpreter {
  public:
    explicit Interpreter(BatchReport& report) : report_(report) {}

    void run(const std::vector<std::string>& lines) {
        // Without "if" nothing can leave a backward goto: such a loop would never end, so the
        // batch stops after this many jumps.
        constexpr int kMaxJumps = 1000;
        int jumps = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            BatchReport::Line line;
            line.number = static_cast<int>(i) + 1;
            line.text = lines[i];
            jump_.reset();
            execute(lines[i], line);
            if (!line.message.empty()) std::cerr << line.message << '\n';
            report_.lines.push_back(std::move(line));
            if (stop_) break;
            if (jump_ && ++jumps > kMaxJumps) {
                report_.lines.back().message =
                    "Endlosschleife - die Stapelverarbeitung wurde nach " +
                    std::to_string(kMaxJumps) + " Sprüngen beendet.";
                std::cerr << report_.lines.back().message << '\n';
                break;
            }
            if (jump_) {
                const auto target = find_label(lines, *jump_);
                if (!target) {
                    report_.lines.back().message =
                        "Die Sprungmarke wurde nicht gefunden - " + *jump_;
                    std::cerr << report_.lines.back().message << '\n';
                    break;
                }
                i = *target;  // the loop continues after the label line
            }
        }
    }

  private:
    static std::optional<std::size_t> find_label(const std::vector<std::string>& lines,
                                                 const std::string& label) {
        if (lower(label) == "eof") return lines.size();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string l = trim_left(lines[i]);
            if (l.size() < 2 || l[0] != ':') continue;
            l = l.substr(1);
            const auto end = l.find_first_of(" \t");
            if (lower(l.substr(0, end)) == lower(label)) return i;
        }
        return std::nullopt;
    }

    void execute(std::string_view raw, BatchReport::Line& line) {
        std::string s = trim_left(raw);
        if (!s.empty() && s[0] == '@') s = trim_left(std::string_view(s).substr(1));
        if (s.empty() || s[0] == ':') return;  // blank line or label
        std::size_t end = 0;
        while (end < s.size() && !is_blank(s[end]) && s[end] != '/' && s[end] != '"' &&
               !(end > 0 && s[end] == '.'))
            ++end;
        const std::string word = lower(s.substr(0, end));
        const std::string rest = s.substr(end);
        if (word == "rem") return;
        if (word == "echo") {
            echo(rest);
        } else if (word == "del" || word == "erase") {
            del(parse_arguments(rest), line);
        } else if (word == "rd" || word == "rmdir") {
            rd(parse_arguments(rest), line);
        } else if (word == "goto") {
            std::string label = trim_left(rest);
            if (!label.empty() && label[0] == ':') label.erase(0, 1);
            label = label.substr(0, label.find_first_of(" \t"));
            jump_ = label;
        } else if (word == "exit") {
            stop_ = true;
        } else {
            line.unknown = true;
            line.message = "Der Befehl \"" + s.substr(0, s.find_first_of(" \t")) +
                           "\" ist entweder falsch geschrieben oder konnte nicht gefunden werden.";
        }
    }

    static void echo(const std::string& rest) {
        const std::string t = trim_left(rest);
        if (lower(t) == "off" || lower(t) == "on") return;
        std::cout << (rest.empty() || rest[0] == '.' ? rest.substr(rest.empty() ? 0 : 1) : t)
                  << '\n';
    }

    void del(const Arguments& a, BatchReport::Line& line) {
        if (a.names.empty()) {
            add(line,
                "Die Syntax für den Dateinamen, Verzeichnisnamen oder die "
                "Datenträgerbezeichnung ist falsch.");
            return;
        }
        for (const auto& name : a.names) {
            std::string folder_win, pattern;
            const auto cut = name.find_last_of("\\/");
            const std::string last = cut == std::string::npos ? name : name.substr(cut + 1);
            if (last.find_first_of("*?") != std::string::npos) {
                folder_win = cut == std::string::npos ? "." : name.substr(0, cut + 1);
                pattern = last;
            } else {
                const std::string h = host_path(name);
                struct stat st;
                if (!h.empty() && ::stat(h.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                    folder_win = name;
                    pattern = "*";
                }
            }
            int deleted = 0;
            bool refused = false;
            if (pattern.empty()) {
                const std::string h = host_path(name);
                delete_file(h, name, has_switch(a, 'f'), line, deleted, refused);
            } else {
                // Like rd /s: a recursive deletion never starts at a system folder.
                if (has_switch(a, 's') && is_system_folder(folder_win)) {
                    add(line, "Zugriff verweigert - " + shown_path(name));
                    continue;
                }
                const std::string folder = host_path(folder_win);
                if (!folder.empty()) {
                    delete_matching(folder, pattern, has_switch(a, 's'), has_switch(a, 'f'), line,
                                    deleted, refused);
                }
            }
            if (deleted == 0 && !refused) add(line, "Datei nicht gefunden - " + shown_path(name));
        }
    }

    void delete_file(const std::string& host, const std::string& shown, bool force,
                     BatchReport::Line& line, int& deleted, bool& refused) {
        struct stat st;
        if (host.empty() || ::lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
        if (is_read_only(st) && !force) {
            add(line, "Zugriff verweigert - " + shown_path(shown));
            refused = true;
            return;
        }
        if (::unlink(host.c_str()) == 0) {
            ++deleted;
        } else {
            add(line, "Zugriff verweigert - " + shown_path(shown));
            refused = true;
        }
    }

    void delete_matching(const std::string& folder, const std::string& pattern, bool recurse,
                         bool force, BatchReport::Line& line, int& deleted, bool& refused) {
        DIR* d = ::opendir(folder.c_str());
        if (!d) return;
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
        for (const auto& n : names) {
            const std::string h = join_host(folder, n);
            struct stat st;
            if (::lstat(h.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                if (recurse) delete_matching(h, pattern, true, force, line, deleted, refused);
            } else if (name_matches(pattern, n)) {
                delete_file(h, h, force, line, deleted, refused);
            }
        }
    }

    void rd(const Arguments& a, BatchReport::Line& line) {
        if (a.names.empty()) {
            add(line,
                "Die Syntax für den Dateinamen, Verzeichnisnamen oder die "
                "Datenträgerbezeichnung ist falsch.");
            return;
        }
        for (std::string name : a.names) {
            while (name.size() > 1 && (name.back() == '\\' || name.back() == '/') &&
                   !(name.size() == 3 && name[1] == ':'))
                name.pop_back();
            if (is_system_folder(name)) {
                add(line, "Zugriff verweigert - " + shown_path(name));
                continue;
            }
            const std::string h = host_path(name);
            struct stat st;
            if (h.empty() || ::lstat(h.c_str(), &st) != 0) {
                add(line,
                    "Das System kann die angegebene Datei nicht finden. - " + shown_path(name));
                continue;
            }
            if (!S_ISDIR(st.st_mode)) {
                add(line, "Der Verzeichnisname ist ungültig. - " + shown_path(name));
                continue;
            }
            if (has_switch(a, 's')) {
                if (!remove_tree(h)) add(line, "Zugriff verweigert - " + shown_path(name));
            } else if (::rmdir(h.c_str()) != 0) {
                add(line, errno == ENOTEMPTY || errno == EEXIST
                              ? "Das Verzeichnis ist nicht leer. - " + shown_path(name)
                              : "Zugriff verweigert - " + shown_path(name));
            }
        }
    }

    static void add(BatchReport::Line& line, const std::string& message) {
        if (!line.message.empty()) line.message += '\n';
        line.message += message;
    }

    BatchReport& report_;
    std::optional<std::string> jump_;
    bool stop_ = false;
};

// Lines of the batch: CR LF, a lone LF or a lone CR end a line; a Ctrl-Z ends the text.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    const std::size_t n = std::min(text.size(), text.find('\x1a'));
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

}  // namespace

BatchReport run_batch(std::string_view batch_windows_path) {
    BatchReport report;
    const std::string host = host_path(batch_windows_path);
    std::ifstream in(host, std::ios::binary);
    if (host.empty() || !in) return report;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    report.file_found = true;
    // The whole file is read before the first line runs, so a batch that deletes itself
    // still carries out the lines that follow.
    Interpreter(report).run(split_lines(cp1252_to_utf8(bytes.str())));
    return report;
}

int start_batch(std::string_view batch_windows_path, int window_style) {
    (void)window_style;  // the interpreter opens no window here
    const std::string path(batch_windows_path);
    transcript_start(path, "");
    const std::string host = host_path(path);
    struct stat st;
    if (host.empty() || ::stat(host.c_str(), &st) != 0) return 0;

    // Everything the children need is prepared before fork: only async-signal-safe calls
    // follow it in a process that may have several threads.
    int alive[2];   // the caller keeps the write end until it ends
    int report[2];  // the middle child sends the interpreter's pid
    if (::pipe2(alive, O_CLOEXEC) != 0) return 0;
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(alive[0]);
        ::close(alive[1]);
        return 0;
    }
    constexpr int kWaitFd = 200;
    std::vector<std::string> env_store;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind(std::string(kBatchVar) + "=", 0) == 0 ||
            v.rfind(std::string(kWaitVar) + "=", 0) == 0)
            continue;
        env_store.push_back(v);
    }
    env_store.push_back(std::string(kBatchVar) + "=" + path);
    env_store.push_back(std::string(kWaitVar) + "=" + std::to_string(kWaitFd));
    std::vector<char*> envp;
    for (auto& v : env_store) envp.push_back(v.data());
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char arg0[] = "batch";
    char* argv[] = {arg0, nullptr};

    const pid_t middle = ::fork();
    if (middle < 0) {
        for (int fd : {alive[0], alive[1], report[0], report[1]}) ::close(fd);
        return 0;
    }
    if (middle == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            // Detached: no terminal input, the folder of nothing in particular.
            const int null_fd = ::open("/dev/null", O_RDONLY);
            if (null_fd >= 0) {
                ::dup2(null_fd, 0);
                if (null_fd != 0) ::close(null_fd);
            }
            if (::chdir("/") != 0) {
            }
            ::dup2(alive[0], kWaitFd);
            ::fcntl(kWaitFd, F_SETFD, 0);  // the copy must survive the exec
            ::execve(self, argv, envp.data());
            ::_exit(127);
        }
        const long pid = grandchild;
        (void)!::write(report[1], &pid, sizeof pid);
        ::_exit(0);
    }
    ::close(alive[0]);
    ::close(report[1]);
    long pid = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &pid, sizeof pid);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // alive[1] stays open on purpose until this process ends: its closing is the signal.
    return n == static_cast<ssize_t>(sizeof pid) && pid > 0 ? static_cast<int>(pid) : 0;
}

int batch_child_main() {
    const char* batch = std::getenv(kBatchVar);
    if (!batch) return -1;
    const std::string path = batch;
    const char* fd_text = std::getenv(kWaitVar);
    const int fd = fd_text ? std::atoi(fd_text) : -1;
    ::unsetenv(kBatchVar);
    ::unsetenv(kWaitVar);
    if (fd >= 0) {
        // End of file arrives when the starting process has ended (its end is closed then).
        char buf[64];
        ssize_t n;
        do {
            n = ::read(fd, buf, sizeof buf);
        } while (n > 0 || (n < 0 && errno == EINTR));
        ::close(fd);
    }
    run_batch(path);
    return 0;
}

}  // namespace platform

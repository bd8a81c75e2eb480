#include "platform/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/codepage.h"
#include "platform/name_index.h"
#include "platform/program_container.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::function<std::string()> g_mount_source;
std::function<bool(const std::string&)> g_removable_probe;
std::string g_app_path;

std::string read_text_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool default_removable(const std::string& device) {
    if (device.rfind("/dev/", 0) != 0) return false;
    char real[PATH_MAX];
    if (!realpath(device.c_str(), real)) return false;
    std::string name = real;
    name = name.substr(name.rfind('/') + 1);
    const std::string flag = "/sys/class/block/" + name + "/removable";
    if (access(flag.c_str(), R_OK) == 0) return first_line(flag) == "1";
    // A partition: the flag sits on its disk, the folder above it in sysfs.
    char sys[PATH_MAX];
    const std::string link = "/sys/class/block/" + name;
    if (!realpath(link.c_str(), sys)) return false;
    return first_line(std::string(sys) + "/../removable") == "1";
}

std::string decode_mount_field(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool is_network_fs(const std::string& t) {
    return t == "nfs" || t == "nfs4" || t == "cifs" || t == "smb3" || t == "smbfs" ||
           t == "sshfs" || t == "fuse.sshfs";
}

bool is_gvfs(const std::string& t) {
    return t == "fuse.gvfsd-fuse" || t == "fuse.gvfs-fuse-daemon";
}

unsigned int classify(const MountEntry& m, const std::function<bool(const std::string&)>& probe) {
    const std::string& t = m.fs_type;
    if (t == "iso9660" || t == "udf") return DRIVE_CDROM;
    if (t == "tmpfs" || t == "ramfs") return DRIVE_RAMDISK;
    if (is_network_fs(t) || is_gvfs(t)) return DRIVE_REMOTE;
    if (m.device.rfind("/dev/", 0) == 0 && probe && probe(m.device)) return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

// The mounts that are visible: for a mount point mounted more than once the last one counts,
// at the position of that last mount.
std::vector<MountEntry> effective_mounts(const std::vector<MountEntry>& all) {
    std::vector<MountEntry> out;
    for (const auto& m : all) {
        out.erase(
            std::remove_if(out.begin(), out.end(),
                           [&](const MountEntry& e) { return e.mount_point == m.mount_point; }),
            out.end());
        out.push_back(m);
    }
    return out;
}

// The system's mount table, parsed once per change. Path mapping asks for it several times per
// call; the kernel marks an open /proc/self/mounts with a priority event whenever anything is
// mounted or unmounted, so an unchanged table is never read again.
struct MountCache {
    int fd = -1;
    bool valid = false;
    std::vector<MountEntry> all;
    std::vector<MountEntry> effective;
    std::map<std::string, bool> removable;  // by device, for the default probe
};
std::mutex g_cache_mutex;
MountCache g_cache;

std::string read_fd_from_start(int fd) {
    std::string text;
    if (::lseek(fd, 0, SEEK_SET) != 0) return text;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

// Call with g_cache_mutex held.
void refresh_mount_cache() {
    if (g_cache.fd < 0) g_cache.fd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (g_cache.fd < 0) {  // no /proc: read the file each time
        g_cache.all = parse_mount_table(read_text_file("/proc/self/mounts"));
        g_cache.effective = effective_mounts(g_cache.all);
        g_cache.removable.clear();
        return;
    }
    pollfd p{g_cache.fd, POLLPRI, 0};
    const bool changed = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0;
    if (g_cache.valid && !changed) return;
    g_cache.all = parse_mount_table(read_fd_from_start(g_cache.fd));
    g_cache.effective = effective_mounts(g_cache.all);
    g_cache.removable.clear();
    g_cache.valid = true;
}

std::function<std::string()> mount_source() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_mount_source;
}

// The visible mounts (see effective_mounts) of the current table.
std::vector<MountEntry> visible_mounts() {
    if (auto source = mount_source()) return effective_mounts(parse_mount_table(source()));
    std::lock_guard<std::mutex> lock(g_cache_mutex);
    refresh_mount_cache();
    return g_cache.effective;
}

bool cached_default_removable(const std::string& device) {
    {
        std::lock_guard<std::mutex> lock(g_cache_mutex);
        auto it = g_cache.removable.find(device);
        if (it != g_cache.removable.end()) return it->second;
    }
    const bool removable = default_removable(device);
    std::lock_guard<std::mutex> lock(g_cache_mutex);
    g_cache.removable[device] = removable;
    return removable;
}

std::function<bool(const std::string&)> removable_probe() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_removable_probe) return g_removable_probe;
    return cached_default_removable;
}

std::vector<std::string> split_components(std::string_view s, bool backslash_too) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == '/' || (backslash_too && c == '\\')) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// Drops "." and resolves ".." lexically (never above the root).
std::vector<std::string> normalize(const std::vector<std::string>& comps) {
    std::vector<std::string> out;
    for (const auto& c : comps) {
        if (c == ".") continue;
        if (c == "..") {
            if (!out.empty()) out.pop_back();
            continue;
        }
        out.push_back(c);
    }
    return out;
}

std::string join_host(const std::string& base, const std::string& name) {
    if (base.empty() || base.back() == '/') return base + name;
    return base + "/" + name;
}

bool name_exists(const std::string& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

// base exists; the components below it are looked up exactly first, then without regard to
// case. From the first component that has no match on, the rest is kept as given.
std::string resolve_case(std::string base, const std::vector<std::string>& comps) {
    std::string whole = base;
    for (const auto& c : comps) whole = join_host(whole, c);
    if (name_exists(whole)) return whole;  // the common case: one look
    if (comps.size() > 1) {
        // A new file in an existing folder (the next common case): only its name is looked for.
        std::string parent = base;
        for (std::size_t i = 0; i + 1 < comps.size(); ++i) parent = join_host(parent, comps[i]);
        if (name_exists(parent)) {
            const std::string found = find_name_ignoring_case(parent, comps.back());
            return join_host(parent, found.empty() ? comps.back() : found);
        }
    }
    std::string cur = base;
    for (std::size_t i = 0; i < comps.size(); ++i) {
        const std::string exact = join_host(cur, comps[i]);
        if (name_exists(exact)) {
            cur = exact;
            continue;
        }
        const std::string found = find_name_ignoring_case(cur, comps[i]);
        if (found.empty()) {
            for (std::size_t k = i; k < comps.size(); ++k) cur = join_host(cur, comps[k]);
            return cur;
        }
        cur = join_host(cur, found);
    }
    return cur;
}

std::string host_cwd() {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return "/";
    return buf;
}

// The UNC components a network mount's device stands for: //srv/share/sub -> srv share sub,
// srv:/export/data -> srv export data, user@srv:/home/x -> srv home x.
std::vector<std::string> unc_of_device(const MountEntry& m) {
    std::vector<std::string> out;
    const std::string& d = m.device;
    if (d.rfind("//", 0) == 0 || d.rfind("\\\\", 0) == 0) {
        out = split_components(d, true);
    } else {
        const auto colon = d.find(':');
        if (colon == std::string::npos) return {};
        std::string server = d.substr(0, colon);
        const auto at = server.rfind('@');
        if (at != std::string::npos) server = server.substr(at + 1);
        if (server.empty()) return {};
        out.push_back(server);
        for (auto& c : split_components(d.substr(colon + 1), false)) out.push_back(c);
    }
    if (out.size() < 2) return {};
    return out;
}

// gvfs shows each share as a folder "smb-share:server=srv,share=data[,user=...]".
bool parse_gvfs_share(const std::string& name, std::string& server, std::string& share) {
    if (name.rfind("smb-share:", 0) != 0) return false;
    server.clear();
    share.clear();
    std::stringstream ss(name.substr(10));
    std::string kv;
    while (std::getline(ss, kv, ',')) {
        const auto eq = kv.find('=');
        if (eq == std::string::npos) continue;
        const std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
        if (k == "server") server = v;
        if (k == "share") share = v;
    }
    return !server.empty() && !share.empty();
}

bool starts_with_components(const std::vector<std::string>& path,
                            const std::vector<std::string>& prefix) {
    if (prefix.size() > path.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!equals_ignore_case(path[i], prefix[i])) return false;
    }
    return true;
}

// \\server\share\rest -> host path, or "" when no mounted share serves it.
std::string host_of_unc(const std::vector<std::string>& comps) {
    if (comps.size() < 2) return "";
    const auto mounts = visible_mounts();
    std::size_t best_len = 0;
    std::string best_base;
    for (const auto& m : mounts) {
        if (is_network_fs(m.fs_type)) {
            const auto unc = unc_of_device(m);
            if (!unc.empty() && unc.size() > best_len && starts_with_components(comps, unc)) {
                best_len = unc.size();
                best_base = m.mount_point;
            }
        } else if (is_gvfs(m.fs_type) && best_len < 2) {
            if (DIR* d = opendir(m.mount_point.c_str())) {
                while (dirent* e = readdir(d)) {
                    std::string server, share;
                    if (parse_gvfs_share(e->d_name, server, share) &&
                        equals_ignore_case(server, comps[0]) &&
                        equals_ignore_case(share, comps[1])) {
                        best_len = 2;
                        best_base = join_host(m.mount_point, e->d_name);
                        break;
                    }
                }
                closedir(d);
            }
        }
    }
    if (best_base.empty()) return "";
    const std::vector<std::string> rest(comps.begin() + best_len, comps.end());
    return resolve_case(best_base, normalize(rest));
}

std::string drive_root(char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (letter == 'C') return "/";
    for (const auto& d : drive_letters()) {
        if (d.letter == letter) return d.root;
    }
    return "";
}

bool host_has_prefix(const std::string& path, const std::string& root) {
    if (root == "/") return !path.empty() && path[0] == '/';
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
    return path.size() == root.size() || path[root.size()] == '/';
}

std::string to_backslashes(std::vector<std::string> comps) {
    std::string out;
    for (std::size_t i = 0; i < comps.size(); ++i) {
        if (i) out += '\\';
        out += comps[i];
    }
    return out;
}

}  // namespace

std::vector<MountEntry> parse_mount_table(std::string_view text) {
    std::vector<MountEntry> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        auto nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        const std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        std::vector<std::string> fields;
        std::string cur;
        for (char c : line) {
            if (c == ' ' || c == '\t' || c == '\r') {
                if (!cur.empty()) fields.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
        if (!cur.empty()) fields.push_back(cur);
        if (fields.size() < 3 || fields[0][0] == '#') continue;
        MountEntry m;
        m.device = decode_mount_field(fields[0]);
        m.mount_point = decode_mount_field(fields[1]);
        m.fs_type = fields[2];
        if (fields.size() > 3) m.options = fields[3];
        if (m.mount_point.empty() || m.mount_point[0] != '/') continue;
        while (m.mount_point.size() > 1 && m.mount_point.back() == '/') m.mount_point.pop_back();
        out.push_back(std::move(m));
    }
    return out;
}

void set_mount_table_source(std::function<std::string()> source) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_mount_source = std::move(source);
}

std::vector<MountEntry> mount_table() {
    if (auto source = mount_source()) return parse_mount_table(source());
    std::lock_guard<std::mutex> lock(g_cache_mutex);
    refresh_mount_cache();
    return g_cache.all;
}

void set_removable_probe(std::function<bool(const std::string& device)> probe) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_removable_probe = std::move(probe);
}

std::vector<Drive> drive_letters() {
    const auto mounts = visible_mounts();
    const auto probe = removable_probe();
    std::vector<Drive> out;
    Drive c{'C', "/", "", "", DRIVE_FIXED};
    for (const auto& m : mounts) {
        if (m.mount_point == "/") {
            c.fs_type = m.fs_type;
            c.device = m.device;
            c.type = classify(m, probe);
        }
    }
    out.push_back(c);
    char next = 'D';
    for (const auto& m : mounts) {
        if (next > 'Z') break;
        if (m.mount_point == "/" || is_gvfs(m.fs_type)) continue;
        const unsigned int type = classify(m, probe);
        if (type != DRIVE_REMOVABLE && type != DRIVE_CDROM && type != DRIVE_REMOTE) continue;
        out.push_back(Drive{next++, m.mount_point, m.fs_type, m.device, type});
    }
    return out;
}

std::string host_path(std::string_view win) {
    std::string p(win.substr(0, win.find('\0')));
    if (p.empty()) return "";
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.rfind("\\\\", 0) == 0) {
        if (p.rfind("\\\\?\\", 0) == 0 || p.rfind("\\\\.\\", 0) == 0) return "";
        return host_of_unc(split_components(p, true));
    }
    std::string base;
    std::string rest;
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        base = drive_root(p[0]);
        if (base.empty()) return "";
        rest = p.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // Drive-relative: from the current folder when it lies on that drive.
            const std::string cwd = windows_path(host_cwd());
            if (!cwd.empty() && std::toupper(static_cast<unsigned char>(cwd[0])) ==
                                    std::toupper(static_cast<unsigned char>(p[0]))) {
                return host_path(cwd + "\\" + rest);
            }
        }
    } else if (!p.empty() && p[0] == '\\') {
        const std::string cwd = windows_path(host_cwd());
        if (cwd.rfind("\\\\", 0) == 0) {
            const auto comps = split_components(cwd, true);
            return host_path("\\\\" + comps[0] + "\\" + comps[1] + p);
        }
        return host_path(cwd.substr(0, 2) + p);
    } else {
        return host_path(windows_path(host_cwd()) + "\\" + p);
    }
    return resolve_case(base, normalize(split_components(rest, true)));
}

std::string windows_path(std::string_view host) {
    std::string h(host.substr(0, host.find('\0')));
    if (h.empty() || h[0] != '/') h = join_host(host_cwd(), h);
    const auto comps = normalize(split_components(h, false));
    std::string norm = "/";
    for (std::size_t i = 0; i < comps.size(); ++i) norm += (i ? "/" : "") + comps[i];

    const auto mounts = visible_mounts();
    // A path inside a gvfs share: its UNC form.
    for (const auto& m : mounts) {
        if (!is_gvfs(m.fs_type) || !host_has_prefix(norm, m.mount_point)) continue;
        const auto below = split_components(norm.substr(m.mount_point.size()), false);
        std::string server, share;
        if (!below.empty() && parse_gvfs_share(below[0], server, share)) {
            std::string out = "\\\\" + server + "\\" + share;
            for (std::size_t i = 1; i < below.size(); ++i) out += "\\" + below[i];
            return out;
        }
    }
    char letter = 'C';
    std::string root = "/";
    for (const auto& d : drive_letters()) {
        if (d.letter != 'C' && host_has_prefix(norm, d.root) && d.root.size() > root.size()) {
            letter = d.letter;
            root = d.root;
        }
    }
    const std::string below = root == "/" ? norm.substr(1) : norm.substr(root.size());
    return std::string(1, letter) + ":\\" + to_backslashes(split_components(below, false));
}

std::string shown_path(std::string_view windows) {
    std::string w(windows.substr(0, windows.find('\0')));
    const bool drive =
        w.size() >= 2 && std::isalpha(static_cast<unsigned char>(w[0])) && w[1] == ':';
    std::string host = drive ? host_path(w) : "";
    if (host.empty()) {
        // A network name stays one (wherever it is mounted); other names keep their text. A
        // Windows name holds no "\\", so each is a separator.
        std::replace(w.begin(), w.end(), '\\', '/');
        return w;
    }
    const char last = w.back();
    if ((last == '\\' || last == '/') && host.back() != '/') host += '/';
    return host;
}

std::string typed_path(std::string_view text) {
    std::string t(text.substr(0, text.find('\0')));
    if (t.rfind("~/", 0) == 0 || t == "~") {
        const char* home = std::getenv("HOME");
        if (!home || *home != '/') return t;
        t = std::string(home) + t.substr(1);
    }
    if (t.rfind("//", 0) == 0) {  // a network name in the host's notation
        std::replace(t.begin(), t.end(), '/', '\\');
        return t;
    }
    if (t.empty() || t[0] != '/') return t;
    std::string win = windows_path(t);
    if (t.back() == '/' && win.back() != '\\') win += '\\';
    return win;
}

std::vector<Place> places() {
    std::vector<Place> out{{"/", "C:\\", DRIVE_FIXED}};
    if (const char* home = std::getenv("HOME"); home && *home == '/' && std::string(home) != "/") {
        const std::string win = windows_path(home);
        out.push_back({shown_path(win), win, GetDriveTypeA(win)});
    }
    for (const auto& d : drive_letters()) {
        if (d.letter != 'C') out.push_back({d.root, std::string(1, d.letter) + ":\\", d.type});
    }
    return out;
}

std::size_t place_of(const std::vector<Place>& list, std::string_view windows) {
    auto folder = [](std::string_view p) {
        std::string s(p);
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (s.empty() || s.back() != '\\') s += '\\';
        return s;
    };
    const std::string path = folder(windows);
    std::size_t best = 0, best_len = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string top = folder(list[i].path);
        if (path.rfind(top, 0) == 0 && top.size() > best_len) {
            best = i;
            best_len = top.size();
        }
    }
    return best;
}

std::string file_url(std::string_view windows) {
    std::string host = host_path(windows);
    if (host.empty()) {  // not mounted here: the name as given, a UNC name with its server
        host = std::string(windows);
        std::replace(host.begin(), host.end(), '\\', '/');
        if (host.rfind("//", 0) != 0) host.insert(0, "/");
    }
    return (host.rfind("//", 0) == 0 ? "file:" : "file://") + percent_encoded(host);
}

std::string percent_encoded(std::string_view text, bool keep_slashes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
            (keep_slashes && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> file_link_target(std::string_view link) {
    if (link.size() < 6 || !std::equal(link.begin(), link.begin() + 5, "file:", [](char a, char b) {
            return std::tolower(a) == b;
        }))
        return std::nullopt;
    std::string_view rest = link.substr(5);
    if (rest.empty()) return std::nullopt;
    if (rest[0] != '/') {  // the older form: a Windows path, a drive's or a UNC name
        const bool drive = rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[0])) &&
                           rest[1] == ':' && rest[2] == '\\';
        if (!drive && rest.substr(0, 2) != "\\\\") return std::nullopt;
        return std::string(rest);
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        const std::string_view authority = rest.substr(0, slash);
        if (slash == std::string_view::npos || (!authority.empty() && authority != "localhost"))
            return std::nullopt;  // a file on another host is no file here
        rest.remove_prefix(slash);
    }
    std::string host;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        auto digit = [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                   : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                   : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                               : -1;
        };
        if (rest[i] == '%') {
            // A broken escape names no file we wrote: nothing, rather than a guess.
            if (i + 2 >= rest.size() || digit(rest[i + 1]) < 0 || digit(rest[i + 2]) < 0)
                return std::nullopt;
            host += static_cast<char>(digit(rest[i + 1]) * 16 + digit(rest[i + 2]));
            i += 2;
        } else if (rest[i] == '?' || rest[i] == '#') {
            break;  // query and fragment are not part of the path
        } else {
            host += rest[i];
        }
    }
    if (host.find('\0') != std::string::npos) return std::nullopt;
    return windows_path(host);
}

std::string app_path() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_app_path.empty()) return g_app_path;
    }
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return windows_path(host_cwd());
    std::string exe(buf, static_cast<std::size_t>(n));
    // A program started from the layer's container, by the layer or by the container's head, runs
    // from an in-memory copy; the container file it came from is its first argument, a full path.
    if (exe.rfind("/memfd:", 0) == 0) {
        const std::string cmdline = read_text_file("/proc/self/cmdline");
        const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
        if (!argv0.empty() && argv0[0] == '/') exe = argv0;
    }
    // Started natively without memory to run from, the container's head runs a copy of the
    // payload named like the container and removed before the start, and tells it the container
    // file; its folder is the program's. A program that merely inherited the variable runs from
    // a file that still exists.
    const std::string deleted = " (deleted)";
    if (const char* container = std::getenv(kContainerVariable);
        container && *container == '/' && exe.size() > deleted.size() &&
        exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0) {
        exe.resize(exe.size() - deleted.size());
        const std::string c = container;
        if (c.substr(c.rfind('/') + 1) == exe.substr(exe.rfind('/') + 1)) exe = c;
    }
    const auto slash = exe.rfind('/');
    return windows_path(slash == 0 ? "/" : exe.substr(0, slash));
}

void set_app_path(std::string win) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_app_path = std::move(win);
}

unsigned int GetDriveTypeA(std::string_view root_path) {
    const std::string h = host_path(root_path);
    if (h.empty()) return DRIVE_NO_ROOT_DIR;
    char real[PATH_MAX];
    if (!realpath(h.c_str(), real)) return DRIVE_NO_ROOT_DIR;
    const std::string r = real;
    const auto mounts = visible_mounts();
    const MountEntry* best = nullptr;
    for (const auto& m : mounts) {
        if (host_has_prefix(r, m.mount_point) &&
            (!best || m.mount_point.size() > best->mount_point.size())) {
            best = &m;
        }
    }
    if (!best) return DRIVE_FIXED;
    return classify(*best, removable_probe());
}

long WNetGetConnectionA(std::string_view local_name, char* remote_name, unsigned long* length) {
    if (local_name.size() != 2 || local_name[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(local_name[0]))) {
        return ERROR_BAD_DEVICE;
    }
    if (!length) return ERROR_BAD_DEVICE;
    const auto name = network_connection(local_name);
    if (!name) return ERROR_NOT_CONNECTED;
    const unsigned long needed = static_cast<unsigned long>(name->size() + 1);
    if (!remote_name || *length < needed) {
        *length = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(remote_name, name->c_str(), needed);
    return NO_ERROR;
}

std::optional<std::string> network_connection(std::string_view local_name) {
    if (local_name.size() != 2 || local_name[1] != ':') return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(local_name[0])));
    for (const auto& d : drive_letters()) {
        if (d.letter != letter || d.type != DRIVE_REMOTE) continue;
        MountEntry m{d.device, d.root, d.fs_type, ""};
        const auto unc = unc_of_device(m);
        if (unc.empty()) return std::nullopt;
        return "\\\\" + to_backslashes(unc);
    }
    return std::nullopt;
}

bool PathIsDirectoryA(std::string_view path) {
    const std::string h = host_path(path);
    struct stat st;
    return !h.empty() && stat(h.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string GetShortPathNameA(std::string_view long_path) {
    const std::string h = host_path(long_path);
    struct stat st;
    // No 8.3 names here: an existing path comes back unchanged, up to the system's path limit.
    if (h.empty() || h.size() >= PATH_MAX || stat(h.c_str(), &st) != 0) return "";
    return std::string(long_path.substr(0, long_path.find('\0')));
}

}  // namespace platform

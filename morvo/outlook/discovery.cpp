#include "morvo/outlook/discovery.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "morvo/outlook/imap_client.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace morvo::outlook {

namespace {

using platform::iequals;

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

bool is_dir(const std::string& p) {
    struct stat st {};
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string& p) {
    struct stat st {};
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Files of other programs are read whole; anything this large is no settings file.
constexpr std::streamsize kMaxFile = 16 << 20;

std::optional<std::string> slurp(const std::string& path) {
    if (!is_file(path)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > static_cast<size_t>(kMaxFile)) return std::nullopt;
    }
    return text;
}

std::string trim(std::string_view s) {
    return std::string(platform::trimmed(s));
}

std::vector<std::string> lines_of(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view l = text.substr(start, end - start);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        lines.emplace_back(l);
        start = end + 1;
    }
    return lines;
}

// A plain INI file of another program (profiles.ini, KDE rc files): sections in order.
struct IniSection {
    std::string title;
    std::map<std::string, std::string> keys;
};
std::vector<IniSection> read_ini(const std::string& text) {
    std::vector<IniSection> out;
    for (const std::string& raw : lines_of(text)) {
        std::string line = trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[' && line.back() == ']') {
            out.push_back({line.substr(1, line.size() - 2), {}});
        } else if (size_t eq = line.find('='); eq != std::string::npos && !out.empty()) {
            out.back().keys[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
        }
    }
    return out;
}

std::string key_of(const IniSection& s, const std::string& key) {
    auto it = s.keys.find(key);
    return it == s.keys.end() ? "" : it->second;
}

// Thunderbird's prefs.js: user_pref("name", value); with value a JavaScript string, number or
// boolean. Strings are unescaped; other values kept as written. Lines of any other form are
// passed over, as Thunderbird itself tolerates them.
std::map<std::string, std::string> read_prefs(const std::string& text) {
    std::map<std::string, std::string> prefs;
    auto string_at = [&](size_t& i, std::string& out) {
        if (i >= text.size() || text[i] != '"') return false;
        for (++i; i < text.size(); ++i) {
            char c = text[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (c == '\n') return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++i >= text.size()) return false;
            switch (char e = text[i]) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (i + 4 >= text.size()) return false;
                    unsigned long cp = std::strtoul(text.substr(i + 1, 4).c_str(), nullptr, 16);
                    i += 4;
                    // Names and paths here are ASCII or BMP: encode as UTF-8.
                    if (cp < 0x80) {
                        out += static_cast<char>(cp);
                    } else if (cp < 0x800) {
                        out += static_cast<char>(0xC0 | (cp >> 6));
                        out += static_cast<char>(0x80 | (cp & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | (cp >> 12));
                        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                        out += static_cast<char>(0x80 | (cp & 0x3F));
                    }
                    break;
                }
                default:
                    out += e;
            }
        }
        return false;
    };
    auto skip_blanks = [&](size_t& i) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    const std::string_view head = "user_pref(";
    for (size_t pos = text.find(head); pos != std::string::npos; pos = text.find(head, pos)) {
        size_t i = pos + head.size();
        pos = i;
        std::string name, value;
        skip_blanks(i);
        if (!string_at(i, name)) continue;
        skip_blanks(i);
        if (i >= text.size() || text[i++] != ',') continue;
        skip_blanks(i);
        if (i < text.size() && text[i] == '"') {
            if (!string_at(i, value)) continue;
        } else {
            size_t end = text.find_first_of(")\n", i);
            if (end == std::string::npos) continue;
            value = trim(std::string_view(text).substr(i, end - i));
            i = end;
        }
        skip_blanks(i);
        if (i >= text.size() || text[i] != ')') continue;
        prefs[name] = value;
    }
    return prefs;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, sep);)
        if (!trim(part).empty()) out.push_back(trim(part));
    return out;
}

// The user name of an IMAP location: everything but unreserved characters percent-encoded.
std::string url_user(const std::string& user) {
    return platform::percent_encoded(user, false);
}

bool valid_host(const std::string& host) {
    if (host.empty()) return false;
    for (unsigned char c : host)
        if (!(std::isalnum(c) || c == '-' || c == '.' || c == ':' || c >= 0x80)) return false;
    return true;
}

struct Found {
    std::vector<StoreConfig>& stores;
    std::vector<std::string>& notes;
    void add(std::string name, std::string kind, std::string location, std::string source,
             std::string layout = "") {
        StoreConfig s;
        s.name = std::move(name);
        s.kind = std::move(kind);
        s.location = std::move(location);
        s.source = std::move(source);
        s.layout = std::move(layout);
        stores.push_back(std::move(s));
    }
};

// One Thunderbird profile: its local folders and IMAP accounts, in the order of its accounts.
void thunderbird_profile(const std::string& dir, const std::string& suffix, Found& found) {
    const std::string prefs_file = dir + "/prefs.js";
    auto text = slurp(prefs_file);
    if (!text) {
        found.notes.push_back("Thunderbird-Profil " + dir + ": prefs.js fehlt oder ist unlesbar.");
        return;
    }
    auto prefs = read_prefs(*text);
    auto pref = [&](const std::string& key) {
        auto it = prefs.find(key);
        return it == prefs.end() ? std::string() : it->second;
    };
    std::vector<std::string> servers;
    for (const std::string& account : split(pref("mail.accountmanager.accounts"), ',')) {
        std::string server = pref("mail.account." + account + ".server");
        if (!server.empty()) servers.push_back(server);
    }
    if (servers.empty()) {  // no account list: every server the prefs describe
        for (const auto& [key, value] : prefs) {
            const std::string head = "mail.server.", tail = ".type";
            if (key.size() > head.size() + tail.size() && key.rfind(head, 0) == 0 &&
                key.compare(key.size() - tail.size(), tail.size(), tail) == 0)
                servers.push_back(key.substr(head.size(), key.size() - head.size() - tail.size()));
        }
    }
    std::set<std::string> seen;
    for (const std::string& server : servers) {
        if (!seen.insert(server).second) continue;
        const std::string p = "mail.server." + server + ".";
        const std::string type = pref(p + "type");
        std::string host = pref(p + "realhostname");
        if (host.empty()) host = pref(p + "hostname");
        std::string name = pref(p + "name");
        if (type == "imap") {
            std::string user = pref(p + "realuserName");
            if (user.empty()) user = pref(p + "userName");
            if (!valid_host(host)) {
                found.notes.push_back(prefs_file + ": das IMAP-Konto " + server +
                                      " nennt keinen gültigen Server.");
                continue;
            }
            const std::string socket = pref(p + "socketType");
            const bool implicit = socket == "3";
            int port = std::atoi(pref(p + "port").c_str());
            if (port <= 0 || port > 65535) port = implicit ? 993 : 143;
            std::string location = implicit ? "imaps://" : "imap://";
            if (!user.empty()) location += url_user(user) + "@";
            location += host.find(':') != std::string::npos ? "[" + host + "]" : host;
            location += ":" + std::to_string(port);
            found.add((name.empty() ? user + "@" + host : name) + suffix, "imap", location,
                      prefs_file);
            // 1 (STARTTLS when offered) is taken as 2 (always): the password never goes out plain
            // where the user asked for encryption.
            if (socket == "1" || socket == "2") found.stores.back().tls = "starttls";
        } else if (type == "none" || type == "pop3" || type == "movemail") {
            std::string folder = pref(p + "directory-rel");
            const std::string profd = "[ProfD]";
            if (folder.rfind(profd, 0) == 0)
                folder = dir + "/" + folder.substr(profd.size());
            else
                folder = pref(p + "directory");
            if (folder.empty())
                folder = dir + "/Mail/" + (type == "none" ? std::string("Local Folders") : host);
            if (!is_dir(folder)) {
                found.notes.push_back(prefs_file + ": der Ordner " + folder + " des Kontos " +
                                      server + " fehlt.");
                continue;
            }
            std::string store = pref(p + "storeContractID");
            if (store.empty()) store = pref("mail.serverDefaultStoreContractID");
            const bool maildir = store.find("maildirstore") != std::string::npos;
            found.add((name.empty() ? std::string("Lokale Ordner") : name) + suffix,
                      maildir ? "maildir" : "mbox", folder, prefs_file,
                      maildir ? "thunderbird" : "");
        }
    }
}

// Every profile named in profiles.ini: the default of each installation first, then the one
// marked Default, then the rest in the file's order.
void thunderbird(const std::string& root, Found& found) {
    const std::string ini = root + "/profiles.ini";
    auto text = slurp(ini);
    if (!text) return;
    auto sections = read_ini(*text);
    struct Profile {
        std::string name, dir;
    };
    std::vector<Profile> profiles, ordered;
    std::vector<std::string> install_defaults;
    for (const auto& s : sections) {
        if (s.title.rfind("Install", 0) == 0) {
            if (!key_of(s, "Default").empty()) install_defaults.push_back(key_of(s, "Default"));
            continue;
        }
        if (s.title.rfind("Profile", 0) != 0 || key_of(s, "Path").empty()) continue;
        std::string path = key_of(s, "Path");
        const bool relative = key_of(s, "IsRelative") != "0" && path[0] != '/';
        profiles.push_back({key_of(s, "Name").empty() ? path : key_of(s, "Name"),
                            relative ? root + "/" + path : path});
        if (key_of(s, "Default") == "1") install_defaults.push_back(path);
    }
    auto take = [&](auto pred) {
        for (auto& p : profiles)
            if (!p.dir.empty() && pred(p)) {
                ordered.push_back(p);
                p.dir.clear();
            }
    };
    for (const auto& d : install_defaults)
        take([&](const Profile& p) { return p.dir == d || p.dir == root + "/" + d; });
    take([](const Profile&) { return true; });
    std::set<std::string> seen;
    std::erase_if(ordered, [&](const Profile& p) {
        if (!is_dir(p.dir)) {
            found.notes.push_back(ini + ": das Profil " + p.name + " (" + p.dir + ") fehlt.");
            return true;
        }
        char* real = ::realpath(p.dir.c_str(), nullptr);
        std::string key = real ? real : p.dir;
        std::free(real);
        return !seen.insert(key).second;
    });
    // With several profiles, each store says which one it belongs to.
    for (const auto& p : ordered)
        thunderbird_profile(p.dir, ordered.size() > 1 ? " (" + p.name + ")" : "", found);
}

// KMail keeps its local folders in a Maildir resource of Akonadi; its Path names the folder.
void kmail(const DiscoveryPlaces& at, Found& found) {
    std::vector<std::pair<std::string, std::string>> folders;  // (folder, source)
    const std::string agents = at.config_home + "/akonadi";
    if (DIR* d = ::opendir(agents.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n.rfind("agent_config_akonadi_maildir_resource_", 0) == 0) names.push_back(n);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const auto& n : names) {
            auto text = slurp(agents + "/" + n);
            if (!text) continue;
            for (const auto& s : read_ini(*text)) {
                std::string path = key_of(s, "Path");
                if (path.rfind("file://", 0) == 0) path = path.substr(7);
                if (path.rfind("$HOME", 0) == 0) path = at.home + path.substr(5);
                while (path.size() > 1 && path.back() == '/') path.pop_back();
                if (!path.empty()) folders.emplace_back(path, agents + "/" + n);
            }
        }
    }
    folders.emplace_back(at.data_home + "/local-mail", at.data_home + "/local-mail");
    for (const auto& [folder, source] : folders)
        if (is_dir(folder)) found.add("KMail", "maildir", folder, source, "kmail");
}

// $MAIL and ~/mbox: an mbox file; $MAIL may also name a Maildir.
void mail_file(const std::string& name, const std::string& path, const std::string& source,
               Found& found) {
    if (is_dir(path))
        found.add(name, "maildir", path, source);
    else if (is_file(path))
        found.add(name, "mbox", path, source);
}

void make_names_unique(std::vector<StoreConfig>& stores) {
    std::set<std::string> taken;
    for (auto& s : stores) {
        std::string name = s.name;
        for (int n = 2; !taken.insert(name).second; ++n)
            name = s.name + " (" + std::to_string(n) + ")";
        s.name = name;
    }
}

std::mutex source_mutex;
PasswordSource password_source;

}  // namespace

DiscoveryPlaces DiscoveryPlaces::from_environment() {
    DiscoveryPlaces at;
    at.home = env_or("HOME", "/");
    at.config_home = env_or("XDG_CONFIG_HOME", at.home + "/.config");
    at.data_home = env_or("XDG_DATA_HOME", at.home + "/.local/share");
    at.mail = env_or("MAIL", "");
    return at;
}

ProfileFile parse_profile(std::string_view text, const std::string& path, const std::string& home) {
    ProfileFile out;
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    struct Section {
        std::string title;
        StoreConfig store;
        int kind_line = 0;
    };
    std::vector<Section> sections;
    int number = 0;
    auto fault = [&](const std::string& what) {
        out.faults.push_back(path + ":" + std::to_string(number) + ": " + what);
    };
    // A value ends where a comment begins: a ";" after a blank. A value in double quotes is
    // taken as written ("" for a quote inside), so it may hold " ;" itself.
    auto value_of = [&](std::string v) -> std::optional<std::string> {
        v = trim(v);
        std::string value, rest;
        if (!v.empty() && v[0] == '"') {
            size_t i = 1;
            for (; i < v.size(); ++i) {
                if (v[i] != '"') {
                    value += v[i];
                } else if (i + 1 < v.size() && v[i + 1] == '"') {
                    value += '"';
                    ++i;
                } else {
                    break;
                }
            }
            if (i >= v.size()) return std::nullopt;  // no closing quote
            rest = trim(v.substr(i + 1));
            if (!rest.empty() && rest[0] != ';') return std::nullopt;
            return value;
        }
        for (size_t i = 0; i < v.size(); ++i)
            if (v[i] == ';' && (i == 0 || v[i - 1] == ' ' || v[i - 1] == '\t'))
                return trim(v.substr(0, i));
        return v;
    };
    for (const std::string& raw : lines_of(text)) {
        ++number;
        std::string line = trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string after = close == std::string::npos ? "" : trim(line.substr(close + 1));
            if (close == std::string::npos || (!after.empty() && after[0] != ';')) {
                fault("unlesbare Abschnittszeile „" + line + "“");
                close = line.size();  // its keys still belong to it: one fault, not one a line
            }
            sections.push_back({trim(line.substr(1, close - 1)), {}});
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            fault("unlesbare Zeile „" + line + "“ (erwartet: Schlüssel=Wert)");
            continue;
        }
        const std::string key = trim(line.substr(0, eq));
        if (sections.empty()) {
            fault("„" + key + "“ steht vor dem ersten [Abschnitt]");
            continue;
        }
        std::optional<std::string> value = value_of(line.substr(eq + 1));
        if (!value) {
            fault("unlesbarer Wert von „" + key + "“ (Anführungszeichen nicht geschlossen?)");
            continue;
        }
        StoreConfig& s = sections.back().store;
        static const std::vector<std::pair<const char*, std::string StoreConfig::*>> keys = {
            {"Name", &StoreConfig::name},
            {"Location", &StoreConfig::location},
            {"Path", &StoreConfig::location},
            {"Layout", &StoreConfig::layout},
            {"Kind", &StoreConfig::kind},
            {"Password", &StoreConfig::password},
            {"PasswordCommand", &StoreConfig::password_command},
            {"TLS", &StoreConfig::tls},
            {"CAFile", &StoreConfig::ca_file},
        };
        auto k = std::find_if(keys.begin(), keys.end(),
                              [&](const auto& e) { return iequals(key, e.first); });
        if (k == keys.end()) {
            fault("unbekannter Schlüssel „" + key + "“");
            continue;
        }
        s.*(k->second) = *value;
        if (k->second == &StoreConfig::kind) sections.back().kind_line = number;
        if (k->second == &StoreConfig::layout && !value->empty() && !iequals(*value, "maildir++") &&
            !iequals(*value, "nested") && !iequals(*value, "kmail") &&
            !iequals(*value, "thunderbird"))
            fault("unbekanntes Layout „" + *value +
                  "“ (maildir++, nested, kmail oder thunderbird)");
        if (k->second == &StoreConfig::kind && !iequals(*value, "maildir") &&
            !iequals(*value, "mbox") && !iequals(*value, "imap"))
            fault("unbekannte Art „" + *value + "“ (maildir, mbox oder imap)");
    }
    // "~" is the home folder; other relative paths are taken from the profile's folder.
    auto resolve = [&](std::string& p) {
        if (p.empty()) return;
        if (p == "~")
            p = home;
        else if (p.rfind("~/", 0) == 0)
            p = home + p.substr(1);
        else if (p.find("://") == std::string::npos && p[0] != '/')
            p = dir + p;
    };
    for (auto& sec : sections) {
        StoreConfig s = sec.store;
        if (s.name.empty()) s.name = sec.title;
        s.source = path;
        resolve(s.ca_file);
        if (s.location.empty()) {
            out.keys_for_found.push_back(std::move(s));
            continue;
        }
        resolve(s.location);
        for (char& c : s.kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        // The backend follows the location, so a kind that contradicts it is a typing error.
        if (!s.kind.empty() && (s.kind == "imap") != imap::is_imap_location(s.location)) {
            number = sec.kind_line;
            fault("Kind=" + s.kind + " passt nicht zu Location=" + s.location);
        }
        if (s.kind.empty())
            s.kind = imap::is_imap_location(s.location) ? "imap"
                     : is_file(s.location)              ? "mbox"
                                                        : "maildir";
        out.stores.push_back(std::move(s));
    }
    return out;
}

ProfileFile load_profile(const std::string& path, const std::string& home) {
    auto text = slurp(path);
    if (!text) throw platform::Error(e_fail, "Das Profil " + path + " kann nicht gelesen werden.");
    ProfileFile file = parse_profile(*text, path, home);
    if (!file.faults.empty()) {
        std::string message = "Das Profil " + path + " enthält Fehler:";
        for (const auto& f : file.faults) message += "\n" + f;
        throw platform::Error(e_fail, message);
    }
    return file;
}

std::vector<StoreConfig> discover_stores(const DiscoveryPlaces& at,
                                         std::vector<std::string>& notes) {
    std::vector<StoreConfig> stores;
    Found found{stores, notes};
    // The store the archiver used before it looked further keeps its place and name.
    mail_file("Persönliche Ordner", at.home + "/Maildir", "$HOME", found);
    for (const char* root : {"/.thunderbird", "/snap/thunderbird/common/.thunderbird",
                             "/.var/app/org.mozilla.Thunderbird/.thunderbird"})
        thunderbird(at.home + root, found);
    const std::string evolution = at.data_home + "/evolution/mail/local";
    if (is_dir(evolution))
        found.add("Evolution", "maildir", evolution, at.data_home + "/evolution", "maildir++");
    kmail(at, found);
    mail_file("mbox", at.home + "/mbox", "$HOME", found);
    if (!at.mail.empty()) mail_file("Systempostfach", at.mail, "$MAIL", found);
    // One store, one entry: $MAIL may well be ~/Maildir, a KMail resource the default folder.
    std::set<std::string> seen;
    std::erase_if(stores, [&](const StoreConfig& s) {
        if (s.kind == "imap") return !seen.insert(s.location).second;
        char* real = ::realpath(s.location.c_str(), nullptr);
        std::string key = real ? real : s.location;
        std::free(real);
        return !seen.insert(key).second;
    });
    make_names_unique(stores);
    return stores;
}

FoundStores find_stores(const DiscoveryPlaces& at) {
    FoundStores found;
    const std::string profile = at.config_home + "/morvolan/profile.ini";
    ProfileFile file;
    struct stat st {};
    if (::stat(profile.c_str(), &st) == 0) file = load_profile(profile, at.home);
    if (!file.stores.empty()) {
        found.stores = std::move(file.stores);
        found.from_profile = true;
        return found;
    }
    found.stores = discover_stores(at, found.notes);
    for (const StoreConfig& keys : file.keys_for_found) {
        auto it = std::find_if(found.stores.begin(), found.stores.end(),
                               [&](const StoreConfig& s) { return s.name == keys.name; });
        if (it == found.stores.end()) {
            found.notes.push_back(profile + ": [" + keys.name +
                                  "] nennt weder einen Ort (Location=) noch einen gefundenen "
                                  "Speicher dieses Namens.");
            continue;
        }
        for (auto field : {&StoreConfig::password, &StoreConfig::password_command,
                           &StoreConfig::tls, &StoreConfig::ca_file, &StoreConfig::layout})
            if (!(keys.*field).empty()) (*it).*field = keys.*field;
    }
    return found;
}

std::string why_not_opened(const StoreConfig& store, bool from_profile) {
    if (store.kind == "imap" && !from_profile && store.password.empty() &&
        store.password_command.empty())
        return "braucht ein Passwort (Password= oder PasswordCommand= in einem Abschnitt [" +
               store.name + "] des Profils)";
    return "";
}

std::vector<StoreConfig> stores_to_open(FoundStores& found) {
    PasswordSource ask;
    {
        std::lock_guard<std::mutex> lock(source_mutex);
        ask = password_source;
    }
    std::vector<StoreConfig> open;
    for (StoreConfig s : found.stores) {
        if (ask && !why_not_opened(s, found.from_profile).empty() && s.kind == "imap")
            if (auto pw = ask(s)) s.password = *pw;
        std::string why = why_not_opened(s, found.from_profile);
        if (why.empty())
            open.push_back(std::move(s));
        else
            found.notes.push_back("„" + s.name + "“ (" + s.location + ") bleibt aus: " + why + ".");
    }
    return open;
}

void set_password_source(PasswordSource source) {
    std::lock_guard<std::mutex> lock(source_mutex);
    password_source = std::move(source);
}

}  // namespace morvo::outlook

#include "tools/mkpackage/package.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "platform/codepage.h"
#include "platform/file_toolkit.h"
#include "platform/program_container.h"
#include "platform/text.h"
#include "tools/cab/cab_writer.h"
#include "tools/extractor/extractor.h"

namespace mkpackage {
namespace {

constexpr const char* script_name = "Setup.INX";
const char* const expected_resources[] = {"background.jpg", "logo.dat", "Wizard.jpg", "button.bmp",
                                          "Lizenz.rtf"};

std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string trim(const std::string& s) {
    return std::string(platform::trimmed(s));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": " + std::strerror(errno));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool is_regular(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The script as the setup program reads it: sections and keys without regard to case, the
// first occurrence of a key counts, values trimmed, in its own code page (UTF-8 or Windows-1252)
// with any line end.
using Ini = std::map<std::string, std::map<std::string, std::string>>;

Ini parse_ini(const std::string& bytes) {
    Ini ini;
    std::string section;
    std::istringstream in(platform::text_of_file(bytes, {false, false, "\r\n"}));
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            section = lower_ascii(
                trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = lower_ascii(trim(line.substr(0, eq)));
        auto& keys = ini[section];
        if (!keys.count(key)) keys[key] = trim(line.substr(eq + 1));
    }
    return ini;
}

std::string ini_value(const Ini& ini, const std::string& section, const std::string& key) {
    auto s = ini.find(lower_ascii(section));
    if (s == ini.end()) return {};
    auto k = s->second.find(lower_ascii(key));
    return k == s->second.end() ? std::string() : k->second;
}

std::vector<std::string> top_level_files(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) throw std::runtime_error(dir + ": " + std::strerror(errno));
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (is_regular(dir + "/" + name)) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// A package is rebuilt from its sources at will, so no sync: the rename alone keeps a half
// written file from standing under the real name.
void write_bytes(const std::string& path, const std::string& bytes, mode_t mode) {
    platform::ReplaceOptions options;
    options.durability = platform::Durability::none;
    options.exact_mode = mode;
    if (const int err = platform::replace_file(path, bytes, options)) {
        throw std::runtime_error(path + ": " + std::strerror(err));
    }
}

void make_folders(const std::string& path) {
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            throw std::runtime_error(part + ": " + std::strerror(errno));
    }
}

}  // namespace

std::string find_source_file(const std::string& source, const std::string& name) {
    std::string rel = name;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    if (rel.empty() || rel[0] == '/') return {};
    std::string direct = source + "/" + rel;
    if (is_regular(direct)) return direct;
    // The case-insensitive lookup works relative to the current folder; resolve each part.
    std::string dir = source;
    std::size_t pos = 0;
    while (true) {
        std::size_t end = rel.find('/', pos);
        std::string part =
            rel.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        std::string found;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (extractor::names_equal(e->d_name, part)) {
                    found = e->d_name;
                    break;
                }
            ::closedir(d);
        }
        if (found.empty()) return {};
        dir += "/" + found;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return is_regular(dir) ? dir : std::string();
}

std::string find_script(const std::string& source) {
    for (const std::string& n : top_level_files(source))
        if (extractor::names_equal(n, script_name)) return source + "/" + n;
    return {};
}

Plan plan_package(const std::string& source) {
    Plan plan;
    std::vector<std::string> files = top_level_files(source);
    plan.script = find_script(source);
    if (plan.script.empty()) throw std::runtime_error(source + ": no setup script " + script_name);
    Ini ini = parse_ini(read_file(plan.script));

    std::string count_text = ini_value(ini, "Dateien", "AnzahlDateien");
    long count = 0;
    if (!count_text.empty()) {
        char* end = nullptr;
        count = std::strtol(count_text.c_str(), &end, 10);
        if (*end != '\0' || count < 0)
            throw std::runtime_error("Setup.INX: AnzahlDateien is not a count: " + count_text);
    }
    std::vector<std::string> product_hosts;
    for (long i = 0; i < count; ++i) {
        std::string name = ini_value(ini, "Dateien", "DateiN" + std::to_string(i));
        if (name.empty())
            throw std::runtime_error("Setup.INX: DateiN" + std::to_string(i) + " is empty");
        bool seen = std::any_of(plan.products.begin(), plan.products.end(), [&](const auto& p) {
            return extractor::names_equal(p.first, name);
        });
        if (seen) continue;  // one file installed into several folders is stored once
        if (!extractor::is_safe_entry_name(name))
            throw std::runtime_error("Setup.INX: DateiN" + std::to_string(i) +
                                     " is not a relative file name: " + name);
        std::string host = find_source_file(source, name);
        if (host.empty()) throw std::runtime_error(source + ": missing product file " + name);
        plan.products.emplace_back(name, host);
        product_hosts.push_back(host);
    }
    for (const std::string& f : files) {
        std::string host = source + "/" + f;
        if (host == plan.script) continue;
        if (std::find(product_hosts.begin(), product_hosts.end(), host) != product_hosts.end())
            continue;
        plan.resources.push_back(f);
    }
    return plan;
}

Result make_medium(const std::string& source, const std::string& medium, const std::string& bin) {
    Result result;
    Plan plan = plan_package(source);
    for (const char* want : expected_resources) {
        bool there =
            std::any_of(plan.resources.begin(), plan.resources.end(),
                        [&](const std::string& r) { return extractor::names_equal(r, want); });
        if (!there) result.notes.push_back(std::string("source holds no ") + want);
    }
    std::string extractor_bin = bin + "/extractor";
    if (!is_regular(extractor_bin))
        throw std::runtime_error(extractor_bin + ": extractor not built");

    make_folders(medium);

    std::vector<cab::Entry> resources;
    resources.push_back(cab::entry_from_file(plan.script, script_name));
    for (const std::string& r : plan.resources)
        resources.push_back(cab::entry_from_file(source + "/" + r, r));
    cab::write_cabinet(medium + "/data01.cab", resources, {});

    std::vector<cab::Entry> products;
    for (const auto& [name, host] : plan.products)
        products.push_back(cab::entry_from_file(host, name));
    cab::Options per_file;
    per_file.folder_per_file = true;
    cab::write_cabinet(medium + "/data02.cab", products, per_file);

    write_bytes(medium + "/Setup.dat", platform::container_head() + read_file(extractor_bin), 0755);

    std::string uninstall_bin = bin + "/uninstall";
    if (is_regular(uninstall_bin)) {
        // The uninstaller carries no blocking mark: a plain program that anything can start
        // (a shell, a desktop entry, a program calling execve), placed as "Uninstall.exe".
        write_bytes(medium + "/unins.ex_", read_file(uninstall_bin), 0755);
    } else {
        ::unlink((medium + "/unins.ex_").c_str());
        result.notes.push_back("uninstall not built: the medium has no unins.ex_");
    }
    std::string setup_bin = bin + "/setup";
    if (is_regular(setup_bin)) {
        // A copy, not a link: setup finds its medium through its own location.
        write_bytes(medium + "/setup", read_file(setup_bin), 0755);
    } else {
        ::unlink((medium + "/setup").c_str());
        result.notes.push_back("setup not built: the medium has no setup program");
    }
    return result;
}

}  // namespace mkpackage

#include "setup/script_keys.h"

#include <array>
#include <cctype>

namespace setup {

namespace {

using F = KeyFile;
using K = KeyKind;

constexpr std::array kKeys{
    ScriptKey{F::Script, "Main", "ProduktName", K::Text},
    ScriptKey{F::Script, "Main", "Hersteller", K::Text},
    ScriptKey{F::Script, "Main", "InstallPath", K::Path},
    ScriptKey{F::Script, "Main", "ProgrammGruppe", K::FileName},
    ScriptKey{F::Script, "Main", "Titel", K::Text},
    ScriptKey{F::Script, "Main", "Copyright", K::Text},
    ScriptKey{F::Script, "Main", "Beschriftung", K::Text},
    ScriptKey{F::Script, "Main", "Logo", K::Text},
    ScriptKey{F::Script, "Main", "Startmeldung", K::Text},
    ScriptKey{F::Script, "Main", "Uninstall", K::Switch},
    ScriptKey{F::Script, "Main", "Reboot", K::Switch},
    ScriptKey{F::Script, "Forms", "frmWelcome", K::Switch},
    ScriptKey{F::Script, "Forms", "frmLizenz", K::Switch},
    ScriptKey{F::Script, "Dateien", "AnzahlDateien", K::Count},
    ScriptKey{F::Script, "Dateien", "Datei<n>", K::Path},
    ScriptKey{F::Script, "Dateien", "DateiN<n>", K::FileName},
    ScriptKey{F::Script, "Dateien", "DateiReg<n>", K::Text},
    ScriptKey{F::Script, "Dateien", "DateiLog<n>", K::Text},
    ScriptKey{F::Script, "Billboards", "AnzBillboards", K::Count},
    ScriptKey{F::Script, "Billboards", "Title<n>", K::Text},
    ScriptKey{F::Script, "Billboards", "Text<n>", K::Text},
    ScriptKey{F::Script, "Fonts", "AnzFonts", K::Count},
    ScriptKey{F::Script, "Fonts", "Font<n>", K::FileName},
    ScriptKey{F::Script, "RunApps", "AnzApps", K::Count},
    ScriptKey{F::Script, "RunApps", "when<n>", K::When},
    ScriptKey{F::Script, "RunApps", "Filename<n>", K::Path},
    ScriptKey{F::Script, "RunApps", "Arguments<n>", K::Text},
    ScriptKey{F::Script, "RunApps", "Message<n>", K::Text},
    ScriptKey{F::Script, "Links", "AnzLinks", K::Count},
    ScriptKey{F::Script, "Links", "LinkPath<n>", K::Path},
    ScriptKey{F::Script, "Links", "LinkT<n>", K::FileName},
    ScriptKey{F::Script, "Links", "LinkN<n>", K::Path},
    ScriptKey{F::Script, "Links", "LinkI<n>", K::Path},
    ScriptKey{F::Script, "Links", "LinkK<n>", K::Text},
    ScriptKey{F::UninstallLog, "Dateien", "AnzDatei", K::Count},
    ScriptKey{F::UninstallLog, "Dateien", "Datei<n>", K::Path},
    ScriptKey{F::UninstallLog, "Uninstall", "Titel", K::Text},
    ScriptKey{F::UninstallLog, "Links", "GroupName", K::Path},
    ScriptKey{F::UninstallLog, "Links", "AnzLinks", K::Count},
    ScriptKey{F::UninstallLog, "Links", "Link<n>", K::Path},
};

constexpr std::array<std::string_view, 10> kPlaceholders{
    "#InstallPath#",  "#WinSysDir#", "#AppDataDir#", "#Computername#", "#HomeDrive#",
    "#ProgramFiles#", "#WinDir#",    "#Username#",   "#ProgramGroup#", "#Desktop#"};

constexpr std::array<std::string_view, 3> kWhen{kWhenAtInstall, kWhenAsk, kWhenSilent};

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "Datei12" matches "Datei<n>": the stem, then one or more digits (as the readers build them
// from a number, so no sign and no blanks).
bool key_matches(std::string_view pattern, std::string_view key) {
    constexpr std::string_view index = "<n>";
    if (pattern.size() < index.size() || pattern.substr(pattern.size() - index.size()) != index)
        return iequal(pattern, key);
    const std::string_view stem = pattern.substr(0, pattern.size() - index.size());
    if (key.size() <= stem.size() || !iequal(stem, key.substr(0, stem.size()))) return false;
    for (char c : key.substr(stem.size()))
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::span<const ScriptKey> script_keys() {
    return kKeys;
}

const ScriptKey* find_script_key(KeyFile file, std::string_view section, std::string_view key) {
    for (const ScriptKey& k : kKeys)
        if (k.file == file && iequal(k.section, section) && key_matches(k.key, key)) return &k;
    return nullptr;
}

std::span<const std::string_view> placeholders() {
    return kPlaceholders;
}

std::span<const std::string_view> run_apps_when_values() {
    return kWhen;
}

}  // namespace setup

#pragma once
// Every section and key that setup and the uninstaller read, and the placeholders setup expands.
// One table serves the package checker (unknown keys, kinds of values), the script reference's
// test and the silent install, so a key added to a reader without an entry here shows up in a
// test.
#include <span>
#include <string_view>

namespace setup {

enum class KeyFile { Script, UninstallLog };

enum class KeyKind {
    Text,      // shown or stored as it is
    Path,      // a Windows path; placeholders are expanded
    FileName,  // a file name (an install-folder relative path for DateiN<n>)
    Switch,    // "1" switches on; anything else off
    Count,     // a number of entries
    When,      // one of kRunAppsWhen
};

struct ScriptKey {
    KeyFile file;
    std::string_view section;
    std::string_view key;  // an indexed key ends in "<n>": "Datei<n>" stands for Datei0, Datei1..
    KeyKind kind;
};

std::span<const ScriptKey> script_keys();

// The key of the table that `key` of `section` is, without regard to case ("datei12" in
// "Dateien" is "Datei<n>"); nullptr when no program reads it.
const ScriptKey* find_script_key(KeyFile file, std::string_view section, std::string_view key);

// The placeholders in the order ExpandPlaceholders replaces them.
std::span<const std::string_view> placeholders();

// The RunApps "when" values, and what each one does.
inline constexpr std::string_view kWhenAtInstall = "bei Installation";
inline constexpr std::string_view kWhenAsk = "nach Installation (Abfrage)";
inline constexpr std::string_view kWhenSilent = "nach Installation (ohne Aufforderung)";
std::span<const std::string_view> run_apps_when_values();

}  // namespace setup

#pragma once
// The names in the uninstall log: setup writes them and the uninstaller reads them, so both
// take them from here. Header only, so the uninstaller needs no setup library.

#include <string>
#include <string_view>

namespace setup {

inline constexpr std::string_view kUninstallLogName = "Uninstall.ini";

struct UninstallLogNames {
    static constexpr const char* files_section = "Dateien";
    static constexpr const char* file_count = "AnzDatei";  // the highest file index
    static constexpr const char* uninstall_section = "Uninstall";
    static constexpr const char* title = "Titel";
    static constexpr const char* links_section = "Links";
    static constexpr const char* group = "GroupName";
    static constexpr const char* link_count = "AnzLinks";
    // [Uninstall] "1" when setup created the install folder, so that it is the product's own;
    // anything else (a log without it too) means the folder was there before and keeps what
    // the install did not place.
    static constexpr const char* folder_created = "OrdnerAngelegt";
    // [Ordner] the folders setup created below the install folder: Ordner1..AnzOrdner.
    static constexpr const char* folders_section = "Ordner";
    static constexpr const char* folder_count = "AnzOrdner";

    // Datei0, Datei1, ... and Link1, Link2, ...
    static std::string file(int index) { return "Datei" + std::to_string(index); }
    static std::string link(int j) { return "Link" + std::to_string(j); }
    static std::string folder(int j) { return "Ordner" + std::to_string(j); }
};

}  // namespace setup

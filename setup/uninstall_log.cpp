#include "setup/uninstall_log.h"

#include "setup/script.h"

namespace setup {

UninstallLog::UninstallLog(std::string_view install_folder)
    : file_(std::string(install_folder) + "\\" + std::string(kUninstallLogName)) {}

void UninstallLog::write_file(int index, std::string_view path) const {
    SetIniValue("Datei" + std::to_string(index), std::string(path), "Dateien", file_);
}

void UninstallLog::write_file_count(int last_index) const {
    SetIniValue("AnzDatei", std::to_string(last_index), "Dateien", file_);
}

void UninstallLog::write_title(std::string_view title) const {
    SetIniValue("Titel", std::string(title), "Uninstall", file_);
}

void UninstallLog::write_group(std::string_view group_folder) const {
    SetIniValue("GroupName", std::string(group_folder), "Links", file_);
}

void UninstallLog::write_link(int j, std::string_view link_file) const {
    SetIniValue("Link" + std::to_string(j), std::string(link_file), "Links", file_);
}

void UninstallLog::write_link_count(int count) const {
    SetIniValue("AnzLinks", std::to_string(count), "Links", file_);
}

}  // namespace setup

#include "setup/uninstall_log.h"

#include "setup/script.h"

namespace setup {

using N = UninstallLogNames;

UninstallLog::UninstallLog(std::string_view install_folder)
    : file_(std::string(install_folder) + "\\" + std::string(kUninstallLogName)) {}

void UninstallLog::write_file(int index, std::string_view path) const {
    SetIniValue(N::file(index), std::string(path), N::files_section, file_);
}

void UninstallLog::write_file_count(int last_index) const {
    SetIniValue(N::file_count, std::to_string(last_index), N::files_section, file_);
}

void UninstallLog::write_title(std::string_view title) const {
    SetIniValue(N::title, std::string(title), N::uninstall_section, file_);
}

void UninstallLog::write_group(std::string_view group_folder) const {
    SetIniValue(N::group, std::string(group_folder), N::links_section, file_);
}

void UninstallLog::write_link(int j, std::string_view link_file) const {
    SetIniValue(N::link(j), std::string(link_file), N::links_section, file_);
}

void UninstallLog::write_link_count(int count) const {
    SetIniValue(N::link_count, std::to_string(count), N::links_section, file_);
}

}  // namespace setup

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

void UninstallLog::write_folder_created(bool created) const {
    SetIniValue(N::folder_created, created ? "1" : "0", N::uninstall_section, file_);
}

bool UninstallLog::folder_created_before() const {
    return GetIniValue(N::folder_created, N::uninstall_section, file_) == "1";
}

void UninstallLog::write_folder(int j, std::string_view folder) const {
    SetIniValue(N::folder(j), std::string(folder), N::folders_section, file_);
}

void UninstallLog::write_folder_count(int count) const {
    SetIniValue(N::folder_count, std::to_string(count), N::folders_section, file_);
}

int UninstallLog::folder_count_before() const {
    const std::string v = GetIniValue(N::folder_count, N::folders_section, file_);
    int n = 0;
    for (char c : v) {
        if (c < '0' || c > '9' || n > 10000) return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace setup

// The settings and path rules where they meet the platform: files, directory search, drive
// kinds and network connections.
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/paths.h"

#include "morvo/path_rules.h"
#include "morvo/settings.h"

namespace morvo {

std::string settings_folder() {
    return platform::program_data_folder(platform::ProgramData::Settings, "morvolan");
}

std::string run_log_folder() {
    return platform::program_data_folder(platform::ProgramData::Logs, "morvolan");
}

bool settings_file_exists(const std::string& windows_path) {
    try {
        return !platform::Dir(windows_path).empty();
    } catch (const std::exception&) {
        return false;
    }
}

bool read_settings_file(const std::string& windows_path, std::string& utf8_text) {
    try {
        auto bytes = platform::read_file(windows_path);
        if (!bytes) return false;
        utf8_text = platform::cp1252_to_utf8(*bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void write_text_file(const std::string& windows_path, std::string_view utf8_text) {
    platform::write_file(windows_path, platform::utf8_to_cp1252(utf8_text));
}

PathProbe platform_probe() {
    PathProbe p;
    p.dir_search = [](const std::string& path) {
        return platform::Dir(path, platform::vbDirectory);
    };
    p.is_directory = [](const std::string& path) { return platform::PathIsDirectoryA(path); };
    p.drive_type = [](const std::string& path) {
        return static_cast<int>(platform::GetDriveTypeA(path));
    };
    return p;
}

std::string netzpfad_ermitteln(std::string_view path) {
    if (path.empty()) return {};
    std::string device;
    device += path[0];
    device += ':';
    unsigned long length = 0;
    if (platform::WNetGetConnectionA(device, nullptr, &length) != platform::ERROR_MORE_DATA)
        return {};
    std::string buffer(length, ' ');
    if (platform::WNetGetConnectionA(device, buffer.data(), &length) != platform::NO_ERROR)
        return {};
    auto nul = buffer.find('\0');
    if (nul != std::string::npos) buffer.resize(nul);
    return buffer;
}

}  // namespace morvo

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

namespace {
// A file a person may edit: read in the form it has; a new one is UTF-8 with LF. Plain ASCII
// stays as it is and takes new umlauts in UTF-8.
const platform::TextForm kPersonsFile{true, false, "\n"};
}  // namespace

bool read_settings_file(const std::string& windows_path, std::string& utf8_text) {
    try {
        auto bytes = platform::read_file(windows_path);
        if (!bytes) return false;
        utf8_text = platform::text_from_file(*bytes, platform::text_form_of(*bytes, kPersonsFile));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void write_text_file(const std::string& windows_path, std::string_view utf8_text) {
    platform::TextForm form = kPersonsFile;
    try {
        if (auto old = platform::read_file(windows_path)) form = platform::text_form_of(*old, form);
    } catch (const std::exception&) {
        // Unreadable: written anew.
    }
    platform::write_file(windows_path, platform::text_to_file(utf8_text, form));
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

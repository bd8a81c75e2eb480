#include "platform/fonts.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"

extern char** environ;

namespace platform {

namespace fs = std::filesystem;

namespace {

bool looks_like_font(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    char head[16] = {};
    in.read(head, sizeof head);
    auto got = in.gcount();
    if (got < 4) return false;
    std::string_view h(head, static_cast<size_t>(got));
    if (h.substr(0, 4) == std::string_view("\0\1\0\0", 4)) return true;  // TrueType
    for (std::string_view tag : {"OTTO", "true", "typ1", "ttcf"})
        if (h.substr(0, 4) == tag) return true;
    if (static_cast<unsigned char>(head[0]) == 0x80 && head[1] == 1) return true;  // Type 1 (pfb)
    return h.starts_with("%!PS-AdobeFont") || h.starts_with("%!FontType1");
}

std::string find_in_path(const char* name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        auto colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (dir.empty()) continue;
        std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Refreshes fontconfig's cache of the one folder, so running programs see the font at once.
void refresh_cache(const std::string& folder) {
    static const std::string fc_cache = find_in_path("fc-cache");
    if (fc_cache.empty()) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string arg0 = "fc-cache";
    char* argv[] = {arg0.data(), const_cast<char*>(folder.c_str()), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, fc_cache.c_str(), &actions, nullptr, argv, environ) == 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

std::string user_font_folder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (data && *data == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home ? home : "/") / ".local" / "share";
    }
    return (base / "fonts" / "veltrin").string();
}

int AddFontResourceA(std::string_view file) {
    try {
        fs::path font = host_path(std::string(file));
        std::error_code ec;
        if (!fs::is_regular_file(font, ec) || !looks_like_font(font)) return 0;
        fs::path folder = user_font_folder();
        fs::create_directories(folder, ec);
        // A link, not a copy: the font stays the installed file, and goes with it.
        fs::path link = folder / font.filename();
        fs::path absolute = fs::absolute(font, ec);
        fs::remove(link, ec);
        fs::create_symlink(absolute, link, ec);
        if (ec) return 0;
        refresh_cache(folder.string());
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace platform

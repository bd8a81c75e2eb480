#include "platform/help.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/transcript.h"

namespace platform {
namespace {

HelpState& state() {
    static HelpState s;
    return s;
}

// A bare file name is looked up where the program lives (beside the package's setup).
std::string resolve(std::string_view file) {
    std::string f(file);
    if (f.find('\\') == std::string::npos && f.find('/') == std::string::npos) {
        std::string dir = app_path();
        if (!dir.empty() && dir.back() != '\\') dir += '\\';
        return dir + f;
    }
    return f;
}

}  // namespace

bool WinHelpA(long hwnd, std::string_view help_file, unsigned int command, unsigned long data) {
    HelpState& s = state();
    if (command == HELP_QUIT) {
        transcript_line("help closed");
        s = HelpState{};
        return true;
    }
    std::string path = resolve(help_file);
    s.open = true;
    s.file = path;
    s.context = command == HELP_CONTEXT ? data : 0;
    s.file_exists = file_exists(path);
    transcript_line("help " + transcript_quote(path) + " " + std::to_string(s.context));
    if (s.file_exists) ShellExecuteA(hwnd, "Open", path, "", "", 1);
    return true;
}

HelpState help_state() {
    return state();
}
void reset_help_state() {
    state() = HelpState{};
}

}  // namespace platform

#pragma once
// WinHelpA: the help file of a package. The layer opens the file with the desktop's handler when
// it exists, and remembers which file and context topic were asked for, so that closing the
// owner window can close it again. Each call writes a `help` line to the transcript.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

constexpr unsigned int HELP_CONTEXT = 1;
constexpr unsigned int HELP_QUIT = 2;

// Returns true when the request was taken (the file is recorded even when it does not exist).
bool WinHelpA(long hwnd, std::string_view help_file, unsigned int command, unsigned long data);

struct HelpState {
    bool open = false;
    std::string file;  // Windows path as given
    unsigned long context = 0;
    bool file_exists = false;
};
HelpState help_state();
void reset_help_state();

}  // namespace platform

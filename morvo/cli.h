// The command lines beside the window: "--run" (the Start button's run), "--dry-run" (what a
// run would file, changing nothing) and "--reattach" (filed attachments back into their mails).
// No display is needed: nothing here touches a window.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace morvo {

inline constexpr int kExitDone = 0;
inline constexpr int kExitStayed = 1;     // some attachments or folders stayed (reported)
inline constexpr int kExitCannotRun = 2;  // settings, storage folder or mail store unusable

// True when the arguments (without the program name) ask for a command-line mode.
bool is_command_line(const std::vector<std::string>& args);

// Runs the mode; returns the exit status. `progress` asks for a progress line on `err`.
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool progress);

}  // namespace morvo

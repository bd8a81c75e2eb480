#pragma once
// `Uninstall.exe /S`: the whole uninstall run without a window and without questions. It needs
// no display.
#include <string>
#include <vector>

namespace uninstall {

// 1 when the arguments ask for the silent run, 0 for the windowed program (no option given),
// 2 for a wrong command line (message in `error`).
int parse_uninstall_command_line(const std::vector<std::string>& args, std::string& error);

// Removes what the log lists, then starts the batch that removes the program and its folder
// once this program has ended. Exit status: 0 done, 1 when the log is missing or something it
// lists is still there.
int run_silent_uninstall();

}  // namespace uninstall

#pragma once
// The install without windows: `setup /S [/D=FOLDER] [/LOG=FILE] [/NORESTART]`. It takes the
// same steps as the wizard's install run (unpacking the resources, the install run, the finish
// page's programs and restart), with message boxes answered by their default button and
// written to the log and standard error. It needs no display.
#include <string>
#include <vector>

namespace setup {

struct SilentOptions {
    std::string folder;    // Windows path of the install folder; empty: the script's InstallPath
    std::string log_file;  // host path of the log; empty: no log
    bool no_restart = false;
};

struct SetupCommandLine {
    bool silent = false;  // false: the windowed program, unchanged
    SilentOptions options;
    std::string error;  // a wrong command line: the message (exit status 2)
};

// Reads the arguments after the program name. Options are case-insensitive; any argument
// starting with "/" makes the command line an option list, which must hold /S.
SetupCommandLine parse_setup_command_line(const std::vector<std::string>& args);

// Exit status of setup /S and Uninstall.exe /S.
enum SilentStatus { kSilentDone = 0, kSilentFailed = 1, kSilentUsage = 2 };

// Runs the install; returns a SilentStatus.
int run_silent_install(const SilentOptions& options);

}  // namespace setup

#pragma once
// The command-line conventions every program keeps, decided before any window exists (so they
// need no display): --help (also -h, and "/?" for the programs that take Windows-style
// options) and --version answer on standard output with status 0; an unknown option gets a
// usage line on standard error and status 2.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr int kExitUsage = 2;

enum class StandardRequest { none, help, version };

// Help or version asked for anywhere on the command line (help wins).
StandardRequest standard_request(const std::vector<std::string>& args, bool windows_style);

// The --version answer: "PROGRAM VERSION" and a line end.
std::string version_text(std::string_view program);

// Prints the help text or the version on standard output when one was asked for and returns
// 0; returns -1 when neither was.
int answer_standard_request(const std::vector<std::string>& args, std::string_view program,
                            std::string_view help, bool windows_style = false);

// Writes "PROGRAM: MESSAGE" and the usage line to standard error; returns kExitUsage.
int usage_error(std::string_view program, std::string_view message, std::string_view usage);

// "--name" and "--name=value": an option in the long form.
inline bool is_long_option(std::string_view arg) {
    return arg.size() > 2 && arg.substr(0, 2) == "--";
}

}  // namespace platform

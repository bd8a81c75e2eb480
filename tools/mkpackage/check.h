#pragma once
// The package checker (`mkpackage --check SOURCE`): reads a package source as setup will and
// reports what would go wrong, each problem with the line of the script it concerns. Errors make
// the install fail or do something else than the author meant; warnings are worth a look.
#include <string>
#include <vector>

namespace mkpackage {

enum class Severity { Warning, Error };

struct Problem {
    int line = 0;  // 1-based line of Setup.INX; 0 when the problem has no line
    Severity severity = Severity::Error;
    std::string message;
};

struct CheckReport {
    std::string script;  // host path of Setup.INX ("" when missing)
    std::vector<Problem> problems;
    bool has_errors() const;
};

CheckReport check_source(const std::string& source);

// "PATH:LINE: error: message" (no LINE when the problem has none).
std::string format_problem(const CheckReport& report, const Problem& problem);

}  // namespace mkpackage

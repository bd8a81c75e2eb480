#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/program_options.h"

#include "tools/mkpackage/check.h"
#include "tools/mkpackage/package.h"

namespace {

const char* const usage_line =
    "usage: mkpackage [--bin DIR] SOURCE MEDIUM\n"
    "       mkpackage --check SOURCE\n";
const char* const usage =
    "usage: mkpackage [--bin DIR] SOURCE MEDIUM\n"
    "       mkpackage --check SOURCE\n"
    "Builds a package medium in MEDIUM from the folder SOURCE, which holds Setup.INX, the\n"
    "resources and the product files named by [Dateien] DateiN0.. of the script. The source is\n"
    "checked first; a source with errors is refused.\n"
    "  --bin DIR  where extractor, setup and uninstall are (default: where the install puts\n"
    "             them, else mkpackage's own folder)\n"
    "  --check    only checks SOURCE: exit 1 on errors, 0 when there are only warnings\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "Exit status: 0 built (or checked without errors), 1 errors or failure, 2 wrong command "
    "line.\n";

std::string own_folder() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Where the programs of a medium are: beside an installed mkpackage in the folder the install
// puts them (off the PATH), else in mkpackage's own folder (the build's bin/).
std::string default_bin() {
    const std::string own = own_folder();
#ifdef VELTRIN_MEDIUM_PROGRAMS_FROM_BIN
    const std::string installed = own + "/" VELTRIN_MEDIUM_PROGRAMS_FROM_BIN;
    if (::access((installed + "/extractor").c_str(), X_OK) == 0) return installed;
#endif
    return own;
}

// Prints the checker's findings; true when there are errors.
bool report_check(const std::string& source) {
    const auto report = mkpackage::check_source(source);
    int errors = 0, warnings = 0;
    for (const auto& p : report.problems) {
        std::fprintf(stderr, "%s\n", mkpackage::format_problem(report, p).c_str());
        (p.severity == mkpackage::Severity::Error ? errors : warnings)++;
    }
    if (errors + warnings > 0)
        std::fprintf(stderr, "mkpackage: %d error(s), %d warning(s)\n", errors, warnings);
    return errors > 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string bin = default_bin();
    std::string args[2];
    int count = 0;
    bool check_only = false;
    const std::vector<std::string> all(argv + 1, argv + argc);
    if (const int status = platform::answer_standard_request(all, "mkpackage", usage); status >= 0)
        return status;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--check")) {
            check_only = true;
        } else if (!std::strcmp(argv[i], "--bin") && i + 1 < argc) {
            bin = argv[++i];
        } else if (argv[i][0] == '-') {
            return platform::usage_error("mkpackage", std::string("unknown option ") + argv[i],
                                         usage_line);
        } else if (count < 2) {
            args[count++] = argv[i];
        } else {
            count = 3;
        }
    }
    if (count != (check_only ? 1 : 2))
        return platform::usage_error("mkpackage", "wrong number of folders", usage_line);
    try {
        if (report_check(args[0])) {
            if (!check_only)
                std::fprintf(stderr, "mkpackage: %s has errors: no medium built\n",
                             args[0].c_str());
            return 1;
        }
        if (check_only) return 0;
        auto result = mkpackage::make_medium(args[0], args[1], bin);
        for (const auto& note : result.notes)
            std::fprintf(stderr, "mkpackage: note: %s\n", note.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkpackage: %s\n", e.what());
        return 1;
    }
    return 0;
}

#include <string>
#include <vector>

#include "platform/program_options.h"
#include "tools/extractor/extractor.h"

namespace {

const char* const kUsage =
    "usage: extractor CABINET FOLDER\\*.* -d -i | extractor CABINET FOLDER\\NAME -d -i -ox\n";
const char* const kHelp =
    "usage: extractor CABINET FOLDER\\*.* -d -i        every file of CABINET into FOLDER\n"
    "       extractor CABINET FOLDER\\NAME -d -i -ox   the file NAME to FOLDER\\NAME, replacing "
    "it\n"
    "Paths are Windows paths (C:\\... or \\\\server\\share\\...) or host paths; unquoted paths "
    "with\n"
    "blanks are joined back. Missing folders are created; names match without regard to case.\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "Exit status: 0 done, 1 failed, 2 wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> tokens(argv + 1, argv + argc);
    // A cabinet path never starts with "--": such a first token is an option.
    if (!tokens.empty() && platform::is_long_option(tokens[0])) {
        if (const int status = platform::answer_standard_request({tokens[0]}, "extractor", kHelp);
            status >= 0)
            return status;
        return platform::usage_error("extractor", "unknown option " + tokens[0], kUsage);
    }
    return extractor::run(tokens);
}

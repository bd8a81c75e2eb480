#include "platform/program_options.h"

#include <cstdio>

#include "veltrin/version.h"

namespace platform {

StandardRequest standard_request(const std::vector<std::string>& args, bool windows_style) {
    StandardRequest found = StandardRequest::none;
    for (const auto& a : args) {
        if (a == "--help" || a == "-h" || (windows_style && a == "/?"))
            return StandardRequest::help;
        if (a == "--version") found = StandardRequest::version;
    }
    return found;
}

std::string version_text(std::string_view program) {
    return std::string(program) + " " + VELTRIN_VERSION + "\n";
}

int answer_standard_request(const std::vector<std::string>& args, std::string_view program,
                            std::string_view help, bool windows_style) {
    switch (standard_request(args, windows_style)) {
        case StandardRequest::help:
            std::fwrite(help.data(), 1, help.size(), stdout);
            break;
        case StandardRequest::version:
            std::fputs(version_text(program).c_str(), stdout);
            break;
        case StandardRequest::none:
            return -1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int usage_error(std::string_view program, std::string_view message, std::string_view usage) {
    std::fprintf(stderr, "%.*s: %.*s\n%.*s", static_cast<int>(program.size()), program.data(),
                 static_cast<int>(message.size()), message.data(), static_cast<int>(usage.size()),
                 usage.data());
    return kExitUsage;
}

}  // namespace platform

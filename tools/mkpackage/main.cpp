#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tools/mkpackage/package.h"

namespace {

const char* usage =
    "usage: mkpackage [--bin DIR] SOURCE MEDIUM\n"
    "Builds a package medium in MEDIUM from the folder SOURCE, which holds Setup.INX, the\n"
    "resources and the product files named by [Dateien] DateiN0.. of the script.\n"
    "  --bin DIR  where extractor, setup and uninstall are (default: mkpackage's own folder)\n";

std::string own_folder() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
    std::string bin = own_folder();
    std::string args[2];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--bin") && i + 1 < argc) {
            bin = argv[++i];
        } else if (count < 2) {
            args[count++] = argv[i];
        } else {
            count = 3;
        }
    }
    if (count != 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        auto result = mkpackage::make_medium(args[0], args[1], bin);
        for (const auto& note : result.notes)
            std::fprintf(stderr, "mkpackage: note: %s\n", note.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkpackage: %s\n", e.what());
        return 1;
    }
    return 0;
}

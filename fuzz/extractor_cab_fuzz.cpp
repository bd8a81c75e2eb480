// The extractor on any cabinet, in both of its command lines (all files into a folder, one file
// to a target): it ends with 0 or 1, and nothing appears outside the target folder.
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "platform/paths.h"
#include "tools/extractor/extractor.h"

namespace {

// Everything below `dir` except the target folder's contents.
std::vector<std::string> outside_target(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string p = e.path().string();
        if (p != dir + "/d.cab" && p != dir + "/out" && p.rfind(dir + "/out/", 0) != 0)
            found.push_back(p);
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string dir = fuzz::scratch() + "/x";
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    fuzz::write_bytes(dir + "/d.cab",
                      std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    const std::string cab = platform::windows_path(dir + "/d.cab");
    const std::string out = platform::windows_path(dir + "/out");
    // The first byte picks the command line and, for one file, the name asked for.
    static const char* const names[] = {"a.txt", "sub\\b.txt", "Setup.INX", "x"};
    std::vector<std::string> tokens{cab};
    if (data[0] & 1) {
        tokens.insert(tokens.end(), {out + "\\" + names[(data[0] >> 1) & 3], "-d", "-i", "-ox"});
    } else {
        tokens.insert(tokens.end(), {out + "\\*.*", "-d", "-i"});
    }
    const int status = extractor::run(tokens);
    fuzz::check(status == 0 || status == 1, "the extractor ends with 0 or 1",
                std::to_string(status));
    const auto stray = outside_target(dir);
    fuzz::check(stray.empty(), "nothing is written outside the target",
                stray.empty() ? "" : stray[0]);
    return 0;
}

// The extractor's command line and its entry-name check, on any input. Lines before an empty
// line name the files that exist; the lines after it are the tokens. Properties: a request
// always names one file (never a path) inside its folder; a name the check lets through stays
// inside the target folder however it is joined.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "tools/extractor/extractor.h"

namespace {

std::vector<std::string> lines_of(std::string_view s) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= s.size()) {
        const std::size_t end = std::min(s.find('\n', pos), s.size());
        out.emplace_back(s.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

void check_entry_name(const std::string& name) {
    const bool safe = extractor::is_safe_entry_name(name);
    if (safe) {
        std::string slashed = name;
        for (char& c : slashed) {
            if (c == '\\') c = '/';
        }
        const std::string joined = std::filesystem::path("/t/" + slashed).lexically_normal();
        fuzz::check(joined.rfind("/t/", 0) == 0 && joined.size() > 3 && joined.back() != '/',
                    "a name let through stays inside the target", name);
        for (char c : name) {
            fuzz::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && c != ':',
                        "a name let through holds no control character or colon", name);
        }
    }
    const std::string utf8 = extractor::cp1252_name_to_utf8(name);
    fuzz::check(fuzz::valid_utf8(utf8), "a converted name is UTF-8", name);
    extractor::match_rank(name, "C:\\x\\" + name);
    extractor::names_equal(name, utf8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto lines = lines_of(std::string_view(reinterpret_cast<const char*>(data), size));
    std::set<std::string> files;
    std::vector<std::string> tokens;
    bool in_tokens = false;
    for (const auto& l : lines) {
        if (!in_tokens && l.empty()) {
            in_tokens = true;
        } else if (in_tokens) {
            tokens.push_back(l);
        } else {
            files.insert(l);
        }
        check_entry_name(l);
    }
    std::string error;
    const auto request = extractor::parse_command_line(
        tokens, [&](const std::string& p) { return files.count(p) > 0; }, error);
    if (!request) {
        fuzz::check(!error.empty(), "a refused command line says why");
        return 0;
    }
    fuzz::check(files.count(request->cabinet) > 0, "the cabinet is an existing file",
                request->cabinet);
    if (!request->name.empty()) {
        fuzz::check(request->name.find_first_of("/\\") == std::string::npos &&
                        request->name != "." && request->name != "..",
                    "one file is one name inside the folder", request->name);
    }
    return 0;
}

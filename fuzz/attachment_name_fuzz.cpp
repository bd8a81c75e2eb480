// The cleaning of attachment names, on any name: the cleaned, time-stamped file name is one
// path component, valid UTF-8, and never "", "." or "..".
#include <string>

#include "fuzz/fuzz_util.h"
#include "morvo/filing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string cleaned = morvo::clean_display_name(raw);
    fuzz::check(fuzz::valid_utf8(cleaned) || !fuzz::valid_utf8(raw),
                "a cleaned UTF-8 name stays UTF-8", raw);
    fuzz::check(cleaned.find_first_of("/\\") == std::string::npos &&
                    cleaned.find('\0') == std::string::npos,
                "a cleaned name holds no separator", cleaned);
    morvo::passes_filter(raw, raw);
    const std::string name = morvo::build_file_name(cleaned, morvo::Stamp{2024, 2, 29, 23, 59, 59});
    fuzz::check(!name.empty() && name != "." && name != "..", "a file name is a name", name);
    fuzz::check(
        name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos,
        "a file name is one path component", name);
    fuzz::check(fuzz::valid_utf8(name) || !fuzz::valid_utf8(raw), "a file name is UTF-8", name);
    return 0;
}

// The private-profile reader on any file, then a write and a read of the same key: the value
// comes back as written, line breaks as "|", blanks at its ends dropped, one pair of quotes
// around it removed.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_util.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace {

// Names of the property's domain: printable ASCII without the characters that end a section
// or key name, so that the written line reads back as the same key.
std::string name_from(std::string raw) {
    std::string out;
    for (char c : raw) {
        if (c > ' ' && c < 0x7f && c != '[' && c != ']' && c != '=' && c != ';') out += c;
    }
    return out.empty() ? "k" : out;
}

std::string expected_value(std::string_view v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\0') break;
        if (v[i] == '\r' || v[i] == '\n') {
            if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') ++i;
            out += '|';
        } else {
            out += v[i];
        }
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    if (out.size() >= 2 && (out.front() == '"' || out.front() == '\'') && out.back() == out.front())
        out = out.substr(1, out.size() - 2);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = name_from(in.ConsumeRandomLengthString(40));
    const std::string key = name_from(in.ConsumeRandomLengthString(40));
    std::string value = in.ConsumeRandomLengthString(200);
    for (char& c : value) {  // printable ASCII and line breaks: the same in Windows-1252
        if ((c < ' ' || c > '~') && c != '\r' && c != '\n') c = '.';
    }
    const std::string file_bytes = in.ConsumeRemainingBytesAsString();

    const std::string host = fuzz::scratch() + "/p.ini";
    fuzz::write_bytes(host, file_bytes);
    const std::string file = platform::windows_path(host);
    platform::profile_cache_clear();
    platform::GetPrivateProfileStringA(section, key, "", 300, file);
    platform::GetPrivateProfileStringA("", "", "", 300, file);

    if (!platform::WritePrivateProfileStringA(section, key, value, file)) return 0;
    const std::string back = platform::GetPrivateProfileStringA(section, key, "\x01", 1000, file);
    const std::string want = expected_value(value);
    fuzz::check(back == want, "a written value reads back",
                "got [" + back + "] want [" + want + "]");
    return 0;
}

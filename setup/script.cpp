#include "setup/script.h"

#include <algorithm>

#include "platform/environment.h"
#include "platform/profile.h"

namespace setup {

namespace {
constexpr std::size_t kBufferSize = 9999;
}

std::string setup_script_path() {
    return platform::Environ("TEMP") + "\\~Veltrin\\Setup.INX";
}

std::string GetIniValue(const std::string& Key, const std::string& Section,
                        const std::string& File) {
    const std::string file = File.empty() ? setup_script_path() : File;
    if (Key.empty()) return "";
    std::string buffer = platform::GetPrivateProfileStringA(Section, Key, "", kBufferSize, file);
    buffer.erase(std::remove(buffer.begin(), buffer.end(), '\0'), buffer.end());
    return buffer;
}

void SetIniValue(const std::string& Key, const std::string& Value, const std::string& Section,
                 const std::string& File) {
    if (Key.empty()) return;
    platform::WritePrivateProfileStringA(Section, Key, Value, File);
}

}  // namespace setup

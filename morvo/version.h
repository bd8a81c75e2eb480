// The program's own version information.
#pragma once

#include <string>

#include "veltrin/version.h"

namespace morvo {

inline constexpr const char* kProgramTitle = "Morvolan";
inline constexpr int kVersionMajor = VELTRIN_VERSION_MAJOR;
inline constexpr int kVersionMinor = VELTRIN_VERSION_MINOR;
inline constexpr int kVersionRevision = VELTRIN_VERSION_PATCH;

// The maker, as the version information and the Info page name it.
inline constexpr const char* kCompanyName = "Veltrin Software GmbH";
inline constexpr const char* kMakerStreet = "Am Lotsenhaus 7";
inline constexpr const char* kMakerPostcode = "24103";
inline constexpr const char* kMakerTown = "Kiel";
inline constexpr const char* kMakerEmail = "info@veltrin.example";
inline constexpr const char* kMakerWeb = "www.veltrin.example";

inline std::string version_text() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

// The Info page text: blank, title and version, empty line, company, street, town, e-mail, web.
inline std::string info_text() {
    const std::string crlf = "\r\n";
    return std::string(" ") + crlf + kProgramTitle + " Version " + version_text() + crlf + crlf +
           kCompanyName + crlf + kMakerStreet + crlf + kMakerPostcode + " " + kMakerTown + crlf +
           kMakerEmail + crlf + kMakerWeb;
}

}  // namespace morvo

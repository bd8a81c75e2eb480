#pragma once
// The line break of the files and texts the programs share with Windows.

#include <string>

namespace platform {

inline const std::string kCrLf = "\r\n";

}  // namespace platform

#pragma once
// Access to the setup script (an INI file) and the uninstall log.

#include <string>

namespace setup {

// The value of Key in Section of File ("" when File is empty: the value of "TEMP" followed by
// "\~Veltrin\Setup.INX"). A missing file, section or key and an empty value all give "". An
// empty Key reads nothing. Values longer than 9998 characters come back cut.
std::string GetIniValue(const std::string& Key, const std::string& Section,
                        const std::string& File);

// Writes Key=Value into Section of File, creating both when missing. An empty Key writes
// nothing; a refused write is lost silently.
void SetIniValue(const std::string& Key, const std::string& Value, const std::string& Section,
                 const std::string& File);

// The setup script's path: "TEMP" + "\~Veltrin\Setup.INX".
std::string setup_script_path();

}  // namespace setup

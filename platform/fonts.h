#pragma once
// Font registration. A font added here is made known to the desktop's font configuration
// for the current user: a link to the file is placed in the user's font folder
// ($XDG_DATA_HOME/fonts, else ~/.local/share/fonts) and the font cache of that folder is
// refreshed when fc-cache is available.

#include <string>
#include <string_view>

namespace platform {

// Windows path of a font file. Returns the number of fonts added: 1, or 0 when the file is
// missing, is not a TrueType/OpenType/Type 1 font, or could not be registered.
int AddFontResourceA(std::string_view file);

// The user's font folder (host path) that AddFontResourceA registers into.
std::string user_font_folder();

}  // namespace platform

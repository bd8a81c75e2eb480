#pragma once
// A small reader for the licence text: turns RTF into the HTML subset that Qt's rich text
// understands. It keeps paragraphs, line breaks, bold, italic, underline and font sizes, reads
// \'hh bytes as Windows-1252 and \uN as Unicode, and skips destinations (font and colour
// tables, pictures, \* groups). A damaged file yields what could be read, never an error.
#include <string>
#include <string_view>

namespace setup {

std::string rtf_to_html(std::string_view rtf);

}  // namespace setup

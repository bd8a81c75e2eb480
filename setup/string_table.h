#pragma once
// The string table compiled into setup, and the two lookups the windows use.
#include <cstdint>
#include <string>

namespace setup {

// The text of one id; throws platform::Error (326) when the id has no string.
std::string LoadResString(int32_t id);

// The text of `id` joined with its continuation ids (a string ending in "_" continues in the
// next id). `id` ends one past the last id used. Throws like LoadResString for the first id.
std::string GetResText(int16_t& id);

// Converts a Tag or ToolTipText to a string-table id as the windows do: numeric text only,
// 16 bits; throws platform::Error (13 for text, 6 for overflow).
int16_t res_id_from_text(const std::string& text);

bool is_numeric_text(const std::string& text);

}  // namespace setup

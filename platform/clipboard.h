#pragma once
// The clipboard as the add-in uses it: one picture at a time, shared by everything in the
// process (the add-in and its host run in one process).
#include <optional>
#include <string>

namespace platform {

void Clipboard_Clear();
// A picture as the bytes of a bitmap file.
void Clipboard_SetData(std::string bitmap);
std::optional<std::string> Clipboard_GetData();

}  // namespace platform

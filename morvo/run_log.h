// The run log behind "log Speichern": the text of Textbox2 and one CR LF, in a new file
// "morvo_<time stamp>.log" in the program folder.
#pragma once

#include <string>
#include <string_view>

#include "morvo/filing.h"

namespace morvo {

// slogFile: the program folder, "morvo" (after "\" unless the folder is a drive root), the
// time stamp suffix and ".log".
std::string log_file_path(std::string_view program_folder, const Stamp& stamp);

struct LogResult {
    bool ok = false;
    std::string path;
    std::string message;  // why it failed, for the user
};

// Writes the log (Windows-1252, the text followed by CR LF).
LogResult save_run_log(std::string_view program_folder, std::string_view text, const Stamp& stamp);

}  // namespace morvo

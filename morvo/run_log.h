// The run log behind "log Speichern": the text of Textbox2 and a line end, in a new file
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

// Writes the log (a new file: UTF-8 with LF line ends, through write_text_file).
LogResult save_run_log(std::string_view program_folder, std::string_view text, const Stamp& stamp);

}  // namespace morvo

// The run log behind "log Speichern": the run's text and a line end, in a new file
// "morvo_<time stamp>.log" in the program folder.
#pragma once

#include <string>
#include <string_view>

#include "morvo/filing.h"
#include "morvo/run_text.h"

namespace morvo {

// slogFile: the program folder, "morvo" (after "\" unless the folder is a drive root), the
// time stamp suffix and ".log".
std::string log_file_path(std::string_view program_folder, const Stamp& stamp);

struct LogResult {
    bool ok = false;
    std::string path;
    std::string message;  // why it failed, for the user
};

// Writes the log (UTF-8 with LF line ends), replacing a file of that name whole or not at all.
LogResult save_run_log(std::string_view program_folder, const RunText& text, const Stamp& stamp);

}  // namespace morvo

// The command interpreter for batch files (".bat"): the small part of it that uninstallers rely
// on. A batch is 8-bit Windows-1252 text with CR LF line ends; paths in it are Windows paths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What one run of a batch did, line by line (1-based line numbers), for callers and tests.
struct BatchReport {
    struct Line {
        int number = 0;
        std::string text;      // the line as read (UTF-8)
        std::string message;   // what the interpreter printed for it; empty when it went quietly
        bool unknown = false;  // not a command the interpreter knows
    };
    std::vector<Line> lines;
    bool file_found = false;
};

// Reads the whole batch at once, then carries out its lines in order; a line that fails or is
// not a known command is reported (on stderr and in the report) and the next line runs.
// Known commands, in any case: del/erase [/f] [/q] [/s] names..., rd/rmdir [/s] [/q] folder,
// rem, echo, @ in front of a line, ":label" lines (no effect). A batch may delete itself; the
// lines after that still run because the file was read first. Neither rd /s nor del /s ever
// works on a system folder (is_system_folder).
BatchReport run_batch(std::string_view batch_windows_path);

// Starts the batch detached, the way a program starts a batch file and goes on: the
// interpreter process waits until the calling process has ended, then runs the batch. The
// window style is that of Shell (the interpreter has no window here). Writes the transcript's
// start line. Returns the interpreter's process id, 0 when it could not be started.
int start_batch(std::string_view batch_windows_path, int window_style);

// Every program that may start a batch calls this first thing in main(): in the interpreter
// process started by start_batch it runs the batch and returns its exit status; in any other
// process it returns -1 at once and the program goes on normally.
int batch_child_main();

}  // namespace platform

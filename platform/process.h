// Starting programs and waiting for them, as the Windows calls do.
// Command lines follow Windows rules: a quoted program path, or the shortest unquoted prefix
// that names an existing file (also tried with ".exe" added); the rest is the argument text,
// split into arguments by the Windows rules. Program paths are Windows paths.
// A program file is a host executable (ELF, or a script starting with "#!"), or the layer's
// program container: the two bytes "MZ" followed by a host executable, whose payload runs.
// A file starting with neither is not a program and does not start.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Window styles of Shell / show commands of ShellExecuteA. Linux programs open their windows
// as they like; the style is carried for the record only.
enum WindowStyle : long {
    vbHide = 0,
    vbNormalFocus = 1,
    vbMinimizedFocus = 2,
    vbMaximizedFocus = 3,
    vbNormalNoFocus = 4,
    vbMinimizedNoFocus = 6
};

struct CommandLine {
    std::string program;    // Windows path of the program as written (quotes removed)
    std::string arguments;  // the rest of the line, leading blanks removed
    bool found = false;     // program names an existing file
};

// Splits a command line into program and argument text. file_exists decides whether a
// Windows path names an existing file (default: the host file system through host_path).
CommandLine parse_command_line(std::string_view command_line,
                               const std::function<bool(const std::string&)>& file_exists = {});

// The arguments by the Windows rules (blanks and tabs separate; "..." groups; 2n backslashes
// before a quote give n backslashes and the quote delimits; 2n+1 give n and a literal quote;
// "" inside a quoted part is a literal quote).
std::vector<std::string> split_arguments(std::string_view arguments);

// How a file would start: as it is, through its container payload, or not at all.
enum class ProgramKind { NotFound, Host, Container, NotProgram };
ProgramKind program_kind(const std::string& host_path);

// Starts a command line; returns the new process's id. Writes `start "program" "arguments"`.
// Throws platform::Error 53 ("File not found") when the program file is missing and 5
// ("Invalid procedure call or argument") when the file is not a program.
long Shell(std::string_view command_line, long window_style = vbNormalFocus);

// Process handles, as far as the programs use them.
constexpr unsigned long SYNCHRONIZE = 0x100000;
constexpr unsigned long PROCESS_QUERY_INFORMATION = 0x400;
constexpr unsigned long STILL_ACTIVE = 259;
constexpr unsigned long INFINITE = 0xFFFFFFFF;
constexpr unsigned long WAIT_OBJECT_0 = 0;
constexpr unsigned long WAIT_TIMEOUT = 258;
constexpr unsigned long WAIT_FAILED = 0xFFFFFFFF;

using Handle = long;  // 0 is no handle

// 0 when there is no such process (or it has ended and its exit code is gone).
Handle OpenProcess(unsigned long desired_access, bool inherit_handle, long process_id);
// STILL_ACTIVE while it runs; its exit status once it ended (a signal gives 128 + number).
bool GetExitCodeProcess(Handle process, unsigned long& exit_code);
unsigned long WaitForSingleObject(Handle process, unsigned long milliseconds);
bool CloseHandle(Handle handle);

void Sleep(unsigned long milliseconds);

// Lets pending window events be processed (Visual Basic's DoEvents). The window side
// installs the hook; without one it does nothing.
void DoEvents();
void set_do_events_hook(std::function<void()> hook);

// ShellExecuteA: operation "Open" (or empty) starts a program file with the parameters and
// opens any other file or folder with the desktop's handler (xdg-open). The result is > 32 on
// success, 2 when the file is missing, 31 when nothing can open it.
long ShellExecuteA(long hwnd, std::string_view operation, std::string_view file,
                   std::string_view parameters, std::string_view directory, long show_command);

// How documents are opened (tests install a fake). Receives the host path; returns success.
void set_document_opener(std::function<bool(const std::string&)> opener);

// Ends the program (Visual Basic's End). The window side installs a hook that closes the
// windows and leaves; the default flushes the transcript and exits the process. Tests install
// a hook that records the call; then end_program returns.
void end_program(int status = 0);
void set_end_program_hook(std::function<void(int)> hook);

}  // namespace platform

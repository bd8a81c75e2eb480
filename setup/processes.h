#pragma once
// Registering a self-registering component, starting programs and waiting for them, the short
// form of a path, opening a file through the shell, and the cancel question of the wizard.
// Paths and command lines are Windows paths.
#include <string>
#include <string_view>

namespace setup {

// Runs DllRegisterServer (register_flag true) or DllUnregisterServer of a library on a thread
// of its own and waits up to timeout_ms. True when the entry point ran to its end in time,
// whatever it returned; false when the library does not load, lacks the entry point, no thread
// starts, or the time runs out (the thread then goes on and keeps the library loaded until it
// ends).
bool RegisterComponent(std::string_view path, bool register_flag, unsigned long timeout_ms = 10000);

// Starts a command line and blocks until the process ends; no window events meanwhile.
// Returns the program's exit code. Throws platform::Error when the program cannot be started.
unsigned long ShellAndWait(std::string_view command_line, long window_style);

// Waits for a started process, letting window events be processed between 100 ms sleeps.
// A process that cannot be opened ends the wait after one round.
void WaitForProcess(long process_id);

// The short form of a path; empty when the path does not exist.
std::string GetShortPath(std::string_view path);

// Opens a file through the shell with the verb "Open"; the result is not examined.
void ShellOpen(std::string_view file, std::string_view parameters, long show_command);

// Asks whether to abandon the installation. No: returns. Yes: empties and removes the package
// folder TEMP\~Veltrin and ends the program (platform::end_program).
void ConfirmCancel();

// The question's text (also asked by the progress window on Esc).
std::string confirm_cancel_text();

}  // namespace setup

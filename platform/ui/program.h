#pragma once
// The entry every program's main() goes through. It installs the window side of the layer
// (message boxes as QMessageBox or answered by the scripted user, DoEvents, the end of the
// program, window shown/closed lines in the transcript), starts the scripted user when
// VELTRIN_USER_SCRIPT names a script, calls `start` (which shows the first form) and runs the
// event loop.
//
//     int main(int argc, char** argv) {
//         QApplication app(argc, argv);
//         return platform::ui::run_program(app, "Veltrin", [] { (new frmIni)->show(); });
//     }
//
// The result is the program's exit status: 3 when a step of the script failed.
#include <functional>
#include <string_view>

class QApplication;

namespace platform::ui {

int run_program(QApplication& app, std::string_view program_title,
                const std::function<void()>& start);

// Installs only the window side (no script, no event loop): message boxes through
// QMessageBox, DoEvents through processEvents, the transcript's window lines. run_program
// calls it; GUI tests may call it on their own.
void install_window_layer();

// For a form working through a long task: keeps its windows painted and open to a close
// request, and takes no other input meanwhile (neither a person's nor the scripted user's
// steps, which go on once the task is done).
void keep_windows_painted();
// True while keep_windows_painted() runs.
bool painting_only();

}  // namespace platform::ui

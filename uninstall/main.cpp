#include <QApplication>
#include <cstdio>

#include "platform/batch.h"
#include "platform/ui/program.h"
#include "uninstall/forms/Form1.h"
#include "uninstall/silent.h"

int main(int argc, char** argv) {
    // The process that start_batch starts to run "delete.bat" after this program has ended.
    if (const int status = platform::batch_child_main(); status >= 0) return status;
    // "/S" runs before any window code: it must start without a display.
    std::string error;
    switch (uninstall::parse_uninstall_command_line({argv + 1, argv + argc}, error)) {
        case 1:
            return uninstall::run_silent_uninstall();
        case 2:
            std::fprintf(stderr, "uninstall: %s\nAufruf: Uninstall.exe [/S]\n", error.c_str());
            return 2;
        default:
            break;
    }
    QApplication app(argc, argv);
    return platform::ui::run_program(app, "UnVeltrin", [] { uninstall::start_program(); });
}

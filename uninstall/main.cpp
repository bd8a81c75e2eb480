#include <QApplication>

#include "platform/batch.h"
#include "platform/ui/program.h"
#include "uninstall/forms/Form1.h"

int main(int argc, char** argv) {
    // The process that start_batch starts to run "delete.bat" after this program has ended.
    if (const int status = platform::batch_child_main(); status >= 0) return status;
    QApplication app(argc, argv);
    return platform::ui::run_program(app, "UnVeltrin", [] { uninstall::start_program(); });
}

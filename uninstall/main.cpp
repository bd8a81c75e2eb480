#include <QApplication>
#include "platform/batch.h"
#include "platform/program_options.h"
#include "platform/ui/program.h"
#include "uninstall/forms/Form1.h"
#include "uninstall/silent.h"

namespace {

const char* const kUsage = "Aufruf: Uninstall.exe [/S]\n";
const char* const kHelp =
    "Aufruf: Uninstall.exe [/S]\n"
    "Entfernt das Produkt, dessen Installationsordner dieses Programm enthält, nach seinem\n"
    "Deinstallationsprotokoll. Ohne Angaben fragt ein Fenster vorher nach.\n"
    "  /S            entfernt ohne Fenster und ohne Fragen\n"
    "  /?, --help    diese Hilfe\n"
    "  --version     die Version\n"
    "Rückgabe: 0 entfernt, 1 kein Protokoll oder etwas blieb, 2 falscher Aufruf.\n";

}  // namespace

int main(int argc, char** argv) {
    // The process that start_batch starts to run "delete.bat" after this program has ended.
    if (const int status = platform::batch_child_main(); status >= 0) return status;
    // The command lines run before any window code: they must start without a display.
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const int status = platform::answer_standard_request(args, "uninstall", kHelp, true);
        status >= 0)
        return status;
    std::string error;
    switch (uninstall::parse_uninstall_command_line(args, error)) {
        case 1:
            return uninstall::run_silent_uninstall();
        case 2:
            return platform::usage_error("uninstall", error, kUsage);
        default:
            break;
    }
    QApplication app(argc, argv);
    return platform::ui::run_program(app, "UnVeltrin", [] { uninstall::start_program(); });
}

// setup: installs a product from the package medium that holds this program.
#include <QApplication>
#include <QTimer>

#include "platform/program_options.h"
#include "platform/ui/program.h"
#include "setup/forms/frmIni.h"
#include "setup/forms/frmWizard.h"
#include "setup/forms/frmend.h"
#include "setup/silent.h"

namespace {

const char* const kUsage = "Aufruf: setup [/S [/D=ORDNER] [/LOG=DATEI] [/NORESTART]]\n";
const char* const kHelp =
    "Aufruf: setup [/S [/D=ORDNER] [/LOG=DATEI] [/NORESTART]]\n"
    "Installiert das Produkt von dem Datenträger, der dieses Programm enthält. Ohne Angaben\n"
    "führt der Assistent in Fenstern durch die Installation.\n"
    "  /S            installiert ohne Fenster und ohne Fragen\n"
    "  /D=ORDNER     der Installationsordner (/... oder C:\\...), sonst der des Skripts\n"
    "  /LOG=DATEI    schreibt jeden Schritt in ein Protokoll\n"
    "  /NORESTART    fordert nie einen Neustart an\n"
    "  /?, --help    diese Hilfe\n"
    "  --version     die Version\n"
    "Rückgabe: 0 installiert, 1 gescheitert, 2 falscher Aufruf.\n";

}  // namespace

int main(int argc, char** argv) {
    // The command lines run before any window code: they must start without a display.
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const int status = platform::answer_standard_request(args, "setup", kHelp, true);
        status >= 0)
        return status;
    const auto command_line = setup::parse_setup_command_line(args);
    if (!command_line.error.empty())
        return platform::usage_error("setup", command_line.error, kUsage);
    if (command_line.silent) return setup::run_silent_install(command_line.options);

    QApplication app(argc, argv);
    // frmHin's first timer opens the wizard; the install run ends on the finish page.
    setup::install_wizard();
    setup::install_finish_page();
    return platform::ui::run_program(app, "Veltrin", [] {
        auto* start = new setup::frmIni;
        // The start window loads once the event loop runs, as a startup form does.
        QTimer::singleShot(0, start, [start] { start->Form_Load(); });
    });
}

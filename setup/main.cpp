// setup: installs a product from the package medium that holds this program.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "platform/ui/program.h"
#include "setup/forms/frmIni.h"
#include "setup/forms/frmWizard.h"
#include "setup/forms/frmend.h"
#include "setup/silent.h"

int main(int argc, char** argv) {
    // The command-line install runs before any window code: it must start without a display.
    const auto command_line = setup::parse_setup_command_line({argv + 1, argv + argc});
    if (!command_line.error.empty()) {
        std::fprintf(stderr,
                     "setup: %s\nAufruf: setup [/S [/D=ORDNER] [/LOG=DATEI] [/NORESTART]]\n",
                     command_line.error.c_str());
        return setup::kSilentUsage;
    }
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

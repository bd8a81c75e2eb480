// setup: installs a product from the package medium that holds this program.
#include <QApplication>
#include <QTimer>

#include "platform/ui/program.h"
#include "setup/forms/frmIni.h"
#include "setup/forms/frmWizard.h"
#include "setup/forms/frmend.h"

int main(int argc, char** argv) {
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

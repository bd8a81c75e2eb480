#include "setup/forms/addin_window.h"

#include <QEventLoop>
#include <QPointer>

#include "setup/addin.h"
#include "setup/forms/frmWizard.h"

namespace setup {

void install_addin_wizard_window() {
    Wizard::set_wizard_presenter([] {
        // No progress window here: the wizard stands alone, and Next on its last page only
        // closes it.
        QPointer<frmWizard> w = new frmWizard(nullptr);
        w->setWindowModality(Qt::ApplicationModal);
        w->Form_Load();
        w->show();
        QEventLoop loop;
        QObject::connect(w, &QObject::destroyed, &loop, &QEventLoop::quit);
        if (w) loop.exec();
    });
}

}  // namespace setup

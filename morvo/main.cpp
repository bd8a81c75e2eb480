// morvo: the attachment archiver.
#include <QApplication>

#include "morvo/forms/frmMorvo.h"
#include "morvo/version.h"
#include "platform/msgbox.h"
#include "platform/ui/program.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::set_msgbox_program_title(morvo::kProgramTitle);
    return platform::ui::run_program(app, morvo::kProgramTitle, [] {
        auto* form = new morvo::frmMorvo;
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->Form_Load();
        form->show();
    });
}

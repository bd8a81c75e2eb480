// morvo: the attachment archiver.
#include <unistd.h>

#include <QApplication>
#include <iostream>

#include "morvo/cli.h"
#include "morvo/forms/frmKennwort.h"
#include "morvo/forms/frmMorvo.h"
#include "morvo/version.h"
#include "platform/msgbox.h"
#include "platform/ui/program.h"

int main(int argc, char** argv) {
    // The command lines run without a display: decided before any application object exists.
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (morvo::is_command_line(args)) {
        platform::set_msgbox_program_title(morvo::kProgramTitle);
        return morvo::run_command_line(args, std::cout, std::cerr, ::isatty(2) != 0);
    }
    QApplication app(argc, argv);
    platform::set_msgbox_program_title(morvo::kProgramTitle);
    return platform::ui::run_program(app, morvo::kProgramTitle, [] {
        // A found account without its password: the window asks once per session.
        morvo::outlook::set_password_source(morvo::window_password_source());
        auto* form = new morvo::frmMorvo;
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->Form_Load();
        form->show();
    });
}

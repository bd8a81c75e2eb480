#include "setup/forms/frmend.h"

#include <QCloseEvent>

#include "platform/process.h"
#include "setup/forms/frmHin.h"
#include "setup/forms/wizard_controls.h"

namespace setup {
namespace {

constexpr double kWidth = 9000;
constexpr double kHeight = 6600;
constexpr double kPageHeight = 5520;

}  // namespace

frmend::frmend(frmHin* owner) : QWidget(owner), owner_(owner) {
    setObjectName("frmend");
    setWindowFlags(Qt::Window | Qt::Dialog);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Veltrin Wizard");
    resize(twips(kWidth), twips(kHeight));
    setFont(design_font(8, false));

    picSetup = make_control<QLabel>(this, "picSetup", 0, 0, 2700, kPageHeight);
    picSetup->setScaledContents(true);
    lblTilel = make_control<QLabel>(this, "lblTilel", 3000, 360, 5700, 420);
    lblTilel->setText("Fertig des Kopiervorgangs");
    lblTilel->setFont(design_font(12, true));
    lblDes = make_control<QLabel>(this, "lblDes", 3000, 1020, 5700, 480);
    Label1 = make_control<QLabel>(this, "Label1", 3000, 4800, 5700, 480);
    for (QLabel* l : {lblDes, Label1}) {
        l->setText("Klicken Sie auf 'Weiter', um das Setup zu beenden.");
        l->setWordWrap(true);
    }
    for (int i = 0; i < 3; ++i) {
        chkOption[i] = make_control<QCheckBox>(this, QString("chkOption%1").arg(i + 1), 3000,
                                               1920 + i * 600, 300, 360);
        lblOption[i] = make_control<QLabel>(this, QString("lblOption%1").arg(i + 1), 3360,
                                            1920 + i * 600, 5340, 360);
        chkOption[i]->hide();
        lblOption[i]->hide();
    }

    picNav = make_control<QFrame>(this, "picNav", 0, kPageHeight, kWidth, kHeight - kPageHeight);
    const QString captions[4] = {"", "Abbrechen", "<< Zurück", "Fertig stellen >>"};
    const double lefts[4] = {0, 7260, 3900, 5580};
    for (int i = 1; i <= 3; ++i) {
        cmdN[i] =
            make_control<QPushButton>(picNav, QString("cmdN(%1)").arg(i), lefts[i], 300, 1560, 480);
        cmdN[i]->setText(captions[i]);
        cmdN[i]->setEnabled(i == 3);
        connect(cmdN[i], &QPushButton::clicked, this, [this, i] { cmdN_Click(i); });
    }
}

void frmend::Form_Load() {
    picSetup->setPixmap(package_picture("Wizard.jpg"));
    if (owner_) owner_->set_step_state(StepState::Finished);
    FinishOptions o = prepare_finish_options();
    for (int i = 0; i < 3; ++i) {
        chkOption[i]->setVisible(o[i].visible);
        chkOption[i]->setChecked(o[i].checked);
        chkOption[i]->setProperty("Tag", q(o[i].Tag));
        lblOption[i]->setVisible(o[i].visible);
        lblOption[i]->setText(q(o[i].label));
    }
}

FinishOptions frmend::options() const {
    FinishOptions o;
    for (int i = 0; i < 3; ++i) {
        o[i].visible = chkOption[i]->isVisible();
        o[i].checked = chkOption[i]->isChecked();
        o[i].Tag = s(chkOption[i]->property("Tag").toString());
        o[i].label = s(lblOption[i]->text());
    }
    return o;
}

void frmend::cmdN_Click(int) {
    if (finished_) return;
    finished_ = true;
    finish_setup(options());
    platform::end_program(0);
}

void frmend::closeEvent(QCloseEvent* event) {
    // Closing the page without its button still finishes setup, but starts nothing the user was
    // asked about and requests no restart.
    if (!finished_) {
        finished_ = true;
        finish_setup_closed();
        event->accept();
        platform::end_program(0);
        return;
    }
    event->accept();
}

void install_finish_page() {
    frmHin::set_finish_page_opener([](frmHin& hin) {
        auto* page = new frmend(&hin);
        page->Form_Load();
        page->show();
    });
}

}  // namespace setup

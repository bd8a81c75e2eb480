#include "setup/forms/frmend.h"

#include <QCloseEvent>
#include <QPainter>

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
    make_dialog_window(this, "frmend");
    setWindowTitle("Veltrin Wizard");
    resize(twips(kWidth), twips(kHeight));
    setFont(design_font(8, false));

    // The window's picture is drawn at its own size from the top left corner (paintEvent); the
    // side panel holds nothing of its own.
    picSetup = make_control<QLabel>(this, "picSetup", 0, 1200, 2400, kPageHeight - 1200);
    picSetup->setStyleSheet("background: #dde8f3;");
    lblTilel = make_control<QLabel>(this, "lblTilel", 2700, 1320, 6000, 420);
    lblTilel->setText("Fertig des Kopiervorgangs");
    lblTilel->setFont(design_font(12, true));
    lblDes = make_control<QLabel>(this, "lblDes", 2700, 1860, 6000, 480);
    Label1 = make_control<QLabel>(this, "Label1", 2700, 4860, 6000, 480);
    for (QLabel* l : {lblDes, Label1}) {
        l->setText("Klicken Sie auf 'Weiter', um das Setup zu beenden.");
        l->setWordWrap(true);
    }
    for (int i = 0; i < 3; ++i) {
        chkOption[i] = make_control<QCheckBox>(this, QString("chkOption%1").arg(i + 1), 2700,
                                               2700 + i * 540, 300, 360);
        lblOption[i] = make_control<QLabel>(this, QString("lblOption%1").arg(i + 1), 3060,
                                            2700 + i * 540, 5640, 360);
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
    picture_ = package_picture("Wizard.jpg");
    if (owner_) move((owner_->width() - width()) / 2, (owner_->height() - height()) / 2);
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

void frmend::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (picture_.isNull()) return;
    QPainter p(this);
    p.drawPixmap(0, 0, picture_);
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
    frmHin::set_finish_page_opener(open_form_over<frmend, frmHin>);
}

}  // namespace setup

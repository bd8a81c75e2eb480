#include "setup/forms/frmWizard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>

#include "platform/error.h"
#include "platform/help.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/resume.h"
#include "setup/forms/form_scaling.h"
#include "setup/forms/frmHin.h"
#include "setup/forms/frmSearchFolder.h"
#include "setup/forms/res_texts.h"
#include "setup/placeholders.h"
#include "setup/processes.h"
#include "setup/rtf.h"
#include "setup/script.h"

namespace setup {
namespace {

// Design size of the wizard in twips.
constexpr double kWidth = 9000;
constexpr double kHeight = 6600;
constexpr double kPageHeight = 5520;
constexpr double kOutOfSight = -20000;

void set_tag(QWidget* w, int id) {
    w->setProperty("Tag", QString::number(id));
}

}  // namespace

frmWizard::frmWizard(frmHin* owner, QWidget* parent)
    : QWidget(parent ? parent : static_cast<QWidget*>(owner)), owner_(owner) {
    make_dialog_window(this, "frmWizard");
    set_tag(this, 10);
    build();
}

frmWizard::~frmWizard() = default;

QLabel* frmWizard::static_label(QWidget* parent, const QString& name, const QString& text, double l,
                                double t, double w, double h, double points, bool bold) {
    auto* lbl = make_control<QLabel>(parent, name, l, t, w, h);
    lbl->setText(text);
    lbl->setWordWrap(true);
    lbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbl->setFont(design_font(points, bold));
    return lbl;
}

// The pages and the navigation bar, created in the order the tab order and stacking follow.
void frmWizard::build() {
    resize(twips(kWidth), twips(kHeight));
    setFont(design_font(8, false));
    build_page_frames();
    build_welcome_page(fraStep[0]);
    build_licence_page(fraStep[1]);
    build_folder_page(fraStep[2]);
    build_group_page(fraStep[3]);
    build_summary_page(fraStep[4]);
    build_navigation_bar();
}

// Every page's frame with its title picture, title and subtitle.
void frmWizard::build_page_frames() {
    const QString titles[kWizardPages][2] = {
        {"Willkommen beim Setup", ""},
        {"Lizenzvertrag", "Lesen Sie sich die Bestimmungen des Lizenzvertrages genau durch."},
        {"Programmverzeichnis", "Wählen Sie ein Programmverzeichnis aus."},
        {"Programmgruppe", "Wählen Sie eine Programmgruppe aus."},
        {"Fertig zum Installieren",
         "Klicken Sie auf 'Weiter', um mit der Installation zu beginnen."},
    };
    const int frame_tags[kWizardPages] = {1000, 2000, 2002, 2004, 2006};

    for (int i = 0; i < kWizardPages; ++i) {
        auto* f =
            make_control<QFrame>(this, QString("fraStep(%1)").arg(i), 0, 0, kWidth, kPageHeight);
        f->setProperty("Caption", QString());
        set_tag(f, frame_tags[i]);
        fraStep[i] = f;
        picTitle[i] = make_control<QLabel>(f, QString("picTitle(%1)").arg(i), 0, 0, kWidth, 1000);
        picTitle[i]->setScaledContents(true);
        auto* t = static_label(f, QString("lblTitle(%1)").arg(i), titles[i][0], 360, 150, 8000, 360,
                               11, true);
        auto* st = static_label(f, QString("lblSubTitle(%1)").arg(i), titles[i][1], 540, 540, 8000,
                                330, 8);
        for (QLabel* l : {t, st}) l->setAttribute(Qt::WA_TranslucentBackground);
        if (i == 0) set_tag(t, 1001);
        if (i == 1) {
            set_tag(t, 2000);
            set_tag(st, 2001);
        }
        lblStep[i] = nullptr;
    }
}

void frmWizard::build_welcome_page(QFrame* p) {
    lblW1 = static_label(p, "lblW1", "", 540, 1260, 7920, 700, 9);
    static_label(p, "lblWeiter", "Klicken Sie auf \"Weiter\", um fortzufahren.", 540, 2100, 7920,
                 300);
    static_label(p, "lblHinweis", "Hinweis: Bitte schließen Sie alle Programme mit Alt-Tab. ", 540,
                 2460, 7920, 300);
    static_label(p, "lblInformation",
                 "Informationen: Sie können mit diesem Programm das Produkt installieren. Für "
                 "nicht korrekte installation haftet der Hersteller:",
                 540, 3000, 7920, 480);
    lblWHersteller = static_label(p, "lblWHersteller", "", 540, 3500, 7920, 300, 8, true);
    static_label(p, "lblTool1", q(tool_line_1()), 540, 4440, 7920, 300);
    static_label(p, "lblTool2", q(tool_line_2()), 540, 4740, 7920, 300);
}

void frmWizard::build_licence_page(QFrame* p) {
    static_label(p, "lblLizenzHinweis",
                 "Lesen Sie sich die Bestimmungen des Lizenzvertrages genau durch. Wenn Sie "
                 "nicht zustimmen, klicken Sie bitte auf \"Abbrechen\". Wenn Sie fortfahren, "
                 "stimmen Sie automatisch den Lizenzbestimmungen zu.",
                 360, 1080, 8280, 660);
    Lizenz = make_control<QTextBrowser>(p, "Lizenz", 360, 1800, 8280, 3600);
    Lizenz->setOpenLinks(false);
}

void frmWizard::build_folder_page(QFrame* p) {
    lblStep[2] = static_label(p, "lblStep(2)", "", 540, 1260, 7920, 600);
    Frame1 = make_control<QGroupBox>(p, "Frame1", 540, 2160, 7920, 1200);
    Frame1->setTitle("Verzeichnis");
    InstallPath = make_control<QLabel>(Frame1, "InstallPath", 180, 480, 5880, 330);
    InstallPath->setFont(design_font(8, false));
    cmdSearch = make_control<QPushButton>(Frame1, "cmdSearch", 6240, 420, 1500, 420);
    cmdSearch->setText("Durchsuchen");
    connect(cmdSearch, &QPushButton::clicked, this, [this] { cmdSearch_Click(); });
}

void frmWizard::build_group_page(QFrame* p) {
    static_label(p, "lblGruppe", "Programmgruppe:", 540, 1260, 7920, 300);
    Programmgruppe = make_control<QLineEdit>(p, "Programmgruppe", 540, 1590, 7920, 360);
    static_label(p, "lblGruppeHinweis",
                 "Sie müssen eine Programmgruppe wählen, um das Programm zu öffnen. Diese "
                 "Programmgruppe wird im 'Startmenü' angelegt. Durch einen Klick auf 'Start', "
                 "und auf 'Programme' oder 'Alle Programme' genügt.",
                 540, 2220, 7920, 900);
}

void frmWizard::build_summary_page(QFrame* p) {
    static_label(p, "lblBereit",
                 "Der Assistent hat jetzt alle benötigten Informationen, um das Produkt zu "
                 "installieren. Klicken Sie jetzt auf 'Weiter', um mit der Installation zu "
                 "beginnen. Klicken Sie auf 'Zurück', um Installationsinformationen zu ändern.",
                 360, 1140, 8280, 900);
    static_label(p, "lblKomp", "Gewählte Einstellungen:", 360, 2130, 4000, 300, 8, true);
    static_label(p, "lblStand", "Standard Einstellungen:", 4640, 2130, 4000, 300, 8, true);
    lstKomp = make_control<QListWidget>(p, "lstKomp", 360, 2460, 4000, 2880);
    lstStand = make_control<QListWidget>(p, "lstStand", 4640, 2460, 4000, 2880);
}

// Back, Next, Cancel from left to right, each a flat button under a label that shows it.
void frmWizard::build_navigation_bar() {
    picNav = make_control<QFrame>(this, "picNav", 0, kPageHeight, kWidth, kHeight - kPageHeight);
    picNav->setFrameShape(QFrame::HLine);
    picNav->setFrameShape(QFrame::NoFrame);
    const QString captions[4] = {"", "Abbrechen", "<< Zurück", "Weiter >>"};
    const double lefts[4] = {0, 7260, 3900, 5580};
    for (int i = 1; i <= 3; ++i) {
        cmdNav[i] = make_control<QPushButton>(picNav, QString("cmdNav(%1)").arg(i), lefts[i], 300,
                                              1560, 480);
        cmdNav[i]->setFlat(true);
        connect(cmdNav[i], &QPushButton::clicked, this, [this, i] { cmdNav_Click(i); });
        cmdN[i] =
            make_control<ClickLabel>(picNav, QString("cmdN(%1)").arg(i), lefts[i], 300, 1560, 480);
        cmdN[i]->setText(captions[i]);
        cmdN[i]->setAlignment(Qt::AlignCenter);
        cmdN[i]->setFont(design_font(8, true));
        cmdN[i]->on_click = [this, i] { cmdN_Click(i); };
    }
    lblInfo = make_control<ClickLabel>(picNav, "lblInfo", 240, 300, 1200, 480);
    lblInfo->setCursor(Qt::WhatsThisCursor);
    lblInfo->on_click = [this] { lblInfo_Click(); };
}

void frmWizard::Form_Load() {
    // Centred over the progress window, which fills the screen.
    if (owner_) move((owner_->width() - width()) / 2, (owner_->height() - height()) / 2);
    // The pictures are loaded without checks, as the pages' own procedures do.
    QPixmap title = package_picture("Wizard.jpg");
    for (QLabel* pic : picTitle) pic->setPixmap(title);
    QPixmap button = package_picture("button.bmp");
    for (int i = 1; i <= 3; ++i) {
        cmdNav[i]->setIcon(QIcon(button));
        cmdNav[i]->setIconSize(cmdNav[i]->size());
    }
    product_ = GetIniValue("ProduktName", "Main", "");
    for (QFrame* f : fraStep) {
        f->move(twips(kOutOfSight), f->y());
        f->hide();
    }
    ApplyResTexts(this);
    Programmgruppe->setText(q(GetIniValue("Programmgruppe", "Main", "")));
    switches_ = read_page_switches();
    ShowStep(first_page(switches_));
}

void frmWizard::ShowStep(int page) {
    if (page < 0 || page >= kWizardPages) return;
    switch (page) {
        case 0:
            lblW1->setText(q(welcome_sentence(product_)));
            lblWHersteller->setText(q(GetIniValue("Hersteller", "Main", "")));
            break;
        case 1: {
            QFile f(package_file("Lizenz.rtf"));
            std::string rtf;
            if (f.open(QIODevice::ReadOnly)) rtf = f.readAll().toStdString();
            Lizenz->setHtml(q(rtf_to_html(rtf)));
            break;
        }
        case 2:
            lblStep[2]->setText(q(folder_instruction(product_)));
            InstallPath->setText(q(
                platform::shown_path(ExpandPlaceholders(GetIniValue("InstallPath", "Main", "")))));
            break;
        case 4: {
            lstKomp->clear();
            lstStand->clear();
            for (const auto& line :
                 chosen_settings(product_, install_folder(), s(Programmgruppe->text()))) {
                lstKomp->addItem(q(line));
            }
            for (const auto& line :
                 default_settings(product_, GetIniValue("InstallPath", "Main", ""),
                                  GetIniValue("Programmgruppe", "Main", ""))) {
                lstStand->addItem(q(line));
            }
            break;
        }
        default:
            break;
    }
    fraStep[current_]->setEnabled(false);
    fraStep[page]->move(0, fraStep[page]->y());
    fraStep[page]->show();
    if (page != current_) {
        fraStep[current_]->move(twips(kOutOfSight), fraStep[current_]->y());
        fraStep[current_]->hide();
    }
    fraStep[page]->setEnabled(true);
    SetWizardCaption();
    SetNavButtons(page);
}

void frmWizard::SetNavButtons(int page) {
    current_ = page;
    NavButtons before{cmdNav[2]->isEnabled(), cmdNav[3]->isEnabled()};
    NavButtons after = nav_buttons(page, switches_, before);
    cmdNav[2]->setEnabled(after.back_enabled);
    cmdNav[3]->setEnabled(after.next_enabled);
    cmdNav[1]->setEnabled(true);
    for (int i = 1; i <= 3; ++i) cmdN[i]->setEnabled(cmdNav[i]->isEnabled());
}

void frmWizard::SetWizardCaption() {
    setWindowTitle("Veltrin Wizard");
}

void frmWizard::cmdNav_Click(int Index) {
    NavAction a = navigate(Index, current_, switches_);
    switch (a.kind) {
        case NavKind::Help:
            platform::WinHelpA(static_cast<long>(winId()), kHelpFile, platform::HELP_CONTEXT,
                               static_cast<unsigned long>(help_context(current_)));
            help_shown_ = true;
            break;
        case NavKind::Cancel:
            ConfirmCancel();
            break;
        case NavKind::ShowStep:
            // Leaving the folder page forward: a folder that holds entries is asked about.
            if (current_ == 2 && a.page > 2 && !confirm_install_folder(install_folder())) break;
            ShowStep(a.page);
            break;
        case NavKind::StartInstallation:
            start_installation();
            break;
        case NavKind::Nothing:
            break;
    }
}

void frmWizard::cmdN_Click(int Index) {
    platform::resume_on_error<platform::Error>([&] {
        if (Index >= 1 && Index <= 3 && cmdNav[Index]->isEnabled()) cmdNav_Click(Index);
    });
}

std::string frmWizard::install_folder() const {
    return platform::typed_path(s(InstallPath->text()));
}

void frmWizard::start_installation() {
    if (owner_) {
        owner_->set_step_state(StepState::HandOver);
        owner_->InstallPath->setText(InstallPath->text());
        owner_->Programmgruppe->setText(Programmgruppe->text());
        owner_->inTim->start();
    }
    close();
}

void frmWizard::Form_KeyDown(int KeyCode, int) {
    if (KeyCode == 112) cmdNav_Click(0);
}

void frmWizard::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        Form_KeyDown(112, 0);
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmWizard::cmdSearch_Click() {
    auto* chooser = new frmSearchFolder(this);
    chooser->Form_Load();
    chooser->move(x() + (width() - chooser->width()) / 2, y() + (height() - chooser->height()) / 2);
    chooser->show();
}

void frmWizard::lblInfo_Click() {
    platform::MsgBox(info_box_text(), platform::Buttons::OK, platform::Icon::Information,
                     info_box_title());
}

void frmWizard::IncompleteData(int nIndex) {
    platform::resume_on_error<platform::Error>([&] {
        std::string text = incomplete_data_text(nIndex);
        QApplication::beep();
        platform::MsgBox(text, platform::Buttons::OK, platform::Icon::Information);
    });
}

void frmWizard::Skalieren(QWidget* FRM, bool ScaleForm, bool ScaleFont) {
    scale_qt_form(FRM, ScaleForm, ScaleFont, ScaleCopy::FrmWizard);
}

void frmWizard::Form_Unload(bool& Cancel) {
    Cancel = false;
    platform::resume_on_error<platform::Error>([&] {
        if (help_shown_)
            platform::WinHelpA(static_cast<long>(winId()), kHelpFile, platform::HELP_QUIT, 0);
    });
}

void frmWizard::closeEvent(QCloseEvent* event) {
    if (!unloaded_) {
        bool cancel = false;
        Form_Unload(cancel);
        unloaded_ = true;
    }
    event->accept();
}

void install_wizard() {
    frmHin::set_wizard_opener(open_form_over<frmWizard, frmHin>);
}

}  // namespace setup

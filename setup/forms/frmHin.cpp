#include "setup/forms/frmHin.h"

#include <QApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdint>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui/screen.h"
#include "platform/ui/status.h"
#include "setup/error_report.h"
#include "setup/forms/form_scaling.h"
#include "setup/install_run.h"
#include "setup/placeholders.h"
#include "setup/processes.h"
#include "setup/script.h"

namespace setup {

void report_unhandled_error_and_end(const platform::Error& e);

namespace {

constexpr double tpp = platform::ui::twips_per_pixel;
const QColor white(255, 255, 255);
const QColor highlight(255, 128, 0);

std::function<void(frmHin&)>& wizard_opener() {
    static std::function<void(frmHin&)> f;
    return f;
}
std::function<void(frmHin&)>& finish_page_opener() {
    static std::function<void(frmHin&)> f;
    return f;
}
std::function<void(frmHin&, const std::string&, const std::string&)>& install_starter() {
    static std::function<void(frmHin&, const std::string&, const std::string&)> f =
        [](frmHin& h, const std::string& path, const std::string& group) {
            try {
                StartInstallation(h, path, group);
            } catch (const platform::Error& e) {
                report_unhandled_error_and_end(e);
            }
        };
    return f;
}

int px(double twips) {
    return static_cast<int>(std::lround(twips / tpp));
}

// Design geometry in twips.
template <typename W>
W* control(QWidget* form, const char* name, double left, double top, double width, double height) {
    auto* w = new W(form);
    w->setObjectName(name);
    w->setGeometry(px(left), px(top), px(width), px(height));
    return w;
}

QLabel* label(QWidget* form, const char* name, double l, double t, double w, double h,
              double points, bool bold, const QString& text) {
    auto* lbl = control<QLabel>(form, name, l, t, w, h);
    QFont f("DejaVu Sans");
    f.setPointSizeF(points);
    f.setBold(bold);
    lbl->setFont(f);
    lbl->setText(text);
    QPalette p = lbl->palette();
    p.setColor(QPalette::WindowText, white);
    lbl->setPalette(p);
    lbl->setAttribute(Qt::WA_TranslucentBackground);
    return lbl;
}

// The three stock marks, 25 pixels wide: a step not yet reached, the current step, a finished
// step.
QPixmap mark(int kind) {
    QPixmap pm(25, 25);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == 1) {
        p.setPen(QPen(QColor(220, 220, 220), 2));
        p.drawEllipse(QRectF(6.5, 6.5, 12, 12));
    } else if (kind == 2) {
        QPainterPath arrow;
        arrow.moveTo(6, 4);
        arrow.lineTo(20, 12.5);
        arrow.lineTo(6, 21);
        arrow.closeSubpath();
        p.fillPath(arrow, highlight);
    } else {
        p.setPen(QPen(QColor(90, 200, 90), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(5, 13), QPointF(10.5, 19), QPointF(20, 6)}));
    }
    return pm;
}

QPixmap load_picture(const std::string& windows_path) {
    // LoadPicture: a missing file is "Datei nicht gefunden" (53), an unreadable one 481; the
    // message names the file, so that whoever reads it knows what the package lacks.
    const std::string path = platform::host_path(windows_path);
    const QString host = QString::fromStdString(path);
    if (!QFileInfo::exists(host)) throw platform::Error(53, "Datei nicht gefunden: " + path);
    QImageReader reader(host);
    reader.setDecideFormatFromContent(true);
    QImage img = reader.read();
    if (img.isNull()) throw platform::Error(481, "Ungültiges Bild: " + path);
    return QPixmap::fromImage(img);
}

void set_label_style(QLabel* lbl, const QColor& colour, std::optional<bool> bold) {
    QPalette p = lbl->palette();
    p.setColor(QPalette::WindowText, colour);
    lbl->setPalette(p);
    if (bold) {
        QFont f = lbl->font();
        f.setBold(*bold);
        lbl->setFont(f);
    }
}

}  // namespace

frmHin::frmHin(QWidget* parent) : QWidget(parent) {
    setObjectName("frmHin");
    setWindowTitle(QString::fromUtf8("Veltrin - Setup"));
    setGeometry(0, 0, px(12000), px(9000));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 64));
    setPalette(pal);
    setAutoFillBackground(true);

    picHin = control<QLabel>(this, "picHin", 0, 0, 12000, 9000);
    picHin->setScaledContents(true);
    imgLogo = control<QLabel>(this, "imgLogo", 10200, 0, 1800, 900);
    imgLogo->setScaledContents(true);
    lblBeschriftung = label(this, "lblBeschriftung", 600, 480, 9000, 360, 10, true, "");
    lblTitel = label(this, "lblTitel", 600, 1020, 10800, 660, 18, true, "");
    Shape1 = control<QLabel>(this, "Shape1", 600, 1800, 10800, 30);
    Shape1->setStyleSheet("background: #ff8000;");
    picA1 = control<QLabel>(this, "picA1", 600, 2400, 375, 375);
    lblA1 = label(this, "lblA1", 1080, 2445, 4200, 330, 11, false,
                  QString::fromUtf8("Sammeln von Informationen"));
    picA2 = control<QLabel>(this, "picA2", 600, 2880, 375, 375);
    lblA2 = label(this, "lblA2", 1080, 2925, 4200, 330, 11, false,
                  QString::fromUtf8("Vorbereiten der Installation"));
    picA3 = control<QLabel>(this, "picA3", 600, 3360, 375, 375);
    lblA3 = label(this, "lblA3", 1080, 3405, 4200, 330, 11, false,
                  QString::fromUtf8("Installieren des Produktes"));
    lblBTitle = label(this, "lblBTitle", 5640, 2400, 5520, 450, 12, true, "");
    lblBText = label(this, "lblBText", 5640, 2940, 5520, 2880, 10, false, "");
    lblBText->setWordWrap(true);
    lblBText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblStatus = label(this, "lblStatus", 600, 6840, 10800, 330, 10, false,
                      QString::fromUtf8("Installationsvorgang"));
    Pr1 = control<QLabel>(this, "Pr1", 600, 7260, 2815, 240);
    Pr1->setStyleSheet("background: #ff8000; border: 1px solid white;");
    Label1 =
        label(this, "Label1", 600, 7980, 10800, 300, 9, false,
              QString::fromUtf8("Drücken Sie die ESC-Taste, um die Installation abzubrechen."));
    lblText = label(this, "lblText", 600, 8400, 10800, 300, 9, false, "");
    P1 = control<QLabel>(this, "P1", 0, 0, 375, 375);
    P2 = control<QLabel>(this, "P2", 0, 0, 375, 375);
    P3 = control<QLabel>(this, "P3", 0, 0, 375, 375);
    P1->setPixmap(mark(1));
    P2->setPixmap(mark(2));
    P3->setPixmap(mark(3));
    InstallPath = label(this, "InstallPath", 0, 0, 3000, 300, 8, false, "");
    Programmgruppe = label(this, "Programmgruppe", 0, 0, 3000, 300, 8, false, "");
    for (QLabel* hidden : {P1, P2, P3, InstallPath, Programmgruppe, Pr1, lblBTitle, lblBText}) {
        hidden->hide();
    }
    for (QLabel* mark_holder : {picA1, picA2, picA3}) {
        mark_holder->setAlignment(Qt::AlignCenter);
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(1);
    inTim = new QTimer(this);
    inTim->setObjectName("inTim");
    inTim->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
    connect(inTim, &QTimer::timeout, this, [this] { inTim_Timer(); });

    setFocusPolicy(Qt::StrongFocus);
}

frmHin::~frmHin() {
    set_install_path_source({});
}

void frmHin::set_wizard_opener(std::function<void(frmHin&)> opener) {
    wizard_opener() = std::move(opener);
}
void frmHin::set_install_starter(
    std::function<void(frmHin&, const std::string&, const std::string&)> starter) {
    install_starter() = std::move(starter);
}
void frmHin::set_finish_page_opener(std::function<void(frmHin&)> opener) {
    finish_page_opener() = std::move(opener);
}

void frmHin::Skalieren(QWidget* FRM, bool ScaleForm, bool ScaleFont) {
    scale_qt_form(FRM, ScaleForm, ScaleFont, ScaleCopy::FrmHin);
}

void frmHin::Form_Load() {
    Skalieren(this, true, true);
    lblBeschriftung->hide();
    lblTitel->hide();
    const std::string folder = platform::Environ("TEMP") + "\\~Veltrin";
    picHin->setPixmap(load_picture(folder + "\\background.jpg"));
    if (!GetIniValue("Logo", "Main", "").empty()) {
        const QPixmap logo = load_picture(folder + "\\logo.dat");
        imgLogo->setPixmap(logo);
        imgLogo->resize(logo.size());
        imgLogo->move(width() - imgLogo->width(), 0);
    } else {
        imgLogo->hide();
    }
    lblText->setText(QString::fromStdString(GetIniValue("Copyright", "Main", "")));
    lblTitel->setText(QString::fromStdString(GetIniValue("Titel", "Main", "")));
    const std::string caption = GetIniValue("Beschriftung", "Main", "");
    if (!caption.empty()) {
        lblBeschriftung->setText(QString::fromStdString(caption));
        lblBeschriftung->show();
    }
    lblTitel->show();
    set_step_state(StepState::Collecting);
    picHin->resize(width(), height());

    pr1_width_twips_ = Pr1->width() * tpp;
    set_install_path_source([this] { return install_path(); });
    set_owner_window(window_handle());
    Timer1->start();
    Timer2->start();
}

void frmHin::set_step_state(StepState state) {
    switch (state) {
        case StepState::Collecting:
            picA1->setPixmap(P2->pixmap());
            set_label_style(lblA1, highlight, true);
            picA2->setPixmap(P1->pixmap());
            set_label_style(lblA2, white, std::nullopt);
            picA3->setPixmap(P1->pixmap());
            set_label_style(lblA3, white, std::nullopt);
            break;
        case StepState::HandOver:
        case StepState::Installing:
            picA1->setPixmap(P3->pixmap());
            set_label_style(lblA1, highlight, false);
            picA2->setPixmap(P3->pixmap());
            set_label_style(lblA2, highlight, true);
            picA3->setPixmap((state == StepState::Installing ? P2 : P1)->pixmap());
            set_label_style(lblA3, white, std::nullopt);
            break;
        case StepState::Finished:
            picA1->setPixmap(P3->pixmap());
            set_label_style(lblA1, highlight, false);
            picA2->setPixmap(P3->pixmap());
            set_label_style(lblA2, white, false);
            picA3->setPixmap(P3->pixmap());
            set_label_style(lblA3, white, std::nullopt);
            break;
    }
}

void frmHin::Timer1_Timer() {
    Timer1->stop();
    if (wizard_opener()) wizard_opener()(*this);
}

void frmHin::Timer2_Timer() {
    Timer2->stop();
}

void frmHin::inTim_Timer() {
    inTim->stop();
    if (install_starter()) {
        install_starter()(*this, install_path(), Programmgruppe->text().toStdString());
    }
}

void frmHin::Form_KeyDown(int KeyCode, int /*Shift*/) {
    if (KeyCode != 27) return;
    // Unlike the wizard's cancel, Yes here leaves the package folder as it is.
    if (platform::MsgBox(confirm_cancel_text(), platform::Buttons::YesNo,
                         platform::Icon::Information, "Veltrin") == platform::Result::Yes) {
        platform::end_program(0);
    }
}

void frmHin::keyPressEvent(QKeyEvent* event) {
    const int code = event->key() == Qt::Key_Escape ? 27 : event->key();
    Form_KeyDown(code, 0);
}

// The label holds what the person saw or typed; the run works on its Windows form.
std::string frmHin::install_path() const {
    return platform::typed_path(InstallPath->text().toStdString());
}
std::string frmHin::programmgruppe() const {
    return Programmgruppe->text().toStdString();
}
long frmHin::window_handle() const {
    return static_cast<long>(winId());
}
double frmHin::screen_width_twips() const {
    return platform::ui::screen_metrics().width_twips;
}
void frmHin::set_step_installing() {
    set_step_state(StepState::Installing);
}

void frmHin::set_status(std::string_view text) {
    platform::ui::set_status(lblStatus, text);
}

void frmHin::show_progress_bar() {
    Pr1->show();
}

double frmHin::progress_width() const {
    return pr1_width_twips_;
}

void frmHin::set_progress_width(double twips) {
    // The bar keeps its width in twips, so that many small steps add up.
    if (twips < 0) throw platform::Error(380, "Unzulässiger Eigenschaftswert");
    pr1_width_twips_ = twips;
    Pr1->resize(px(twips), Pr1->height());
}

void frmHin::show_billboard(std::string_view title, std::string_view text) {
    lblBTitle->setText(QString::fromUtf8(title.data(), static_cast<int>(title.size())));
    QString body = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    body.replace("\r\n", "\n");
    lblBText->setText(body);
    lblBTitle->show();
    lblBText->show();
}

void frmHin::hide_billboard() {
    lblBTitle->hide();
    lblBText->hide();
}

void frmHin::do_events() {
    QCoreApplication::processEvents();
}

void frmHin::show_meldung(std::string_view message) {
    close_meldung();
    frmMeldung = new QWidget(this, Qt::Dialog);
    frmMeldung->setAttribute(Qt::WA_DeleteOnClose);
    frmMeldung->setObjectName("frmMeldung");
    frmMeldung->setWindowTitle("Veltrin");
    auto* Image1 = new QLabel(frmMeldung);
    Image1->setObjectName("Image1");
    Image1->setPixmap(mark(2));
    Image1->setGeometry(px(240), px(240), 25, 25);
    auto* lblMeldung = new QLabel(frmMeldung);
    lblMeldung->setObjectName("lblMeldung");
    lblMeldung->setText(QString::fromUtf8(message.data(), static_cast<int>(message.size())));
    lblMeldung->adjustSize();  // the label's width follows its text
    lblMeldung->move(px(1080), px(270));
    frmMeldung->resize(lblMeldung->width() + px(1500),
                       std::max(px(900), lblMeldung->height() + px(540)));
    frmMeldung->show();
}

void frmHin::close_meldung() {
    if (frmMeldung) {
        frmMeldung->close();
        frmMeldung = nullptr;
    }
}

void frmHin::show_finish_page() {
    if (finish_page_opener()) finish_page_opener()(*this);
}

void report_unhandled_error_and_end(const platform::Error& e) {
    report_unhandled_error(e);
    platform::end_program(1);
}

}  // namespace setup

#include "morvo/forms/frmSplash.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QStatusBar>

#include "morvo/version.h"
#include "platform/ui/status.h"

namespace morvo {

namespace {

constexpr int px(int twips) {
    return twips / 15;
}

QLabel* make_label(QWidget* parent, const char* name, const QString& text, int l, int t, int w,
                   int h) {
    auto* lbl = new QLabel(text, parent);
    lbl->setObjectName(name);
    lbl->setGeometry(px(l), px(t), px(w), px(h));
    return lbl;
}

QPixmap logo_pixmap() {
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 51, 153));
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 60, 60);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPointSize(26);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, 64, 64), Qt::AlignCenter, "M");
    return pm;
}

}  // namespace

frmSplash::frmSplash(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmSplash");
    setWindowTitle(kProgramTitle);
    setFixedSize(px(7380), px(4500));

    Frame1 = new QFrame(this);
    Frame1->setObjectName("Frame1");
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setGeometry(px(150), px(60), px(7080), px(3960));
    Frame1->installEventFilter(this);

    imgLogo = new QLabel(Frame1);
    imgLogo->setObjectName("imgLogo");
    imgLogo->setGeometry(px(360), px(600), 64, 64);
    imgLogo->setPixmap(logo_pixmap());

    lblProductName = make_label(Frame1, "lblProductName", "", 1800, 900, 4800, 600);
    QFont big = lblProductName->font();
    big.setPointSize(24);
    big.setBold(true);
    lblProductName->setFont(big);
    lblVersion = make_label(Frame1, "lblVersion", "", 1800, 1560, 4800, 300);
    lblPlatform = make_label(Frame1, "lblPlatform", "Plattform", 1800, 240, 2400, 300);
    lblCompany = make_label(Frame1, "lblCompany", "Unternehmen", 360, 2040, 2000, 300);
    lblCompanyProduct =
        make_label(Frame1, "lblCompanyProduct", kCompanyName, 2400, 2040, 4400, 300);
    Label1 = make_label(Frame1, "Label1", kMakerStreet, 2400, 2340, 4400, 300);
    Label2 = make_label(Frame1, "Label2", QString("%1 %2").arg(kMakerPostcode, kMakerTown), 2400,
                        2640, 4400, 300);
    Label3 = make_label(Frame1, "Label3", kMakerWeb, 2400, 2940, 4400, 300);
    Label4 = make_label(Frame1, "Label4", kMakerEmail, 2400, 3240, 4400, 300);
    lblWarning = make_label(Frame1, "lblWarning", "Warnung", 360, 3600, 1400, 300);
    lblCopyright = make_label(Frame1, "lblCopyright",
                              QString::fromUtf8("Alle Rechte vorbehalten. © %1").arg(kCompanyName),
                              1800, 3600, 5100, 300);
    for (QLabel* l : {lblPlatform, lblCompany, lblCompanyProduct, Label1, Label2, Label3, Label4,
                      lblWarning, lblCopyright, lblProductName, lblVersion})
        l->setAttribute(Qt::WA_TransparentForMouseEvents);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, height() - 20, width(), 20);
}

void frmSplash::Form_Load() {
    lblVersion->setText(QString::fromStdString("Version " + version_text()));
    lblProductName->setText(kProgramTitle);
}

void frmSplash::set_status_text(const std::string& text) {
    platform::ui::set_status(StatusBar1, text);
    if (isVisible()) StatusBar1->repaint();
}

void frmSplash::Form_KeyPress(int /*KeyAscii*/) {
    unload();
}

void frmSplash::Frame1_Click() {
    unload();
}

void frmSplash::unload() {
    close();
    deleteLater();
}

void frmSplash::keyPressEvent(QKeyEvent* e) {
    Form_KeyPress(e->text().isEmpty() ? e->key() : e->text().at(0).unicode());
}

bool frmSplash::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Frame1 && e->type() == QEvent::MouseButtonRelease) {
        Frame1_Click();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

}  // namespace morvo

#include "setup/forms/frmIni.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>

#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "setup/bootstrap.h"
#include "setup/error_report.h"
#include "setup/forms/frmHin.h"

namespace setup {

namespace {

// The fixed picture of the start window: a small package drawn once.
QPixmap package_picture() {
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 128, 0));
    p.setPen(QPen(QColor(120, 60, 0), 2));
    p.drawRect(QRectF(8, 14, 32, 26));
    p.setBrush(QColor(255, 170, 80));
    p.drawPolygon(QPolygonF({QPointF(8, 14), QPointF(16, 6), QPointF(48 - 8, 6), QPointF(40, 14)}));
    return pm;
}

}  // namespace

frmIni::frmIni(QWidget* parent) : QWidget(parent) {
    setObjectName("frmIni");
    setWindowTitle(QString());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    resize(420, 110);
    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(package_picture());
    Image1->setGeometry(16, 24, 48, 48);
    lblText = new QLabel(this);
    lblText->setObjectName("lblText");
    lblText->setWordWrap(true);
    lblText->setGeometry(80, 16, 324, 78);
    lblText->setText(QString::fromUtf8(
        "Setup, bereitet den Veltrin Wizard, der Sie durch den weiteren Installationsvorgang "
        "leiten wird, vor. Bitte warten..."));
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        move(s->geometry().center() - rect().center());
    }
}

void frmIni::Form_Load() {
    Timer1->start();
    try {
        show();
        platform::DoEvents();
        if (!medium_has_resources()) {
            Timer1->stop();
            show_error123(platform::msgbox_program_title());
            platform::end_program(0);
            return;
        }
        // A second setup must not unpack into the folder that a running one uses.
        if (const std::string refused = lock_package_folder(); !refused.empty()) {
            Timer1->stop();
            show_package_folder_locked(refused);
            platform::end_program(1);
        }
    } catch (...) {
        Timer1->stop();
        show_runtime_failure();
        platform::end_program(1);
    }
}

void frmIni::Timer1_Timer() {
    Timer1->stop();
    const std::string X = unpack_resources();
    // Between this window's unload and the progress window's show no window is open.
    const bool quit_on_last = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    close();
    block_after_unpack(X);
    show_start_message();
    auto* hin = new frmHin;
    hin->setAttribute(Qt::WA_DeleteOnClose);
    try {
        hin->Form_Load();
    } catch (const platform::Error& e) {
        // The progress window's load catches nothing: the runtime's report, then the end.
        delete hin;
        report_unhandled_error(e);
        platform::end_program(1);
        return;
    }
    hin_ = hin;
    hin->setWindowFlag(Qt::FramelessWindowHint);
    hin->show();
    hin->activateWindow();
    hin->setFocus();
    QApplication::setQuitOnLastWindowClosed(quit_on_last);
}

}  // namespace setup

#include "uninstall/forms/Form1.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <memory>

#include "platform/paths.h"
#include "platform/process.h"

namespace uninstall {
namespace {

// Positions are designed in twips, 15 to a pixel.
QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

}  // namespace

Form1::Form1(const Uninstaller& run, QWidget* parent) : QWidget(parent), run_(run) {
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8("UnVeltrin - Setupassistent"));
    setFixedSize(twips(0, 0, 7200, 5700).size());

    Image1 = named(new QLabel(this), "Image1");
    Image1->setGeometry(twips(240, 240, 960, 960));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_TrashIcon).pixmap(48, 48));
    Image1->setAlignment(Qt::AlignCenter);

    Label1 = named(new QLabel(QString::fromUtf8("Deinstalliere:"), this), "Label1");
    Label1->setGeometry(twips(1440, 240, 1500, 300));

    lblProdukt = named(new QLabel(this), "lblProdukt");
    lblProdukt->setGeometry(twips(2940, 240, 4020, 300));
    QFont bold = lblProdukt->font();
    bold.setBold(true);
    lblProdukt->setFont(bold);

    Label2 = named(
        new QLabel(QString::fromUtf8("Bitte warten Sie, während der UnVeltrin - Setupassistent das "
                                     "Programm uninstalliert hat. Dieser Vorgang kann u.U. einige "
                                     "Augenblicke in anspruch nehmen."),
                   this),
        "Label2");
    Label2->setGeometry(twips(1440, 660, 5520, 900));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    List1 = named(new QListWidget(this), "List1");
    List1->setGeometry(twips(240, 1680, 6720, 3000));

    cmdNext = named(new QPushButton(QString::fromUtf8("Schließen"), this), "cmdNext");
    cmdNext->setGeometry(twips(5400, 4920, 1560, 435));
    cmdNext->setEnabled(false);
    connect(cmdNext, &QPushButton::clicked, this, [this] { cmdNext_Click(); });

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

    Form_Load();
    Timer1->start();
}

void Form1::Form_Load() {
    lblProdukt->setText(QString::fromStdString(run_.product_title()));
}

void Form1::Timer1_Timer() {
    run_.Timer1_Timer(*this);
}

void Form1::cmdNext_Click() {
    run_.cmdNext_Click();
}

void Form1::stop_timer() {
    Timer1->stop();
}

void Form1::add_list_line(const std::string& line) {
    List1->addItem(QString::fromStdString(line));
    List1->scrollToBottom();
    // The list grows visibly while the run goes on.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::int32_t Form1::window_handle() {
    return static_cast<std::int32_t>(effectiveWinId());
}

void Form1::enable_next() {
    cmdNext->setEnabled(true);
}

void start_program() {
    // The program folder is taken once, at start: the log's presence now decides whether the
    // run may remove the folder.
    static Uninstaller run(platform::app_path());
    if (!run.start_procedure()) {
        platform::end_program(0);
        return;
    }
    auto* form = new Form1(run);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
}

}  // namespace uninstall

#include "platform/ui/program.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QStringList>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/transcript.h"
#include "platform/ui/msgbox_qt.h"
#include "platform/ui/scripted_user.h"
#include "platform/ui/status.h"

namespace platform::ui {
namespace {

// Writes `window FORM shown` / `window FORM closed` for the program's forms.
class WindowWatcher : public QObject {
  public:
    using QObject::QObject;

    QStringList shown_forms() const { return shown_.values(); }

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::Show && e->type() != QEvent::Hide) return false;
        if (!o->isWidgetType()) return false;
        auto* w = static_cast<QWidget*>(o);
        if (!w->isWindow() || qobject_cast<QMessageBox*>(w)) return false;
        if (e->type() != QEvent::Show && shown_.contains(w)) {
            if (e->spontaneous()) return false;
            transcript_line("window " + shown_.take(w).toStdString() + " closed");
            return false;
        }
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith("qt")) return false;
        // Minimising and restoring hide and show a window without the program doing so.
        if (e->spontaneous()) return false;
        if (e->type() == QEvent::Show && !shown_.contains(w)) {
            shown_.insert(w, name);
            transcript_line("window " + name.toStdString() + " shown");
            watch_status_bars(w);
            // A window deleted while shown is closed as well.
            connect(w, &QObject::destroyed, this, [this, w] {
                if (shown_.contains(w))
                    transcript_line("window " + shown_.take(w).toStdString() + " closed");
            });
        }
        return false;
    }

  private:
    // A status bar's messages are status lines even where a form sets them directly.
    static void watch_status_bars(QWidget* form) {
        for (QStatusBar* bar : form->findChildren<QStatusBar*>()) {
            if (bar->property("veltrin_watched").toBool() || bar->objectName().isEmpty()) continue;
            bar->setProperty("veltrin_watched", true);
            QObject::connect(bar, &QStatusBar::messageChanged, bar, [bar](const QString& text) {
                transcript_status(control_path(bar).toStdString(), text.toStdString());
            });
        }
    }

    QHash<const QWidget*, QString> shown_;  // the name each had when it was shown
};

WindowWatcher* g_watcher = nullptr;

[[noreturn]] void leave(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace

namespace {
bool g_painting_only = false;
}

void keep_windows_painted() {
    if (g_painting_only) return;
    g_painting_only = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    g_painting_only = false;
}

bool painting_only() {
    return g_painting_only;
}

void install_window_layer() {
    install_message_boxes();
    set_do_events_hook([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    if (!g_watcher && qApp) {
        g_watcher = new WindowWatcher(qApp);
        qApp->installEventFilter(g_watcher);
    }
}

int run_program(QApplication& app, std::string_view program_title,
                const std::function<void()>& start) {
    set_msgbox_program_title(std::string(program_title));
    install_window_layer();
    // The program's End: forms go without their events, the process ends at once.
    set_end_program_hook([](int status) {
        if (g_watcher)
            for (const QString& name : g_watcher->shown_forms())
                transcript_line("window " + name.toStdString() + " closed");
        leave(status);
    });

    ScriptedUser* user = nullptr;
    if (scripted_run()) {
        const QString path = QString::fromLocal8Bit(std::getenv("VELTRIN_USER_SCRIPT"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read the user script %s\n", qPrintable(path));
            transcript_line("step 1 failed: " + path.toStdString() + ": cannot read the script");
            return 3;
        }
        user = new ScriptedUser(
            parse_script(file.readAll().toStdString()), [](int status) { leave(status); }, &app);
        // Unattended runs and tests may shorten the 30 s a step waits for its window.
        if (const char* t = std::getenv("VELTRIN_STEP_TIMEOUT"); t && *t)
            user->set_step_timeout_ms(static_cast<int>(std::strtod(t, nullptr) * 1000));
    }
    start();
    if (user) user->begin();
    int status = app.exec();
    if (user && user->failed()) return 3;
    return status;
}

}  // namespace platform::ui

// Message boxes on the screen: Windows icons, German buttons, default and escape buttons.
#include "platform/ui/msgbox_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "testsupport/gui_app.h"

namespace {

using platform::Buttons;
using platform::Icon;
using platform::Result;

void ensure_app() {
    testsupport::gui_app();
}

struct Seen {
    QStringList buttons;
    QString default_button;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
};

// Shows a box and lets `act` handle it once it is on the screen.
Result show_and(const platform::MsgBoxRequest& request, Seen& seen,
                std::function<void(QMessageBox*)> act) {
    QTimer::singleShot(0, [&seen, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
        seen.default_button = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen.icon = box->icon();
        seen.title = box->windowTitle();
        seen.text = box->text();
        act(box);
    });
    return platform::ui::show_message_box(request);
}

QAbstractButton* button(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text) return b;
    return nullptr;
}

TEST(MessageBoxOnScreen, ButtonsDefaultsIconsAndAnswers) {
    ensure_app();
    auto click = [](const char* text) {
        return [text](QMessageBox* box) {
            if (auto* b = button(box, text)) b->click();
        };
    };
    auto press = [](int key) {
        return [key](QMessageBox* box) {
            QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(box, &e);
        };
    };
    struct Case {
        Buttons buttons;
        Icon icon;
        int default_button;
        std::function<void(QMessageBox*)> act;
        QStringList shown;
        QString default_text;
        QMessageBox::Icon qt_icon;
        Result expected;
    } cases[] = {
        {Buttons::YesNo,
         Icon::Information,
         1,
         click("Nein"),
         {"Ja", "Nein"},
         "Ja",
         QMessageBox::Information,
         Result::No},
        {Buttons::YesNo,
         Icon::Question,
         2,
         press(Qt::Key_Return),
         {"Ja", "Nein"},
         "Nein",
         QMessageBox::Question,
         Result::No},
        {Buttons::OKCancel,
         Icon::Exclamation,
         1,
         press(Qt::Key_Escape),
         {"OK", "Abbrechen"},
         "OK",
         QMessageBox::Warning,
         Result::Cancel},
        {Buttons::OK,
         Icon::Critical,
         1,
         press(Qt::Key_Escape),
         {"OK"},
         "OK",
         QMessageBox::Critical,
         Result::OK},
        {Buttons::RetryCancel,
         Icon::None,
         1,
         click("Wiederholen"),
         {"Wiederholen", "Abbrechen"},
         "Wiederholen",
         QMessageBox::NoIcon,
         Result::Retry},
    };
    for (const auto& c : cases) {
        platform::MsgBoxRequest r;
        r.text = "Zeile 1\nZeile 2 <b>kein HTML</b>";
        r.title = "Veltrin";
        r.buttons = c.buttons;
        r.icon = c.icon;
        r.default_button = c.default_button;
        Seen seen;
        Result answer = show_and(r, seen, c.act);
        const std::string name(platform::buttons_name(c.buttons));
        EXPECT_EQ(answer, c.expected) << name;
        QStringList sorted = seen.buttons;
        QStringList expected = c.shown;
        sorted.sort();
        expected.sort();
        EXPECT_EQ(sorted, expected) << name;
        EXPECT_EQ(seen.default_button, c.default_text) << name;
        EXPECT_EQ(seen.icon, c.qt_icon) << name;
        EXPECT_EQ(seen.title, "Veltrin");
        EXPECT_EQ(seen.text.toStdString(), r.text);
    }
}

}  // namespace

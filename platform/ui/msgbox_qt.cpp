#include "platform/ui/msgbox_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/transcript.h"
#include "platform/ui/scripted_user.h"

namespace platform::ui {
namespace {

QMessageBox::Icon qt_icon(Icon icon) {
    switch (icon) {
        case Icon::Critical:
            return QMessageBox::Critical;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// Button texts as a German system shows them.
struct ButtonSpec {
    Result result;
    const char* text;
    QMessageBox::ButtonRole role;
};

ButtonSpec button_spec(Result r) {
    switch (r) {
        case Result::OK:
            return {r, "OK", QMessageBox::AcceptRole};
        case Result::Cancel:
            return {r, "Abbrechen", QMessageBox::RejectRole};
        case Result::Abort:
            return {r, "Abbrechen", QMessageBox::RejectRole};
        case Result::Retry:
            return {r, "Wiederholen", QMessageBox::AcceptRole};
        case Result::Ignore:
            return {r, "Ignorieren", QMessageBox::AcceptRole};
        case Result::Yes:
            return {r, "Ja", QMessageBox::YesRole};
        case Result::No:
            return {r, "Nein", QMessageBox::NoRole};
    }
    return {Result::OK, "OK", QMessageBox::AcceptRole};
}

}  // namespace

Result show_message_box(const MsgBoxRequest& request) {
    if (ScriptedUser* user = ScriptedUser::instance()) return user->answer_box(request);

    QMessageBox box(QApplication::activeWindow());
    box.setIcon(qt_icon(request.icon));
    box.setWindowTitle(QString::fromStdString(request.title));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(request.text));
    std::vector<std::pair<QAbstractButton*, Result>> buttons;
    QAbstractButton* escape = nullptr;
    for (int i = 1; i <= button_count(request.buttons); ++i) {
        ButtonSpec s = button_spec(button_at(request.buttons, i));
        QPushButton* b = box.addButton(QString::fromUtf8(s.text), s.role);
        buttons.emplace_back(b, s.result);
        if (i == request.default_button) box.setDefaultButton(b);
        // Esc answers Cancel where there is one, and OK in a box that has nothing else.
        if (s.result == Result::Cancel || request.buttons == Buttons::OK) escape = b;
    }
    box.setEscapeButton(escape);
    box.exec();
    Result answer = default_result(request);
    bool chosen = false;
    for (auto& [button, result] : buttons) {
        if (box.clickedButton() == button) {
            answer = result;
            chosen = true;
        }
    }
    // Closing a box without a Cancel button is not possible on the original system; the
    // default button stands in for it.
    transcript_line(msgbox_transcript_line(request, answer, !chosen));
    return answer;
}

void install_message_boxes() {
    set_msgbox_handler(show_message_box);
}

}  // namespace platform::ui

#pragma once
// Status lines and program changes of controls.
//
// set_status: forms set the text of a status line (a QLabel, a QStatusBar's message, any
// control with a "text" property) through this, so that every change reaches the transcript as
// `status FORM.CONTROL "text"` (FORM is the objectName of the control's window).
//
// ProgramChange: a tree's or list's itemChanged signal fires both for a user's click on a check
// box and for the program setting the check state. Forms wrap their own changes in a
// ProgramChange guard and take any itemChanged outside such a guard as the user's click (the
// event a Visual Basic tree calls NodeCheck). The scripted user's `tick` changes the check state
// exactly as the view does for a real click, outside any guard.
#include <QPointer>
#include <string_view>

class QObject;
class QWidget;
class QString;

namespace platform::ui {

void set_status(QWidget* control, const QString& text);
void set_status(QWidget* control, std::string_view utf8_text);

// "FORM.CONTROL" of a control.
QString control_path(const QWidget* control);

class ProgramChange {
  public:
    explicit ProgramChange(QObject* control);
    ~ProgramChange();
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;

  private:
    QPointer<QObject> control_;  // a control deleted inside the guard is left alone
    bool previous_;
};

// True while a ProgramChange guard for this control is alive.
bool is_program_change(const QObject* control);

}  // namespace platform::ui

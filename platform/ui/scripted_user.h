#pragma once
// The scripted user: follows a script of steps instead of a person (see README, "Scripted
// runs"). One step a line:
//
//   answer Yes|No|OK|Cancel|Retry|Ignore|Abort [if "fragment"]
//   click FORM.CONTROL
//   type FORM.CONTROL "text"
//   tick FORM.CONTROL ["A|B|C"] [off]
//   select FORM.CONTROL "item"          open FORM.CONTROL "item"
//   key FORM Esc|F1|Enter|...
//   wait FORM [CONTROL "text"] [SECONDS]
//   shot FILE.png
//   dump FORM.CONTROL
//
// Steps run one after another from the event loop. A message box meets the next step not yet
// begun: an `answer` step is taken, anything else leaves the box to its default button.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/msgbox.h"

class QTimer;
class QWidget;

namespace platform::ui {

enum class StepKind { Unknown, Answer, Click, Type, Tick, Select, Open, Key, Wait, Shot, Dump };

struct Step {
    int number = 0;    // 1-based among the script's steps
    std::string text;  // the line as written, comment and outer blanks removed
    StepKind kind = StepKind::Unknown;
    std::string form;                // FORM (or the file for shot, the answer for answer)
    std::string control;             // CONTROL, may be empty
    std::vector<std::string> texts;  // quoted texts in order (unescaped)
    std::vector<std::string> words;  // further unquoted words (off, if, seconds, key name)
    std::string error;               // set for a malformed step: it fails when its turn comes
};

// Parses a script. Blank lines and comments are no steps; a malformed step is kept with its
// error so that it fails in its place.
std::vector<Step> parse_script(const std::string& utf8_script);

class ScriptedUser : public QObject {
    Q_OBJECT
  public:
    // on_failure is called after a failed step has been written to the transcript; run_program
    // ends the program there with status 3.
    ScriptedUser(std::vector<Step> steps, std::function<void(int)> on_failure,
                 QObject* parent = nullptr);
    ~ScriptedUser() override;

    // Time a step waits for its window and control (30 s), and the poll interval.
    void set_step_timeout_ms(int ms) { timeout_ms_ = ms; }
    // Folder for relative screenshot names (default: the transcript's folder, else the
    // current folder).
    void set_shot_folder(const QString& folder) { shot_folder_ = folder; }

    void begin();
    bool finished() const { return next_ >= steps_.size() && !current_; }
    bool failed() const { return failed_; }

    // Called by the message-box service in scripted runs.
    Result answer_box(const MsgBoxRequest& request);

    // The running instance, if any.
    static ScriptedUser* instance();

    // What a step's turn came to: done, still waiting for its window or control, or failed.
    enum class Outcome { Done, Pending, Failed };

  private:
    void poll();
    Outcome run_step(const Step& step, QString& why, std::function<void()>& action);
    void fail(const Step& step, const QString& why);

    std::vector<Step> steps_;
    std::function<void(int)> on_failure_;
    size_t next_ = 0;                // first step not yet begun
    std::optional<size_t> current_;  // step being waited on
    qint64 current_started_ms_ = 0;
    int timeout_ms_ = 30000;
    QString shot_folder_;
    QTimer* timer_ = nullptr;
    bool failed_ = false;
    bool in_poll_ = false;
};

// The widget named FORM (a top-level widget with that objectName; a shown one first).
QWidget* find_form(const QString& form);
// The control named CONTROL inside FORM; nullptr when absent.
QObject* find_control(QWidget* form, const QString& control);
// The text a control shows (label, button, text box, status bar, combo box, tab, ...).
QString control_text(QObject* control);
// Lines a dump writes for a control: value ... / node ... lines.
QStringList dump_lines(const QString& form_dot_control, QObject* control);

}  // namespace platform::ui

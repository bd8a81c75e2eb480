// The message-box service. Core code shows message boxes only through MsgBox; the window side
// (platform/ui) installs the implementation that shows a QMessageBox or lets the scripted user
// answer. Without an installed implementation a box is answered by its default button and
// written to the transcript as such, so widget-free code and its tests never block.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Values as the Windows message-box flags have them.
enum class Icon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class Buttons {
    OK = 0,
    OKCancel = 1,
    AbortRetryIgnore = 2,
    YesNoCancel = 3,
    YesNo = 4,
    RetryCancel = 5
};
enum class Result { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MsgBoxRequest {
    std::string text;
    Buttons buttons = Buttons::OK;
    Icon icon = Icon::None;
    std::string title;       // already resolved: never empty
    int default_button = 1;  // 1-based position among the box's buttons
};

// Shows a box and returns the button chosen. An empty title means the program's title
// (msgbox_program_title). default_button is 1, 2 or 3 (first, second, third button); a number
// beyond the box's buttons means the first.
Result MsgBox(std::string_view text, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
              std::string_view title = {}, int default_button = 1);

// The program's title, used for boxes without a title of their own.
void set_msgbox_program_title(std::string title);
const std::string& msgbox_program_title();

// Installs the implementation; returns the previous one. An empty function restores the
// built-in one (default button, transcript line).
using MsgBoxHandler = std::function<Result(const MsgBoxRequest&)>;
MsgBoxHandler set_msgbox_handler(MsgBoxHandler handler);

// Installs a handler for the lifetime of the object (tests).
class ScopedMsgBoxHandler {
  public:
    explicit ScopedMsgBoxHandler(MsgBoxHandler handler)
        : previous_(set_msgbox_handler(std::move(handler))) {}
    ~ScopedMsgBoxHandler() { set_msgbox_handler(std::move(previous_)); }
    ScopedMsgBoxHandler(const ScopedMsgBoxHandler&) = delete;
    ScopedMsgBoxHandler& operator=(const ScopedMsgBoxHandler&) = delete;

  private:
    MsgBoxHandler previous_;
};

// Helpers shared by the implementations.
int button_count(Buttons buttons);
Result button_at(Buttons buttons, int position);  // 1-based; out of range gives the first
Result default_result(const MsgBoxRequest& request);
bool box_has(Buttons buttons, Result result);
std::string_view result_name(Result result);  // "OK", "Cancel", "Yes", ...
bool parse_result_name(std::string_view name, Result& result);
std::string_view icon_name(Icon icon);           // "information", "critical", ... "none"
std::string_view buttons_name(Buttons buttons);  // "OK", "OKCancel", "YesNo", ...

// `msgbox title="…" icon=… buttons=… default=… text="…" -> Yes [(default)]`
std::string msgbox_transcript_line(const MsgBoxRequest& request, Result answer, bool defaulted);

}  // namespace platform

#include "platform/msgbox.h"

#include <mutex>

#include "platform/transcript.h"

namespace platform {
namespace {

std::mutex& handler_mutex() {
    static std::mutex m;
    return m;
}

MsgBoxHandler& handler() {
    static MsgBoxHandler h;
    return h;
}

std::string& program_title() {
    static std::string t;
    return t;
}

Result builtin(const MsgBoxRequest& request) {
    Result r = default_result(request);
    transcript_line(msgbox_transcript_line(request, r, true));
    return r;
}

}  // namespace

Result MsgBox(std::string_view text, Buttons buttons, Icon icon, std::string_view title,
              int default_button) {
    MsgBoxRequest request;
    request.text = std::string(text);
    request.buttons = buttons;
    request.icon = icon;
    request.title = title.empty() ? program_title() : std::string(title);
    request.default_button =
        (default_button >= 1 && default_button <= button_count(buttons)) ? default_button : 1;
    MsgBoxHandler h;
    {
        std::lock_guard lock(handler_mutex());
        h = handler();
    }
    return h ? h(request) : builtin(request);
}

void set_msgbox_program_title(std::string title) {
    program_title() = std::move(title);
}
const std::string& msgbox_program_title() {
    return program_title();
}

MsgBoxHandler set_msgbox_handler(MsgBoxHandler h) {
    std::lock_guard lock(handler_mutex());
    MsgBoxHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

int button_count(Buttons buttons) {
    switch (buttons) {
        case Buttons::OK:
            return 1;
        case Buttons::OKCancel:
        case Buttons::YesNo:
        case Buttons::RetryCancel:
            return 2;
        case Buttons::AbortRetryIgnore:
        case Buttons::YesNoCancel:
            return 3;
    }
    return 1;
}

Result button_at(Buttons buttons, int position) {
    if (position < 1 || position > button_count(buttons)) position = 1;
    switch (buttons) {
        case Buttons::OK:
            return Result::OK;
        case Buttons::OKCancel:
            return position == 1 ? Result::OK : Result::Cancel;
        case Buttons::YesNo:
            return position == 1 ? Result::Yes : Result::No;
        case Buttons::RetryCancel:
            return position == 1 ? Result::Retry : Result::Cancel;
        case Buttons::AbortRetryIgnore:
            return position == 1 ? Result::Abort : position == 2 ? Result::Retry : Result::Ignore;
        case Buttons::YesNoCancel:
            return position == 1 ? Result::Yes : position == 2 ? Result::No : Result::Cancel;
    }
    return Result::OK;
}

Result default_result(const MsgBoxRequest& request) {
    return button_at(request.buttons, request.default_button);
}

bool box_has(Buttons buttons, Result result) {
    for (int i = 1; i <= button_count(buttons); ++i)
        if (button_at(buttons, i) == result) return true;
    return false;
}

std::string_view result_name(Result result) {
    switch (result) {
        case Result::OK:
            return "OK";
        case Result::Cancel:
            return "Cancel";
        case Result::Abort:
            return "Abort";
        case Result::Retry:
            return "Retry";
        case Result::Ignore:
            return "Ignore";
        case Result::Yes:
            return "Yes";
        case Result::No:
            return "No";
    }
    return "OK";
}

bool parse_result_name(std::string_view name, Result& result) {
    for (Result r : {Result::OK, Result::Cancel, Result::Abort, Result::Retry, Result::Ignore,
                     Result::Yes, Result::No}) {
        if (result_name(r) == name) {
            result = r;
            return true;
        }
    }
    return false;
}

std::string_view icon_name(Icon icon) {
    switch (icon) {
        case Icon::None:
            return "none";
        case Icon::Critical:
            return "critical";
        case Icon::Question:
            return "question";
        case Icon::Exclamation:
            return "exclamation";
        case Icon::Information:
            return "information";
    }
    return "none";
}

std::string_view buttons_name(Buttons buttons) {
    switch (buttons) {
        case Buttons::OK:
            return "OK";
        case Buttons::OKCancel:
            return "OKCancel";
        case Buttons::AbortRetryIgnore:
            return "AbortRetryIgnore";
        case Buttons::YesNoCancel:
            return "YesNoCancel";
        case Buttons::YesNo:
            return "YesNo";
        case Buttons::RetryCancel:
            return "RetryCancel";
    }
    return "OK";
}

std::string msgbox_transcript_line(const MsgBoxRequest& request, Result answer, bool defaulted) {
    std::string line = "msgbox title=" + transcript_quote(request.title);
    line += " icon=";
    line += icon_name(request.icon);
    line += " buttons=";
    line += buttons_name(request.buttons);
    line += " default=";
    line += result_name(default_result(request));
    line += " text=" + transcript_quote(request.text);
    line += " -> ";
    line += result_name(answer);
    if (defaulted) line += " (default)";
    return line;
}

}  // namespace platform

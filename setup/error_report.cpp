#include "setup/error_report.h"

#include "platform/error.h"
#include "platform/msgbox.h"

namespace setup {

namespace {
constexpr const char* kTitle = "Veltrin";

void show_error_box(const std::string& text) {
    // A failure while showing the message is not reported again.
    try {
        platform::MsgBox(text, platform::Buttons::OK, platform::Icon::Critical, kTitle);
    } catch (...) {
    }
}
}  // namespace

std::string recoverable_error_text(long number, std::string_view description) {
    return "Setup hat einen Fehler erkannt. Das Setup kann trotzdem fortgesetzt werden.\n\n"
           "Fehlernummer: " +
           std::to_string(number) + "\nBeschreibung: " + std::string(description);
}

bool ErrorReport::report(long number, std::string_view description) {
    if (stopped_) return false;
    if (counter_ == 3) {
        show_error_box(std::string(kFatalStopText));
        stopped_ = true;
        return false;
    }
    show_error_box(recoverable_error_text(number, description));
    ++counter_;
    return true;
}

bool ErrorReport::report(const platform::Error& e) {
    return report(e.number, e.description);
}

void report_unhandled_error(long number, std::string_view description) {
    show_error_box("Laufzeitfehler '" + std::to_string(number) + "':\n\n" +
                   std::string(description));
}

void report_unhandled_error(const platform::Error& e) {
    report_unhandled_error(e.number, e.description);
}

}  // namespace setup

#pragma once
// Failure reporting of the install run: reported steps go through ErrorReport, whose counter
// turns the fourth failure into a fatal stop.

#include <string>
#include <string_view>

namespace platform {
struct Error;
}

namespace setup {

inline constexpr std::string_view kFatalStopText =
    "Setup muss wegen eines schweren Fehlers beendet werden.";

// The German description of an error: the layer's standard texts of its numbers are
// replaced by German ones; any other description is kept.
std::string error_description(const platform::Error& e);

// Text of the recoverable message for an error number and description.
std::string recoverable_error_text(long number, std::string_view description);

class ErrorReport {
  public:
    // Shows the message for one failure of a reported step (title "Veltrin", error icon, OK).
    // Returns true when the run may go on, false after the stop message: the run must end at once.
    bool report(long number, std::string_view description);
    bool report(const platform::Error& e);

    // Recoverable reports made so far (0..3).
    int count() const { return counter_; }
    bool stopped() const { return stopped_; }

  private:
    int counter_ = 0;
    bool stopped_ = false;
};

// For failures outside both regimes (steps 1 and 2 of the run): the runtime's own message
// ("Laufzeitfehler 'N':" and the description, error icon, title "Veltrin"); the caller then
// ends the program.
void report_unhandled_error(long number, std::string_view description);
void report_unhandled_error(const platform::Error& e);

}  // namespace setup

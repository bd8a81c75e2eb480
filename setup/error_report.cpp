#include "setup/error_report.h"

#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/resume.h"

namespace setup {

namespace {
constexpr const char* kTitle = "Veltrin";

void show_error_box(const std::string& text) {
    // A failure while showing the message is not reported again.
    platform::resume_on_error<platform::AnyError>(
        [&] { platform::MsgBox(text, platform::Buttons::OK, platform::Icon::Critical, kTitle); });
}
// The messages are German; the layer's own descriptions of its standard numbers are not.
std::string german_description(const platform::Error& e) {
    if (e.description != platform::error_text(e.number)) return e.description;
    switch (e.number) {
        case 5:
            return "Ungültiger Prozeduraufruf oder ungültiges Argument";
        case 6:
            return "Überlauf";
        case 7:
            return "Nicht genügend Speicher";
        case 11:
            return "Division durch Null";
        case 13:
            return "Typen unverträglich";
        case 52:
            return "Dateiname oder -nummer falsch";
        case 53:
            return "Datei nicht gefunden";
        case 57:
            return "Geräte-E/A-Fehler";
        case 58:
            return "Datei existiert bereits";
        case 61:
            return "Datenträger voll";
        case 68:
            return "Gerät nicht verfügbar";
        case 70:
            return "Zugriff verweigert";
        case 75:
            return "Fehler beim Zugriff auf Pfad/Datei";
        case 76:
            return "Pfad nicht gefunden";
        default:
            return e.description;
    }
}
}  // namespace

std::string error_description(const platform::Error& e) {
    return german_description(e);
}

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
    return report(e.number, german_description(e));
}

void report_unhandled_error(long number, std::string_view description) {
    show_error_box("Laufzeitfehler '" + std::to_string(number) + "':\n\n" +
                   std::string(description));
}

void report_unhandled_error(const platform::Error& e) {
    report_unhandled_error(e.number, german_description(e));
}

}  // namespace setup

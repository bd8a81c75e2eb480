#pragma once
// The install run: prepares the install folder, places the uninstaller, extracts every file
// entry of the setup script from data02.cab, registers components and fonts, runs the
// installation-time programs, creates the program group and shortcuts, writes the uninstall
// log and opens the finish page.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "setup/install_view.h"

namespace setup {

struct InstallRunOptions {
    // Windows path of the package medium (the program's own folder); empty: platform::app_path().
    std::string program_folder;
    // Hooks for a log of the run (the silent install's); either may be empty.
    // placed: what a step has just done ("Datei", "Verknüpfung", "Schrift", "Programm") and the
    // Windows path it concerns.
    std::function<void(std::string_view what, std::string_view path)> placed;
    // failed: every failure of a step, also those the run passes over without a report, with
    // the Windows path of the file or folder the step worked on ("" where it names none).
    std::function<void(long number, std::string_view description, std::string_view path,
                       bool reported)>
        failed;
};

// How a run ended, for callers that want to know (the window ignores it).
struct InstallResult {
    bool finished = false;  // the finish page was shown
    bool stopped = false;   // the fatal stop ended the run
    int errors = 0;         // recoverable reports made
    int logged = 0;         // files recorded in the uninstall log
};

// Started once by frmHin's inTim with the InstallPath and Programmgruppe fields. The group
// folder, its log entry and the placeholders all use the script's ProgrammGruppe, so the typed
// Programmgruppe is taken but not used.
// A failure of the first two steps (unblocking the extractor copy, the step indicator) is not
// handled here: it leaves as platform::Error, and the caller reports it
// (report_unhandled_error) and ends the program.
InstallResult StartInstallation(InstallView& view, std::string_view InstallPath,
                                std::string_view Programmgruppe,
                                const InstallRunOptions& options = {});

// Grows the progress bar Pr1 by step twips.
void AdvanceProgress(InstallView& view, double step);

// The runtime's reading of a script value as a number (blanks around it allowed, sign,
// decimals, exponent, &H hex); nothing when the text is empty or not a number.
std::optional<double> numeric_value(std::string_view text);
// Conversion to a 16-bit integer: halves round to the even neighbour; out of range throws
// platform::Error 6.
std::int16_t to_integer(double value);

// Width of the bar after the last file entry, in twips, at the design size.
inline constexpr double kProgressDesignLength = 2815.0;

}  // namespace setup

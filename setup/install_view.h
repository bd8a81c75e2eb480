#pragma once
// What the install run needs of the progress window frmHin. The window implements this
// interface; the install run never touches widgets directly, so it runs without a display.

#include <string>
#include <string_view>

namespace setup {

struct InstallView {
    virtual ~InstallView() = default;

    // The hidden fields InstallPath and Programmgruppe (handed over by the wizard).
    virtual std::string install_path() const = 0;
    virtual std::string programmgruppe() const = 0;

    // Window handle of frmHin, the owner passed to special-folder lookups.
    virtual long window_handle() const = 0;

    // Screen width in twips; the install run scales the progress bar by width / 12000.
    virtual double screen_width_twips() const = 0;

    // Step indicator: the "installing" state (picA1/picA2 finished, picA3 current).
    virtual void set_step_installing() = 0;

    // Status line lblStatus.
    virtual void set_status(std::string_view text) = 0;

    // Progress bar Pr1: shown, and its width in twips (2815 twips is the design length).
    virtual void show_progress_bar() = 0;
    virtual double progress_width() const = 0;
    virtual void set_progress_width(double twips) = 0;

    // Billboard labels lblBTitle / lblBText; the text already carries CR LF line breaks.
    virtual void show_billboard(std::string_view title, std::string_view text) = 0;
    virtual void hide_billboard() = 0;

    // Lets pending window events be processed once (DoEvents).
    virtual void do_events() = 0;

    // frmMeldung: lblMeldung gets the message, the window is as wide as the label plus 1500
    // twips, shown modeless over frmHin; close_meldung unloads it.
    virtual void show_meldung(std::string_view message) = 0;
    virtual void close_meldung() = 0;

    // Shows the finish page frmend modeless over frmHin; the run ends right after this call.
    virtual void show_finish_page() = 0;
};

}  // namespace setup

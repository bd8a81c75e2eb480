// The archiving run behind "Start" (comB_start_Click): the warning, the storage path test, the
// folder lines resolved by name, every mail of each folder filed, the summary and the finishing
// step reached from every exit. The window side comes in through RunView.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "morvo/filing.h"
#include "morvo/outlook/outlook.h"
#include "morvo/path_rules.h"

namespace morvo {

class RunView {
  public:
    virtual ~RunView() = default;
    virtual void focus_Textbox2() = 0;
    // comB_schliessen and comB_start together.
    virtual void enable_run_buttons(bool enabled) = 0;
    virtual void set_Text1(const std::string& text) = 0;
    // Selects the first tab; the tab strip's own click handling runs.
    virtual void select_first_tab() = 0;
    virtual std::string Textbox2_text() = 0;
    virtual void set_Textbox2(const std::string& text) = 0;
    // Adds to the end of the text; a view that holds the text itself need not copy it whole
    // for each line of a long run.
    virtual void append_Textbox2(const std::string& text) { set_Textbox2(Textbox2_text() + text); }
    virtual void Textbox2_caret_to_end() = 0;
    virtual void set_status(const std::string& text) = 0;
    virtual void show_log_button() = 0;
    // For views without a window (the command line): a qualifying attachment or a folder line
    // that stayed as it was (the text reports it), and each mail when it is done.
    virtual void something_stayed() {}
    virtual void attachment_filed() {}
    virtual void mail_done(long /*position*/, long /*count*/) {}
};

struct RunEnvironment {
    std::string settings_file;  // sFile
    PathProbe probe;
    Clock clock;  // the current date and time
    // Creating "Outlook.Application" (tests hand in their own stores).
    std::function<outlook::Application()> create_application;
};

// The 16-bit counters of the window. An addition that would pass 32767 is a failing step and
// leaves the counter as it was.
struct RunCounters {
    std::int32_t folder_lines = 0;
    std::int16_t iordner = 0;
    std::int16_t imail = 0;
    std::int16_t ianlage = 0;
};

// Adds to a 16-bit counter; false (and the counter unchanged) when the sum would overflow.
bool add16(std::int16_t& counter, long long amount);

struct RunOutcome {
    std::string closing_status;
    RunCounters counters;
    bool confirmed = false;
    // The run did not start: another run holds the storage folder or a store, or the journal
    // is no file of its own. The closing status says why.
    bool refused = false;
};

// comB_start_Click.
RunOutcome run_archive(RunView& view, const RunEnvironment& env);

// The environment of the real program.
RunEnvironment default_run_environment(const std::string& settings_file);

inline constexpr const char* kRunWarningTitle = "H I N W E I S   D A T E N V E R L U S T";
std::string run_warning_text();

}  // namespace morvo

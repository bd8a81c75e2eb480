// The archiving run behind "Start" (comB_start_Click): the warning, the storage path test, the
// folder lines resolved by name, every mail of each folder filed, the summary and the finishing
// step reached from every exit. The window side comes in through RunView.
#pragma once

#include <functional>
#include <string>

#include "morvo/filing.h"
#include "morvo/outlook/outlook.h"
#include "morvo/path_rules.h"

namespace morvo {

// What the run tells its window, or whatever stands in for one. Each event has a default that
// ignores it, so a view takes up only what it shows.
class RunView {
  public:
    virtual ~RunView() = default;
    // The run begins (false) or ends (true): the window's start and close buttons follow it.
    virtual void enable_run_buttons(bool /*enabled*/) {}
    // The window puts the focus on the run text.
    virtual void focus_run_text() {}
    // The run's title and its page, brought to the front.
    virtual void show_run_page(const std::string& /*title*/) {}
    // The run text starts afresh with `text`.
    virtual void run_text_reset(const std::string& /*text*/) {}
    // A piece of run text at its end; `follow`: the view shows the end.
    virtual void run_text_added(const std::string& /*text*/, bool /*follow*/) {}
    // The status line.
    virtual void set_status(const std::string& /*text*/) {}
    // The run is over; its text may be saved as the log.
    virtual void run_finished() {}
    // A qualifying attachment or a folder line that stayed as it was (the text reports it),
    // each filed attachment, and each mail when it is done.
    virtual void something_stayed() {}
    virtual void attachment_filed() {}
    virtual void mail_done(long /*position*/, long /*count*/) {}
    // Asked after each mail: true ends the run there (its saves still complete).
    virtual bool stop_requested() { return false; }
};

struct RunEnvironment {
    std::string settings_file;  // sFile
    PathProbe probe;
    Clock clock;  // the current date and time
    // Creating "Outlook.Application" (tests hand in their own stores).
    std::function<outlook::Application()> create_application;
};

// What the summary counts: folders found, their mails, filed attachments.
struct RunCounters {
    long long folder_lines = 0;
    long long folders = 0;
    long long mails = 0;
    long long attachments = 0;
};

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

// The closing status of a run the user stopped, at the warning or later.
inline constexpr const char* kStoppedStatus = "Abbruch nach Benutzerwunsch!";
inline constexpr const char* kRunWarningTitle = "H I N W E I S   D A T E N V E R L U S T";
std::string run_warning_text();

}  // namespace morvo

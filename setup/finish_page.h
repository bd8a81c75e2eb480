#pragma once
// The finish page's decisions, without its window: which options it offers, what its button does,
// and the restart calls.
#include <array>
#include <string>

namespace setup {

struct FinishOption {
    bool visible = false;
    bool checked = false;
    std::string Tag;    // "reboot", or the unexpanded Filename of a RunApps entry
    std::string label;  // the text of lblOptionN
};
using FinishOptions = std::array<FinishOption, 3>;

// Form_Load steps 3 and 4: the restart when Main/Reboot is "1" (offered checked), then the
// "nach Installation (Abfrage)" programs into the still hidden boxes. An AnzApps that is not a
// number offers nothing.
FinishOptions prepare_finish_options();

// What the finish button does: the restart request first, then the ticked programs without
// arguments, then the silent programs with theirs, then the package folder is emptied. The
// caller then ends the program.
void finish_setup(const FinishOptions& options);

// The programs that run without asking (and nothing else), then the emptying of the package
// folder: what closing the page by other means than its button does.
void finish_setup_closed();

long GetPlatformId();
bool IsWindowsNT();
bool RebootSystem(unsigned long Action);

// AnzApps as the loops read it: 0 when empty, "0" or not a number.
int run_apps_count();

}  // namespace setup

#include "setup/finish_page.h"

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/restart.h"
#include "platform/resume.h"
#include "setup/placeholders.h"
#include "setup/processes.h"
#include "setup/script.h"
#include "setup/script_keys.h"
#include "setup/string_table.h"

namespace setup {
namespace {

constexpr std::string_view kAsk = kWhenAsk;
constexpr std::string_view kSilent = kWhenSilent;

void open_program(const std::string& tag, const std::string& arguments) {
    // A program that cannot be started is not reported.
    platform::resume_on_error<platform::Error>(
        [&] { ShellOpen(ExpandPlaceholders(tag), arguments, 1); });
}

void run_silent_programs() {
    int n = run_apps_count();
    for (int j = 1; j <= n; ++j) {
        std::string J = std::to_string(j);
        if (GetIniValue("when" + J, "RunApps", "") != kSilent) continue;
        open_program(GetIniValue("Filename" + J, "RunApps", ""),
                     GetIniValue("Arguments" + J, "RunApps", ""));
    }
}

void empty_package_folder() {
    // Files that cannot be deleted stay.
    platform::resume_on_error<platform::Error>(
        [] { platform::Kill(platform::Environ("TEMP") + "\\~Veltrin\\*.*"); });
}

// A program named by its path is offered only when it is there: a product file that did not
// arrive must not be offered for a start. A bare name is found by the shell and stays offered.
bool offered_program_present(const std::string& tag) {
    std::string path;
    platform::resume_on_error<platform::Error>([&] { path = ExpandPlaceholders(tag); });
    if (path.find('\\') == std::string::npos) return true;
    return platform::file_exists(path);
}

}  // namespace

int run_apps_count() {
    std::string v = GetIniValue("AnzApps", "RunApps", "");
    if (v.empty() || v == "0") return 0;
    // A count that is not a number offers and starts nothing (instead of failing the page).
    try {
        return res_id_from_text(v);
    } catch (const platform::Error&) {
        return 0;
    }
}

FinishOptions prepare_finish_options() {
    FinishOptions o;
    platform::resume_on_error<platform::Error>([&] {
        if (GetIniValue("Reboot", "Main", "") == "1") {
            o[0].visible = true;
            o[0].Tag = "reboot";
            o[0].checked = true;
            o[0].label = "Computer neustarten";
        }
    });
    int n = run_apps_count();
    for (int j = 1; j <= n; ++j) {
        std::string J = std::to_string(j);
        if (GetIniValue("when" + J, "RunApps", "") != kAsk) continue;
        const std::string tag = GetIniValue("Filename" + J, "RunApps", "");
        if (!offered_program_present(tag)) continue;
        FinishOption* free = nullptr;
        for (auto& opt : o) {
            if (!opt.visible) {
                free = &opt;
                break;
            }
        }
        if (!free) continue;
        free->visible = true;
        free->checked = false;
        free->Tag = tag;
        free->label = GetIniValue("Message" + J, "RunApps", "");
    }
    return o;
}

void finish_setup(const FinishOptions& options) {
    for (size_t i = 0; i < options.size(); ++i) {
        const FinishOption& opt = options[i];
        if (!opt.checked) continue;
        if (i == 0 && opt.Tag == "reboot") {
            RebootSystem(platform::EWX_REBOOT);
        } else {
            open_program(opt.Tag, "");
        }
    }
    run_silent_programs();
    empty_package_folder();
}

void finish_setup_closed() {
    run_silent_programs();
    empty_package_folder();
}

long GetPlatformId() {
    platform::OSVERSIONINFO info;
    info.dwOSVersionInfoSize = 148;
    if (!platform::GetVersionExA(info)) return 0;
    return static_cast<long>(info.dwPlatformId);
}

bool IsWindowsNT() {
    return (GetPlatformId() & 2) != 0;
}

bool RebootSystem(unsigned long Action) {
    if (IsWindowsNT()) {
        long token = 0;
        if (!platform::OpenProcessToken(40, token)) return false;
        long luid = 0;
        platform::LookupPrivilegeValueA("", "SeShutdownPrivilege", luid);
        if (!platform::AdjustTokenPrivileges(token, false, luid, 2)) return false;
    }
    return platform::ExitWindowsEx(Action, 0);
}

}  // namespace setup

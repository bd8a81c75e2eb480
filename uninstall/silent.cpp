#include "uninstall/silent.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_options.h"
#include "setup/uninstall_log_names.h"
#include "uninstall/uninstall_run.h"

namespace uninstall {

using N = setup::UninstallLogNames;

namespace {

class SilentView : public RunView {
  public:
    void stop_timer() override {}
    void add_list_line(const std::string&) override {}
    std::int32_t window_handle() override { return 0; }
    void enable_next() override {}
};

// What the log lists, read before the run deletes the log.
std::vector<std::string> listed_paths(const Uninstaller& run) {
    std::vector<std::string> paths;
    if (auto links = count_value(run.GetIniValue(N::link_count, N::links_section)))
        for (int j = 1; j <= *links; ++j)
            paths.push_back(run.GetIniValue(N::link(j), N::links_section));
    if (auto files = count_value(run.GetIniValue(N::file_count, N::files_section)))
        for (int i = 0; i <= *files; ++i)
            paths.push_back(run.GetIniValue(N::file(i), N::files_section));
    return paths;
}

}  // namespace

int parse_uninstall_command_line(const std::vector<std::string>& args, std::string& error) {
    bool any_option = false;
    for (const auto& a : args) {
        // Single-dash arguments are Qt's own (-platform ...) and go to the window as before.
        if (platform::is_long_option(a)) {
            error = "unbekannte Angabe: " + a;
            return 2;
        }
        if (!a.empty() && a[0] == '/') any_option = true;
    }
    if (!any_option) return 0;
    if (args.size() == 1 && (args[0] == "/S" || args[0] == "/s")) return 1;
    error = "unbekannte Angabe; erlaubt ist nur /S";
    return 2;
}

int run_silent_uninstall() {
    platform::set_msgbox_program_title(std::string(kMessageTitle));
    // No questions: the start question is left out, and the closing box takes its default.
    platform::ScopedMsgBoxHandler boxes(
        [](const platform::MsgBoxRequest& box) { return platform::default_result(box); });

    static Uninstaller run(platform::app_path());
    if (!platform::file_exists(run.log_file())) {
        std::fprintf(stderr, "uninstall: kein Deinstallationsprotokoll %s\n",
                     platform::shown_path(run.log_file()).c_str());
        return 1;
    }
    const std::vector<std::string> paths = listed_paths(run);
    SilentView view;
    const std::vector<std::string> kept = run.Timer1_Timer(view);
    int status = 0;
    // A folder that was there before the install keeps what the install did not place: named,
    // and the status says that something stayed.
    for (const std::string& k : kept) {
        std::fprintf(stderr, "uninstall: bleibt, nicht installiert: %s\n",
                     platform::shown_path(k).c_str());
        status = 1;
    }
    for (const std::string& p : paths) {
        if (!p.empty() && platform::path_exists(p)) {
            std::fprintf(stderr, "uninstall: nicht entfernt: %s\n",
                         platform::shown_path(p).c_str());
            status = 1;
        }
    }
    // cmdNext_Click ends the program through end_program; the status found here counts.
    platform::set_end_program_hook([](int) {});
    run.cmdNext_Click();
    return status;
}

}  // namespace uninstall

#include "setup/silent.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_options.h"
#include "platform/resume.h"
#include "setup/bootstrap.h"
#include "setup/error_report.h"
#include "setup/finish_page.h"
#include "setup/install_run.h"
#include "setup/placeholders.h"
#include "setup/script.h"
#include "setup/wizard_pages.h"

namespace setup {

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

bool windows_absolute(const std::string& p) {
    const bool drive = p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) &&
                       p[1] == ':' && (p[2] == '\\' || p[2] == '/');
    return drive || p.rfind("\\\\", 0) == 0;
}

// A folder given on the command line: a host path ("/opt/x") or a Windows path ("C:\x").
// Returns "" when it is neither absolute form.
std::string install_folder_from(std::string value) {
    std::string folder = platform::typed_path(value);
    if (!windows_absolute(folder)) return {};
    // The install run appends "\name" itself; a drive root keeps its backslash.
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

// The plain text log (UTF-8 with LF: a person reads it) and standard error.
class Reporter {
  public:
    explicit Reporter(int fd) : fd_(fd), terminal_(::isatty(2) == 1) {}
    ~Reporter() {
        end_progress();
        if (fd_ >= 0) ::close(fd_);
    }

    void log(const std::string& line) {
        if (fd_ < 0) return;
        const std::string bytes = platform::text_to_file(line + "\n", platform::TextForm{});
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
    }

    // A failure: the log and standard error.
    void fail(const std::string& line) {
        log("Fehler: " + line);
        end_progress();
        std::fprintf(stderr, "setup: %s\n", line.c_str());
        failed_ = true;
    }
    bool failed() const { return failed_; }

    void progress(int percent, const std::string& status) {
        if (!terminal_) return;
        std::fprintf(stderr, "\r\x1b[K[%3d%%] %s", percent, status.c_str());
        std::fflush(stderr);
        progress_shown_ = true;
    }
    void end_progress() {
        if (!progress_shown_) return;
        std::fputs("\n", stderr);
        progress_shown_ = false;
    }

  private:
    int fd_;
    bool terminal_;
    bool progress_shown_ = false;
    bool failed_ = false;
};

// The install run's view without a window: texts go to the log, the progress bar to the
// terminal's progress line.
class SilentView : public InstallView {
  public:
    explicit SilentView(Reporter& out) : out_(out) {}

    std::string install_path() const override { return {}; }
    std::string programmgruppe() const override { return {}; }
    long window_handle() const override { return 0; }
    // The design width: the bar's full length is kProgressDesignLength.
    double screen_width_twips() const override { return 12000.0; }
    void set_step_installing() override {}
    void set_status(std::string_view text) override {
        status_ = text;
        out_.log("Status: " + status_);
        show_progress();
    }
    void show_progress_bar() override {}
    double progress_width() const override { return width_; }
    void set_progress_width(double twips) override {
        width_ = twips;
        show_progress();
    }
    void show_billboard(std::string_view, std::string_view) override {}
    void hide_billboard() override {}
    void do_events() override {}
    void show_meldung(std::string_view message) override {
        out_.log("Meldung: " + std::string(message));
    }
    void close_meldung() override {}
    void show_finish_page() override { width_ = kProgressDesignLength; }

  private:
    void show_progress() {
        double share = width_ / kProgressDesignLength;
        int percent = static_cast<int>(std::lround(100.0 * std::clamp(share, 0.0, 1.0)));
        out_.progress(percent, status_);
    }

    Reporter& out_;
    std::string status_;
    double width_ = 0;
};

int open_log(const std::string& host) {
    if (host.empty()) return -1;
    return ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void empty_package_folder() {
    // What cannot be deleted stays, as after the windowed run.
    platform::resume_on_error<platform::Error>([] { platform::Kill(package_folder() + "\\*.*"); });
}

}  // namespace

SetupCommandLine parse_setup_command_line(const std::vector<std::string>& args) {
    SetupCommandLine c;
    bool any_option = false;
    for (const auto& a : args) {
        // Single-dash arguments are Qt's own (-platform ...) and go to the window as before.
        if (platform::is_long_option(a)) {
            c.error = "unbekannte Angabe: " + a;
            return c;
        }
        if (!a.empty() && a[0] == '/') any_option = true;
    }
    if (!any_option) return c;  // the windowed program takes its arguments as before

    bool seen_s = false, seen_d = false, seen_log = false, seen_nr = false;
    auto fail = [&](std::string message) {
        c.silent = false;
        c.error = std::move(message);
        return c;
    };
    for (const auto& a : args) {
        const std::string u = upper(a);
        if (u == "/S") {
            if (seen_s) return fail("/S doppelt angegeben");
            seen_s = true;
        } else if (u == "/NORESTART") {
            if (seen_nr) return fail("/NORESTART doppelt angegeben");
            seen_nr = true;
            c.options.no_restart = true;
        } else if (u.rfind("/D=", 0) == 0) {
            if (seen_d) return fail("/D doppelt angegeben");
            seen_d = true;
            c.options.folder = install_folder_from(a.substr(3));
            if (c.options.folder.empty())
                return fail("/D braucht einen absoluten Ordner (/... oder C:\\...): " + a);
        } else if (u.rfind("/LOG=", 0) == 0) {
            if (seen_log) return fail("/LOG doppelt angegeben");
            seen_log = true;
            const std::string value = a.substr(5);
            if (value.empty()) return fail("/LOG braucht einen Dateinamen");
            c.options.log_file = windows_absolute(value) ? platform::host_path(value) : value;
            if (c.options.log_file.empty())
                return fail("/LOG nennt einen Ort, der nicht erreichbar ist: " + value);
        } else {
            return fail("unbekannte Angabe: " + a);
        }
    }
    if (!seen_s) return fail("/D, /LOG und /NORESTART gelten nur zusammen mit /S");
    c.silent = true;
    return c;
}

int run_silent_install(const SilentOptions& options) {
    const int fd = open_log(options.log_file);
    if (!options.log_file.empty() && fd < 0) {
        std::fprintf(stderr, "setup: das Protokoll %s kann nicht geschrieben werden\n",
                     options.log_file.c_str());
        return kSilentFailed;
    }
    Reporter out(fd);
    platform::set_msgbox_program_title("Veltrin");
    // Every box the run would show is answered by its default button; an error box is a failure.
    platform::ScopedMsgBoxHandler boxes([&](const platform::MsgBoxRequest& box) {
        const platform::Result answer = platform::default_result(box);
        std::string text = box.text;
        for (char& ch : text)
            if (ch == '\n' || ch == '\r') ch = ' ';
        if (box.icon == platform::Icon::Critical || box.icon == platform::Icon::Exclamation)
            out.fail(text);
        else
            out.log("Meldung: " + text + " -> " + std::string(platform::result_name(answer)));
        return answer;
    });

    out.log("Medium: " + platform::shown_path(platform::app_path()));
    if (!medium_has_resources()) {
        out.fail("Die Datei data01.cab fehlt auf dem Medium " +
                 platform::shown_path(platform::app_path()));
        return kSilentFailed;
    }
    if (const std::string refused = lock_package_folder(); !refused.empty()) {
        out.fail(refused);
        return kSilentFailed;
    }
    const std::string X = unpack_resources();
    block_after_unpack(X);
    if (!platform::file_exists(setup_script_path())) {
        out.fail("Das Setup-Skript konnte nicht entpackt werden: " +
                 platform::shown_path(setup_script_path()));
        return kSilentFailed;
    }

    // As in the wizard: the script's folder is expanded before the install folder exists.
    set_install_path_source({});
    set_owner_window(0);
    std::string folder = options.folder;
    if (folder.empty()) folder = ExpandPlaceholders(GetIniValue("InstallPath", "Main", ""));
    if (folder.empty()) {
        out.fail("Das Setup-Skript nennt keinen Installationsordner ([Main] InstallPath)");
        empty_package_folder();
        return kSilentFailed;
    }
    set_install_path_source([folder] { return folder; });
    const std::string group = GetIniValue("ProgrammGruppe", "Main", "");
    out.log("Installationsordner: " + platform::shown_path(folder));
    out.log("Programmgruppe: " + group);
    // Where the wizard would ask, the command line goes on; the log says so.
    if (folder_holds_entries(folder))
        out.log(
            "Der Installationsordner enthält bereits Dateien; die Deinstallation lässt "
            "sie dort: " +
            platform::shown_path(folder));

    InstallRunOptions run_options;
    run_options.placed = [&](std::string_view what, std::string_view path) {
        out.log(std::string(what) + ": " + platform::shown_path(path));
    };
    run_options.failed = [&](long number, std::string_view description, std::string_view path,
                             bool reported) {
        // Reported failures reach the log through their message box.
        if (!reported)
            out.log("übergangen: Fehler " + std::to_string(number) +
                    (path.empty() ? "" : " bei " + platform::shown_path(path)) + ": " +
                    std::string(description));
    };
    SilentView view(out);
    InstallResult result;
    try {
        result = StartInstallation(view, folder, group, run_options);
    } catch (const platform::Error& e) {
        out.fail("Laufzeitfehler " + std::to_string(e.number) + ": " + error_description(e));
        empty_package_folder();
        return kSilentFailed;
    }
    if (result.stopped || out.failed()) {
        empty_package_folder();
        out.log("Installation fehlgeschlagen");
        return kSilentFailed;
    }

    // The finish page with its button: no program that asks first, the restart unless refused.
    FinishOptions finish = prepare_finish_options();
    for (FinishOption& o : finish) {
        if (!o.visible) continue;
        if (o.Tag == "reboot") {
            o.checked = !options.no_restart;
            out.log(o.checked ? "Neustart angefordert" : "Neustart unterdrückt (/NORESTART)");
        } else {
            o.checked = false;
        }
    }
    finish_setup(finish);
    out.log("Installation abgeschlossen");
    return kSilentDone;
}

}  // namespace setup

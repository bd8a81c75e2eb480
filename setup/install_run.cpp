#include "setup/install_run.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/fonts.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "setup/bootstrap.h"
#include "setup/error_report.h"
#include "setup/placeholders.h"
#include "setup/processes.h"
#include "setup/script.h"
#include "setup/script_keys.h"
#include "setup/shell_link.h"
#include "setup/uninstall_log.h"

namespace setup {

std::optional<double> numeric_value(std::string_view text) {
    size_t a = 0, e = text.size();
    while (a < e && (text[a] == ' ' || text[a] == '\t')) ++a;
    while (e > a && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string_view s = text.substr(a, e - a);
    if (s.empty()) return std::nullopt;
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
        // Hexadecimal literal: a 16-bit value when it fits four digits, as the runtime reads it.
        long v = 0;
        for (char c : s.substr(2)) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            v = v * 16 + d;
            if (v > 0xFFFFFFFFL) return std::nullopt;
        }
        if (s.size() <= 6 && v > 0x7FFF) v -= 0x10000;
        return static_cast<double>(v);
    }
    size_t i = 0;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    double mantissa = 0;
    int digits = 0, frac_digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        mantissa = mantissa * 10 + (s[i++] - '0');
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            mantissa = mantissa * 10 + (s[i++] - '0');
            ++frac_digits;
        }
    }
    if (digits + frac_digits == 0) return std::nullopt;
    int exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        ++i;
        bool neg_exp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg_exp = s[i++] == '-';
        int exp_digits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (exponent < 10000) exponent = exponent * 10 + (s[i] - '0');
            ++i;
            ++exp_digits;
        }
        if (exp_digits == 0) return std::nullopt;
        if (neg_exp) exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;
    double v = mantissa * std::pow(10.0, exponent - frac_digits);
    if (!std::isfinite(v)) return std::nullopt;
    return negative ? -v : v;
}

std::int16_t to_integer(double value) {
    double r = std::nearbyint(value);  // default rounding mode: halves to the even neighbour
    if (!(r >= -32768.0 && r <= 32767.0)) throw platform::Error(6, "Überlauf");
    return static_cast<std::int16_t>(r);
}

void AdvanceProgress(InstallView& view, double step) {
    view.set_progress_width(view.progress_width() + step);
}

namespace {

const platform::Error type_mismatch() {
    return platform::Error(13, "Typen unverträglich");
}

double require_number(const std::string& text) {
    auto v = numeric_value(text);
    if (!v) throw type_mismatch();
    return *v;
}

// A count of entries (apps, fonts, links): empty or non-numeric means no entries.
long entry_count(const std::string& text) {
    auto v = numeric_value(text);
    if (!v || *v > 32767.0 || *v < -32768.0) return 0;
    return static_cast<long>(std::nearbyint(*v));
}

// Thrown after the fatal stop message; ends the run at once.
struct StopRun {};

class Run {
  public:
    Run(InstallView& view, std::string install_folder, const InstallRunOptions& options)
        : view_(view),
          F_(std::move(install_folder)),
          program_folder_(options.program_folder.empty() ? platform::app_path()
                                                         : options.program_folder),
          options_(options),
          log_(F_) {}

    InstallResult go() {
        InstallResult result;
        try {
            steps();
            result.finished = true;
        } catch (const StopRun&) {
            result.stopped = true;
        }
        result.errors = report_.count();
        result.logged = logged_;
        return result;
    }

  private:
    // Runs one statement under the regime in force: a failure is reported (and may stop the
    // run) or skipped silently; either way the run goes on with the next statement. `path`
    // names the file or folder the statement works on, for the log.
    template <class Fn>
    void step(Fn&& fn, const std::string& path = {}) {
        try {
            fn();
        } catch (const platform::Error& e) {
            failed(e.number, error_description(e), e.path.empty() ? path : e.path);
        } catch (const std::exception& e) {
            failed(51, std::string("Interner Fehler: ") + e.what(), path);
        }
    }

    void failed(long number, const std::string& description, const std::string& path = {}) {
        if (options_.failed) options_.failed(number, description, path, !silent_);
        if (silent_) return;
        if (!report_.report(number, description)) throw StopRun{};
    }

    // Reported steps end where the first file entry (or, without file entries, the first
    // shortcut entry) starts its real work; from there on failures are skipped silently.
    void go_silent() { silent_ = true; }

    static std::string ini(const std::string& key, const std::string& section) {
        return GetIniValue(key, section, "");
    }

    bool uninstall_enabled() const { return ini("Uninstall", "Main") == "1"; }

    // A failure of these two is left to the caller (outside both regimes).
    void prologue() {
        UnBlockExe(extractor_copy());
        view_.set_step_installing();
    }

    void steps() {
        prologue();

        // Silent even while reported steps surround it. The folder is the product's own when
        // setup creates it now, or when an earlier install of it created it and said so.
        silent_step([&] {
            const bool existed = platform::folder_exists(F_);
            platform::MakeSureDirectoryPathExists(F_ + "\\");
            folder_created_ = existed ? uninstall_enabled() && log_.folder_created_before()
                                      : platform::folder_exists(F_);
        });

        step([&] {
            view_.show_progress_bar();
            view_.set_progress_width(0);
        });

        step([&] {
            n_text_ = ini("AnzahlDateien", "Dateien");
            scale_ = static_cast<float>(view_.screen_width_twips() / 12000.0);
            double n = require_number(n_text_);
            if (n == 0) throw platform::Error(11, "Division durch Null");
            step_ = scale_ * (kProgressDesignLength / n);
        });

        silent_step(
            [&] { platform::FileCopy(program_folder_ + "\\unins.ex_", F_ + "\\Uninstall.exe"); });

        step([&] { view_.set_status("Kopiere neue Dateien..."); });

        billboards_start();
        file_loop();

        step([&] { view_.set_status("Registriere Schriften..."); });
        fonts();

        if (uninstall_enabled()) step([&] { log_.write_file_count(logged_ - 1); });
        if (uninstall_enabled()) step([&] { log_.write_title(ini("ProduktName", "Main")); });
        if (uninstall_enabled()) step([&] { log_.write_folder_created(folder_created_); });
        if (uninstall_enabled()) step([&] { log_created_folders(); });

        step([&] { view_.set_status("Einrichtung des Programms..."); });
        run_apps();

        step([&] { view_.set_status("Erstelle Verknüfungen..."); });
        step([&] { BlockExe(extractor_copy()); });

        std::string group = ini("ProgrammGruppe", "Main");
        std::string P;
        step([&] {
            cShellLink link;
            link.GetSystemFolderPath(view_.window_handle(), mShellLink::CSIDL_PROGRAMS, P);
        });
        step([&] { platform::MkDir(P + "\\" + group); }, P + "\\" + group);
        if (uninstall_enabled()) step([&] { log_.write_group(P + "\\" + group); });

        long links = shortcuts();
        if (uninstall_enabled()) step([&] { log_.write_link_count(static_cast<int>(links)); });

        step([&] {
            view_.set_status("Fertigstellung...");
            view_.hide_billboard();
        });
        step([&] { view_.show_finish_page(); });
    }

    template <class Fn>
    void silent_step(Fn&& fn) {
        bool was = silent_;
        silent_ = true;
        step(std::forward<Fn>(fn));
        silent_ = was;
    }

    void show_billboard(int j) {
        std::string text = ini("Text" + std::to_string(j), "Billboards");
        std::string with_breaks;
        for (char c : text) {
            if (c == '|')
                with_breaks += "\r\n";
            else
                with_breaks += c;
        }
        view_.show_billboard(ini("Title" + std::to_string(j), "Billboards"), with_breaks);
    }

    void billboards_start() {
        std::string value = ini("AnzBillboards", "Billboards");
        if (value.empty() || value == "0") return;
        step([&] { k_ = to_integer(require_number(value)); });
        if (k_ == 0) return;
        step([&] { threshold_ = to_integer(require_number(n_text_) / k_); });
        step([&] { show_billboard(1); });
        b_ = 2;
    }

    void file_loop() {
        double last = 0;
        bool bound_ok = false;
        step([&] {
            last = require_number(n_text_) - 1;
            bound_ok = true;
        });
        if (!bound_ok) return;
        for (long i = 0; i <= last; ++i) {
            std::string idx = std::to_string(i);
            std::string D;
            step([&] { D = ExpandPlaceholders(ini("Datei" + idx, "Dateien")); });
            go_silent();

            step(
                [&] {
                    const bool existed = platform::folder_exists(D);
                    platform::MkDir(D);
                    if (!existed) created_folders_.push_back(D);
                },
                D);
            std::string S;
            if (usable_target_folder(D)) step([&] { S = GetShortPath(D); });
            std::string N = ini("DateiN" + idx, "Dateien");
            // Without a usable folder (reported above) the entry is left out: extracting would
            // aim at the bare name in the root.
            if (!S.empty()) {
                step(
                    [&] {
                        std::string cmd = extractor_copy() + " " + GetShortPath(program_folder_) +
                                          "\\data02.cab " + S + "\\" + N + " -d -i -ox";
                        const unsigned long code = ShellAndWait(cmd, 0);
                        if (code == 0 && platform::file_exists(D + "\\" + N)) {
                            placed("Datei", D + "\\" + N);
                        } else {
                            missing_file(D + "\\" + N);
                        }
                    },
                    D + "\\" + N);
                if (ini("DateiReg" + idx, "Dateien") == "x")
                    step([&] { RegisterComponent(D + "\\" + N, true); }, D + "\\" + N);
                if (ini("DateiLog" + idx, "Dateien").empty()) {
                    step([&] {
                        log_.write_file(logged_, D + "\\" + N);
                        ++logged_;
                    });
                }
            }
            if (k_ > 0 && i == threshold_) {
                step([&] { show_billboard(b_); });
                step([&] { threshold_ = to_integer(2.0 * threshold_); });
                ++b_;
            }
            step([&] { AdvanceProgress(view_, step_); });
        }
    }

    // A target folder that is missing after MkDir or that cannot be written is reported once,
    // naming it, even where the run is otherwise silent: its files are not placed, and the
    // finish page must not be the first the user hears of it.
    bool usable_target_folder(const std::string& D) {
        if (platform::folder_writable(D)) return true;
        if (!unusable_folders_.insert(D).second) return false;
        const bool exists = platform::folder_exists(D);
        const std::string description =
            (exists ? "Fehler beim Zugriff auf Pfad/Datei: " : "Pfad nicht gefunden: ") + D;
        if (!report_.report(exists ? 75 : 76, description)) throw StopRun{};
        return false;
    }

    // A product file that did not arrive (a damaged cabinet, a full disk) is reported, naming
    // it, even where the run is otherwise silent, and counts as any other report: the user must
    // not learn of it only when the program is missing.
    void missing_file(const std::string& path) {
        if (!report_.report(53, "Datei nicht installiert: " + platform::shown_path(path)))
            throw StopRun{};
    }

    // The folders this run created, after those an earlier install of the product recorded.
    void log_created_folders() {
        if (created_folders_.empty()) return;
        int j = log_.folder_count_before();
        for (const std::string& folder : created_folders_) log_.write_folder(++j, folder);
        log_.write_folder_count(j);
    }

    void fonts() {
        // Font0 up to and including Font<count>; a count that is no number means none.
        std::string count = ini("AnzFonts", "Fonts");
        if (!numeric_value(count)) return;
        long m = entry_count(count);
        for (long j = 0; j <= m; ++j) {
            step([&] {
                const std::string font = F_ + "\\" + ini("Font" + std::to_string(j), "Fonts");
                platform::AddFontResourceA(font);
                placed("Schrift", font);
            });
        }
    }

    void run_apps() {
        long apps = entry_count(ini("AnzApps", "RunApps"));
        for (long j = 1; j <= apps; ++j) {
            std::string idx = std::to_string(j);
            if (ini("when" + idx, "RunApps") != kWhenAtInstall) continue;
            std::string E;
            step([&] { E = ExpandPlaceholders(ini("Filename" + idx, "RunApps")); });
            step([&] { view_.show_meldung(ini("Message" + idx, "RunApps")); });
            long pid = 0;
            step(
                [&] {
                    pid = platform::Shell(E + " " + ini("Arguments" + idx, "RunApps"), 1);
                    placed("Programm", E);
                },
                E);
            step([&] { WaitForProcess(pid); });
            step([&] { view_.close_meldung(); });
        }
    }

    long shortcuts() {
        long links = entry_count(ini("AnzLinks", "Links"));
        long done = 0;
        for (long j = 1; j <= links; ++j) {
            std::string idx = std::to_string(j);
            std::string L;
            step([&] {
                L = ExpandPlaceholders(ini("LinkPath" + idx, "Links"));
                platform::MakeSureDirectoryPathExists(L + "\\");
            });
            go_silent();
            std::string T = ini("LinkT" + idx, "Links");
            step(
                [&] {
                    std::string target = ExpandPlaceholders(ini("LinkN" + idx, "Links"));
                    // "LinkI" names a picture for the shortcut; without it the target stands for
                    // its own icon and the shortcut gets a themed one.
                    std::string icon = ini("LinkI" + idx, "Links");
                    icon = icon.empty() ? target : ExpandPlaceholders(icon);
                    cShellLink link;
                    link.CreateShellLink(L + "\\" + T, target, F_, "", icon, 0,
                                         mShellLink::SW_SHOWNORMAL, "",
                                         ini("LinkK" + idx, "Links"));
                    placed("Verknüpfung", L + "\\" + T);
                },
                L + "\\" + T);
            step([&] { log_.write_link(static_cast<int>(j), L + "\\" + T); });
            ++done;
        }
        return done;
    }

    void placed(std::string_view what, const std::string& path) const {
        if (options_.placed) options_.placed(what, path);
    }

    InstallView& view_;
    std::string F_;
    std::string program_folder_;
    const InstallRunOptions& options_;
    UninstallLog log_;
    ErrorReport report_;
    bool silent_ = false;

    std::string n_text_;
    float scale_ = 0;
    double step_ = 0;
    int logged_ = 0;
    std::set<std::string> unusable_folders_;
    bool folder_created_ = false;
    std::vector<std::string> created_folders_;
    int k_ = 0;
    int threshold_ = 0;
    int b_ = 2;
};

}  // namespace

InstallResult StartInstallation(InstallView& view, std::string_view InstallPath,
                                std::string_view /*Programmgruppe*/,
                                const InstallRunOptions& options) {
    Run run(view, std::string(InstallPath), options);
    return run.go();
}

}  // namespace setup

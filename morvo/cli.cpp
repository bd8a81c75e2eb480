#include "morvo/cli.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <set>
#include <stdexcept>

#include "morvo/filing.h"
#include "morvo/folder_tree.h"
#include "morvo/folder_walk.h"
#include "morvo/outlook/discovery.h"
#include "morvo/path_rules.h"
#include "morvo/reattach.h"
#include "morvo/run.h"
#include "morvo/run_lock.h"
#include "morvo/run_log.h"
#include "morvo/settings.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/program_options.h"
#include "platform/resume.h"

namespace morvo {

namespace {

enum class Mode { none, run, dry_run, reattach, list_stores };

struct Options {
    Mode mode = Mode::none;
    std::string settings;
    std::vector<std::string> folders;
    std::string error;
};

Options parse_options(const std::vector<std::string>& args) {
    Options o;
    auto set_mode = [&o](Mode m) {
        if (o.mode != Mode::none && o.mode != m) o.error = "Nur eine Betriebsart auf einmal.";
        o.mode = m;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--run") {
            set_mode(Mode::run);
        } else if (a == "--dry-run") {
            set_mode(Mode::dry_run);
        } else if (a == "--reattach") {
            set_mode(Mode::reattach);
        } else if (a == "--list-stores") {
            set_mode(Mode::list_stores);
        } else if ((a == "--settings" || a == "--folder") && i + 1 < args.size()) {
            (a == "--settings" ? o.settings : o.folders.emplace_back()) = args[++i];
        } else {
            o.error = "Unbekannte oder unvollständige Angabe: " + a;
        }
    }
    if (o.error.empty() && !o.folders.empty() && o.mode != Mode::reattach)
        o.error = "--folder gilt nur mit --reattach.";
    return o;
}

const char* const kUsage =
    "Aufruf: morvo [--run | --dry-run | --reattach [--folder ZEILE]...] [--settings DATEI]\n"
    "       morvo --list-stores\n";
const char* const kHelp =
    "Aufruf: morvo [--run | --dry-run | --reattach [--folder ZEILE]...] [--settings DATEI]\n"
    "       morvo --list-stores\n"
    "Legt die Anlagen der Emails in den angehakten Ordnern im Ablageordner ab. Ohne Angaben\n"
    "öffnet sich das Fenster.\n"
    "  --run              legt die Anlagen ab wie der Start-Knopf, ohne Fenster\n"
    "  --dry-run          zeigt, was abgelegt würde und was warum bleibt; ändert nichts\n"
    "  --reattach         legt abgelegte Anlagen in ihre Emails zurück (die Ordner der\n"
    "                     Einstellungen oder die mit --folder genannten)\n"
    "  --folder ZEILE     ein Ordner für --reattach, z. B. \"Persönliche Ordner|Posteingang\"\n"
    "  --settings DATEI   liest diese Einstellungen statt morvo.ini neben dem Programm\n"
    "  --list-stores      zeigt die Mail-Speicher, die Morvo findet, und woher\n"
    "  -h, --help         diese Hilfe\n"
    "  --version          die Version\n"
    "Rückgabe: 0 fertig, 1 etwas blieb (gemeldet), 2 konnte nicht laufen.\n";

std::string lf_text(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

// The window's run text goes to standard output as it grows; a progress line to `err`.
class CommandLineView : public RunView {
  public:
    CommandLineView(std::ostream& out, std::ostream& err, bool progress)
        : out_(out), err_(err), progress_(progress), start_(std::chrono::steady_clock::now()) {}

    void run_text_reset(const std::string& t) override {
        clear_progress();
        if (printed_) out_ << "\n";  // a new text after one already shown: in full
        out_ << lf_text(t) << std::flush;
        printed_ = printed_ || !t.empty();
        text.reset(t);
    }
    void run_text_added(const std::string& t, bool) override {
        clear_progress();
        out_ << lf_text(t) << std::flush;
        printed_ = printed_ || !t.empty();
        text.append(t);
    }
    void something_stayed() override { ++stayed; }
    void attachment_filed() override { ++filed_; }
    void mail_done(long position, long count) override {
        ++mails_;
        if (!progress_) return;
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(200) && position < count) return;
        last_ = now;
        double secs = std::chrono::duration<double>(now - start_).count();
        double rate = secs > 0 ? static_cast<double>(mails_) / secs : 0;
        long left = rate > 0 ? static_cast<long>(static_cast<double>(count - position) / rate) : 0;
        char line[160];
        std::snprintf(line, sizeof line,
                      "\r%ld Emails, %ld Anlagen, %.1f Emails/s, Ordner noch etwa %ld s   ", mails_,
                      filed_, rate, left);
        err_ << line << std::flush;
        shown_ = true;
    }
    void clear_progress() {
        if (shown_) err_ << "\r" << std::string(72, ' ') << "\r" << std::flush;
        shown_ = false;
    }

    RunText text;
    long stayed = 0;

  private:
    std::ostream& out_;
    std::ostream& err_;
    bool progress_;
    bool printed_ = false;
    long mails_ = 0, filed_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_, last_;
};

// Shows a box of the run on standard error; the run's warning is answered "Yes", since
// whoever started the command asked for the run.
platform::ScopedMsgBoxHandler boxes_to(std::ostream& err) {
    return platform::ScopedMsgBoxHandler([&err](const platform::MsgBoxRequest& r) {
        if (r.title == kRunWarningTitle) return platform::Result::Yes;
        err << r.title << ": " << lf_text(r.text) << "\n";
        return platform::default_result(r);
    });
}

struct Prepared {
    std::string settings_file;
    RunSettings settings;
};

// What every mode needs before it touches anything: readable settings, a reachable and
// writable storage folder, a mail store that answers. False (with the reason on `err`) when
// one is missing.
bool prepare(const Options& o, std::ostream& err, Prepared& p, bool need_writable) {
    if (o.settings.empty())
        p.settings_file = settings_file_path(settings_folder());
    else
        p.settings_file = platform::typed_path(o.settings);
    std::string text;
    if (!read_settings_file(p.settings_file, text)) {
        err << "Die Einstellungsdatei " << platform::shown_path(p.settings_file)
            << " kann nicht gelesen werden. Bitte im Fenster Einstellungen speichern oder mit "
               "--settings DATEI eine andere Einstellungsdatei nennen.\n";
        return false;
    }
    p.settings = parse_run_settings(text);
    if (!p.settings.has_storage_path || p.settings.storage_path.empty()) {
        err << "Die Einstellungsdatei " << platform::shown_path(p.settings_file)
            << " nennt keinen Ablageordner.\n";
        return false;
    }
    RunPathDecision path = decide_run_path(p.settings.storage_path, platform_probe());
    if (path.box) err << path.box->title << ": " << lf_text(path.box->text) << "\n";
    if (!path.go_on) {
        err << path.closing_status << "\n";
        return false;
    }
    if (need_writable) {
        std::string host = platform::host_path(p.settings.storage_path);
        if (host.empty() || ::access(host.c_str(), W_OK | X_OK) != 0) {
            err << "Der Ablageordner " << platform::shown_path(p.settings.storage_path)
                << " ist nicht beschreibbar. Vorgang abgebrochen!\n";
            return false;
        }
    }
    try {
        outlook::Application app = outlook::CreateObject("Outlook.Application");
        if (app.GetNamespace("MAPI").Folders().Count() == 0)
            throw std::runtime_error("kein Postfach eingerichtet");
    } catch (const std::exception& e) {
        err << "Keine Verbindung zum Mailprogramm: " << e.what() << "\n";
        return false;
    }
    return true;
}

std::vector<std::string> decoded_lines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (std::string l : lines) {
        textzurueck(l);
        out.push_back(std::move(l));
    }
    return out;
}

int run_mode(const Options& o, std::ostream& out, std::ostream& err, bool progress) {
    Prepared p;
    if (!prepare(o, err, p, true)) return kExitCannotRun;
    auto boxes = boxes_to(err);
    CommandLineView view(out, err, progress);
    RunEnvironment env = default_run_environment(p.settings_file);
    RunOutcome outcome = run_archive(view, env);
    view.clear_progress();
    out << "\n" << std::flush;
    if (outcome.refused) return kExitCannotRun;  // the other run writes the log
    LogResult log = save_run_log(run_log_folder(), view.text, env.clock());
    if (!log.ok) err << lf_text(log.message) << "\n";
    if (!outcome.confirmed) return kExitCannotRun;
    // A run whose log is lost is not done: whoever scheduled it learns of it.
    return view.stayed > 0 || !log.ok ? kExitStayed : kExitDone;
}

int dry_run_mode(const Options& o, std::ostream& out, std::ostream& err) {
    Prepared p;
    if (!prepare(o, err, p, false)) return kExitCannotRun;
    const std::string& storage = p.settings.storage_path;
    FilingEnvironment fenv = default_filing_environment();
    // Names this preview hands out count as taken, as the files of a real run would.
    std::set<std::string> taken;
    auto exists = [&](const std::string& path) {
        return taken.count(path) > 0 || fenv.file_exists(path);
    };
    long count = 0, stayed = 0, left = 0, mails_left = 0;
    long long bytes = 0;
    const NamingRule rule =
        p.settings.long_extensions ? NamingRule::long_extensions : NamingRule::three_letters;
    // Beside a run that may hold the stores: read only, clearing nothing up.
    outlook::NameSpace ns =
        outlook::CreateObject("Outlook.Application").reading_only().GetNamespace("MAPI");
    for (const std::string& line : decoded_lines(p.settings.folder_lines)) {
        const WalkedFolder walked = walk_folder_line(ns, line);
        if (walked.result == FolderWalk::failed) {
            out << "Der Ordner " << line << " kann nicht gelesen werden: " << walked.error << "\n";
            ++stayed;
            continue;
        }
        if (walked.result == FolderWalk::not_found) {
            out << "Der Ordner " << line << " ist nicht vorhanden.\n";
            ++stayed;
            continue;
        }
        const outlook::MAPIFolder& folder = walked.folder;
        long items = 0;
        try {
            items = folder.Items().Count();
        } catch (const std::exception& e) {
            out << "Der Ordner " << line << " kann nicht gelesen werden: " << e.what() << "\n";
            ++stayed;
            continue;
        }
        out << "Ordner: " << line << " (" << items << " Emails)\n";
        for (long i = 1; i <= items; ++i) {
            try {
                outlook::MailItem item = folder.Items(i);
                bool header = false;
                auto mail_header = [&] {
                    if (!header) out << "Email: " << item.Subject() << "\n";
                    header = true;
                };
                // The same decisions as the run, each with its reason.
                if (const Keep whole = mail_decision(item); whole != Keep::filed) {
                    mail_header();
                    out << "  bleibt unverändert: " << keep_reason(whole) << "\n";
                    ++mails_left;
                    continue;
                }
                long n = item.Attachments().Count();
                for (long k = 1; k <= n; ++k) {
                    outlook::Attachment a = item.Attachments(k);
                    std::string dn;
                    long size = 0;
                    try {
                        dn = a.DisplayName();
                    } catch (const std::exception& e) {
                        mail_header();
                        out << "  Anlage " << k << " bleibt in der Email: nicht lesbar ("
                            << e.what() << ")\n";
                        ++left;
                        continue;
                    }
                    std::string tv;
                    platform::resume_on_error([&] { tv = a.text(); });
                    if (const Keep why = attachment_decision(dn, tv, rule); why != Keep::filed) {
                        mail_header();
                        out << "  " << dn << " bleibt in der Email: " << keep_reason(why, rule)
                            << "\n";
                        ++left;
                        continue;
                    }
                    try {
                        size = a.Size();
                    } catch (const std::exception& e) {
                        // A run fails to save it the same way and reports it.
                        mail_header();
                        out << "  " << dn << " bleibt in der Email: Teil beschädigt oder nicht "
                            << "lesbar (" << e.what() << ")\n";
                        ++left;
                        ++stayed;
                        continue;
                    }
                    std::string target = free_target_path(storage, clean_display_name(dn),
                                                          fenv.clock(), exists, rule);
                    taken.insert(target);
                    mail_header();
                    out << "  " << dn << " -> " << platform::shown_path(target) << " (" << size
                        << " Bytes)\n";
                    ++count;
                    bytes += size;
                }
            } catch (const std::exception& e) {
                // As in a run: a mail that cannot be read is passed over.
                out << "Email " << i << " in " << line << " kann nicht gelesen werden: " << e.what()
                    << "\n";
            }
        }
    }
    out << "Abzulegen: " << count << " Anlagen, " << bytes << " Bytes\n";
    out << "In den Emails bleiben: " << left << " Anlagen, " << mails_left
        << " Emails unverändert\n";
    return stayed > 0 ? kExitStayed : kExitDone;
}

int reattach_mode(const Options& o, std::ostream& out, std::ostream& err) {
    Prepared p;
    if (!prepare(o, err, p, true)) return kExitCannotRun;
    ReattachEnvironment env;
    env.storage_path = p.settings.storage_path;
    env.create_application = [] { return outlook::CreateObject("Outlook.Application"); };
    env.print = [&out](const std::string& t) { out << lf_text(t) << std::flush; };
    const std::vector<std::string> lines =
        o.folders.empty() ? decoded_lines(p.settings.folder_lines) : o.folders;
    RunLocks locks = lock_run(p.settings.storage_path, lines, env.create_application().stores());
    if (!locks.taken()) {
        err << kRunLockTitle << ": " << locks.refusal << "\n";
        return kExitCannotRun;
    }
    env.linking_folders = decoded_lines(p.settings.folder_lines);
    ReattachResult r = reattach_folders(lines, env);
    out << "Zurückgelegt: " << r.restored << " Anlagen, geblieben: " << r.stayed << "\n";
    return r.stayed > 0 ? kExitStayed : kExitDone;
}

// One line per store: name, kind, location, the file that named it, tab-separated; a store
// the binding leaves out says why. Exit 2 when nothing can be opened.
int list_stores_mode(std::ostream& out, std::ostream& err) {
    outlook::FoundStores found = outlook::find_stores(outlook::DiscoveryPlaces::from_environment());
    const std::vector<std::string> notes = found.notes;
    const size_t opened = outlook::stores_to_open(found).size();
    for (const auto& s : found.stores) {
        out << s.name << "\t" << s.kind << "\t" << s.location << "\t" << s.source;
        std::string why = outlook::why_not_opened(s, found.from_profile);
        if (!why.empty()) out << "\t(bleibt aus: " << why << ")";
        out << "\n";
    }
    for (const auto& n : notes) err << "Hinweis: " << n << "\n";
    if (found.stores.empty()) err << "Kein Mail-Speicher gefunden.\n";
    return opened > 0 ? kExitDone : kExitCannotRun;
}

}  // namespace

bool is_command_line(const std::vector<std::string>& args) {
    // Single-dash arguments other than -h are Qt's own (-platform ...) and go to the window.
    for (const auto& a : args)
        if (platform::is_long_option(a) || a == "-h") return true;
    return false;
}

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool progress) {
    switch (platform::standard_request(args, false)) {
        case platform::StandardRequest::help:
            out << kHelp;
            return kExitDone;
        case platform::StandardRequest::version:
            out << platform::version_text("morvo");
            return kExitDone;
        case platform::StandardRequest::none:
            break;
    }
    Options o = parse_options(args);
    if (o.error.empty() && o.mode == Mode::list_stores &&
        (!o.settings.empty() || !o.folders.empty()))
        o.error = "--list-stores steht allein.";
    if (!o.error.empty() || o.mode == Mode::none) {
        err << (o.error.empty() ? "Keine Betriebsart angegeben." : o.error) << "\n" << kUsage;
        return kExitCannotRun;
    }
    try {
        switch (o.mode) {
            case Mode::run:
                return run_mode(o, out, err, progress);
            case Mode::dry_run:
                return dry_run_mode(o, out, err);
            case Mode::list_stores:
                return list_stores_mode(out, err);
            default:
                return reattach_mode(o, out, err);
        }
    } catch (const std::exception& e) {
        err << "Abbruch: " << e.what() << "\n";
        return kExitCannotRun;
    }
}

}  // namespace morvo

#include "morvo/run.h"

#include <functional>
#include <limits>

#include "morvo/folder_tree.h"
#include "morvo/folder_walk.h"
#include "morvo/journal.h"
#include "morvo/run_lock.h"
#include "morvo/settings.h"
#include "platform/line_break.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/resume.h"

namespace morvo {

using platform::kCrLf;

std::string run_warning_text() {
    return "BITTE BEACHTEN!" + kCrLf + kCrLf +
           "Die gespeicherten Pfadangaben werden auf Verfügbarkeit überprüft!" + kCrLf +
           "Bedenken Sie jedoch, daß durch verschiedene Betriebssysteme und" + kCrLf +
           "Versionen nicht immer alle Kombinationen getestet werden können!" + kCrLf + kCrLf +
           "Erzeugen Sie vor dem Start möglichst immer ein Backup," + kCrLf +
           "da bei falschen Pfadangaben Datenverlust entstehen kann!" + kCrLf + kCrLf +
           "Möchten Sie fortfahren und die E-Mail Anlagen Speichern?";
}

RunEnvironment default_run_environment(const std::string& settings_file) {
    RunEnvironment env;
    env.settings_file = settings_file;
    env.probe = platform_probe();
    env.clock = local_now;
    env.create_application = [] { return outlook::CreateObject("Outlook.Application"); };
    return env;
}

namespace {

void neue_Ordnersuche(const RunEnvironment& env) {
    platform::resume_on_error([&] {
        outlook::Application app = env.create_application();
        outlook::NameSpace ns = app.GetNamespace("MAPI");
        (void)ns;
    });
}

// What the run hands to each folder line.
struct FolderLineRun {
    RunView& view;
    const RunEnvironment& env;
    const outlook::NameSpace& ns;
    const std::string& storage_path;  // strOrdner
    const FilingEnvironment& filing;
    const FilingSink& sink;
    RunCounters& counters;
    const std::function<void(const std::string&, bool)>& append;  // text, caret to the end
};

// One folder line: the folder resolved by name, then each of its mails filed in order.
void run_folder_line(const FolderLineRun& r, const std::string& line) {
    RunCounters& c = r.counters;
    std::string sTxt = line;
    textzurueck(sTxt);
    const WalkedFolder walked = walk_folder_line(r.ns, sTxt);
    const outlook::MAPIFolder& folder = walked.folder;
    long items = 0;
    if (walked.result == FolderWalk::not_found) {
        r.append(kCrLf + kCrLf + kCrLf +
                     "Der angegebene Ordner in der: " + std::to_string(c.folder_lines + 1) +
                     " Zeile ist nicht vorhanden." + kCrLf + "Bitte überprüfen!" + kCrLf + kCrLf,
                 false);
        r.view.something_stayed();
        neue_Ordnersuche(r.env);
    } else if (walked.result == FolderWalk::failed) {
        // A store that does not answer: the line stays undone, and the text says why.
        r.append(kCrLf + kCrLf + kCrLf +
                     "Der Ordner in der: " + std::to_string(c.folder_lines + 1) +
                     " Zeile kann nicht gelesen werden: " + walked.error + kCrLf + kCrLf,
                 false);
        r.view.something_stayed();
    } else {
        try {
            items = folder.Items().Count();
        } catch (const std::exception&) {
            items = 0;
        }
        ++c.folders;
        c.mails += items;
        std::string name;
        platform::resume_on_error([&] { name = folder.text(); });
        const std::string progress = "Bearbeitet wird Ordner: " + name + kCrLf +
                                     "mit insgesamt: " + std::to_string(items) + " Emails!" +
                                     kCrLf + kCrLf;
        r.view.set_status(progress);
        r.append(kCrLf + kCrLf + kCrLf + progress, true);
        for (long i = 1; i <= items; ++i) {
            outlook::MailItem item;
            try {
                item = folder.Items(i);
            } catch (const std::exception&) {
                continue;
            }
            file_mail_item(item, r.storage_path, r.filing, r.sink);
            r.view.mail_done(i, items);
            if (r.view.stop_requested()) break;
        }
    }
    ++c.folder_lines;
}

}  // namespace

RunOutcome run_archive(RunView& view, const RunEnvironment& env) {
    RunOutcome out;
    std::string closing;
    const std::function<void(const std::string&, bool)> append =
        [&view](const std::string& text, bool caret) { view.run_text_added(text, caret); };
    auto finish = [&]() {
        view.enable_run_buttons(true);
        view.focus_run_text();
        if (closing.empty()) closing = "FERTIG";
        view.run_finished();
        view.set_status(closing);
        out.closing_status = closing;
        return out;
    };

    // The warning first: the user may still stop the run.
    view.focus_run_text();
    view.enable_run_buttons(false);
    auto answer = platform::MsgBox(run_warning_text(), platform::Buttons::YesNo,
                                   platform::Icon::Critical, kRunWarningTitle, 1);
    if (answer != platform::Result::Yes) {
        closing = kStoppedStatus;
        return finish();
    }
    out.confirmed = true;

    // Back to the first page with a fresh text.
    view.show_run_page("Morvolan");
    view.run_text_reset("Willkommen zum Morvo");

    // Held until the saves of this run are complete, whichever way it ends: declared before
    // the namespace, whose end completes saves still pending.
    RunLocks locks;

    // Attach to the mail program.
    outlook::Application app;
    outlook::NameSpace ns;
    try {
        app = env.create_application();
        ns = app.GetNamespace("MAPI");
    } catch (const platform::Error& e) {
        // The run goes on and finds no folder; the text says why (a server that refuses the
        // login, a mail program that is missing).
        append(kCrLf + kCrLf + "Keine Verbindung zum Mailprogramm: " + e.description, true);
    } catch (const std::exception&) {
    }

    // Counters, and the storage path as read.
    RunCounters& c = out.counters;
    c = RunCounters{};
    std::string text;
    if (!read_settings_file(env.settings_file, text)) {
        // Without a readable settings file there is no storage path to trust.
        closing = "Die Datei " + platform::shown_path(env.settings_file) +
                  " konnte nicht gelesen werden! Bitte Einstellungen speichern. Vorgang "
                  "abgebrochen!";
        return finish();
    }
    RunSettings settings = parse_run_settings(text);
    const std::string strOrdner = settings.storage_path;

    // The storage path is tested before any mail is touched.
    RunPathDecision path = decide_run_path(strOrdner, env.probe);
    if (path.box)
        platform::MsgBox(path.box->text, platform::Buttons::OK, platform::Icon::Information,
                         path.box->title);
    closing = path.closing_status;
    if (!path.go_on) return finish();

    // One run per storage folder and store: a second one would file every attachment again.
    {
        std::vector<std::string> lines;
        for (std::string l : settings.folder_lines) {
            textzurueck(l);
            lines.push_back(std::move(l));
        }
        locks = lock_run(strOrdner, lines,
                         app.is_nothing() ? std::vector<outlook::StoreConfig>{} : app.stores());
    }
    if (!locks.taken()) {
        platform::MsgBox(locks.refusal, platform::Buttons::OK, platform::Icon::Exclamation,
                         kRunLockTitle);
        out.refused = true;
        closing = locks.refusal;
        return finish();
    }

    // The filing reports through the window.
    FilingEnvironment fenv = default_filing_environment();
    if (env.clock) fenv.clock = env.clock;
    if (settings.long_extensions) fenv.naming = NamingRule::long_extensions;
    Journal journal(strOrdner);
    if (!journal.problem().empty()) {
        platform::MsgBox(journal.problem(), platform::Buttons::OK, platform::Icon::Critical,
                         "Überprüfung Ablagejournal");
        append(kCrLf + kCrLf + journal.problem(), true);
        closing = journal.problem();
        out.refused = true;
        return finish();
    }
    fenv.journal = &journal;
    FilingSink sink;
    sink.count_attachment = [&c, &view] {
        ++c.attachments;
        view.attachment_filed();
    };
    sink.set_status = [&view](const std::string& t) { view.set_status(t); };
    sink.add_text = [&append](const std::string& t) { append(t, true); };
    sink.keep_attachment = [&view] { view.something_stayed(); };

    // The folder lines, in file order.
    const FolderLineRun line_run{view, env, ns, strOrdner, fenv, sink, c, append};
    bool stopped = false;
    for (const std::string& line : settings.folder_lines) {
        run_folder_line(line_run, line);
        if ((stopped = view.stop_requested())) break;
    }

    // Saves still held complete now, so that a failure on a server is reported in this run. The
    // journal goes once every changed mail is stored; a save that failed keeps it, so that the
    // next run links the files it already holds, and counts as something that stayed.
    const outlook::FlushResult flushed =
        ns.is_nothing() ? outlook::FlushResult{} : ns.flush_saves();
    for (const std::string& failure : flushed.failures)
        append(kCrLf + kCrLf + failure + kCrLf, true);
    if (!flushed.complete && flushed.failures.empty())
        append(kCrLf + kCrLf +
                   "Nicht jede geänderte Email konnte gespeichert werden; diese bleiben, wie "
                   "sie waren, ihre Anlagen liegen zusätzlich in der Ablage." +
                   kCrLf,
               true);
    if (flushed.complete)
        journal.clear();
    else
        view.something_stayed();

    // The summary.
    const std::string summary =
        "Bearbeitet wurden insgesamt:" + kCrLf + "Ordner: " + std::to_string(c.folders) + kCrLf +
        "Email:    " + std::to_string(c.mails) + kCrLf +
        "Anlage: " + std::to_string(c.attachments) + kCrLf + kCrLf +
        (stopped ? std::string(kStoppedStatus) : "FERTIG --- KEINE WEITERE DATEN VORHANDEN!");
    if (stopped) closing = kStoppedStatus;
    view.set_status(summary);
    append(kCrLf + kCrLf + summary, true);
    return finish();
}

}  // namespace morvo

#include "morvo/reattach.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "morvo/filing.h"
#include "morvo/folder_walk.h"
#include "morvo/journal.h"
#include "platform/line_break.h"
#include "platform/paths.h"
#include "platform/resume.h"

namespace morvo {

using platform::kCrLf;

namespace {

struct StorageFile {
    std::string host;
    std::string bytes;
};

// Where a record's link leads, as one key for every way of writing it (the older "file:C:\..."
// form and the URL name the same file): the host path made canonical, or the link itself when
// it names no host path.
std::string file_key(const std::string& link) {
    auto win = platform::file_link_target(link);
    std::string host = win ? platform::host_path(*win) : "";
    if (host.empty()) return link;
    std::error_code ec;
    auto c = std::filesystem::weakly_canonical(host, ec);
    return ec ? host : c.string();
}

// The storage file of a record, when it is a plain file directly in the storage folder (a
// record comes from a mail, and mail is untrusted: it must not reach any other file) whose
// bytes are still the ones filed. Otherwise the reason.
std::string read_storage_file(const outlook::FilingRecord& r, const std::string& storage_host,
                              StorageFile& f) {
    auto win = platform::file_link_target(r.link);
    if (!win) return "Verweis unlesbar: " + r.link;
    const std::string shown = platform::shown_path(*win);  // the reasons name the host path
    f.host = storage_file_host(*win, storage_host);
    if (f.host.empty()) return "Datei liegt nicht im Ablageordner: " + shown;
    struct stat st {};
    if (::lstat(f.host.c_str(), &st) != 0) return "Datei fehlt: " + shown;
    if (!S_ISREG(st.st_mode)) return "keine gewöhnliche Datei: " + shown;
    if (st.st_size != r.size)
        return "Datei hat " + std::to_string(st.st_size) + " statt " + std::to_string(r.size) +
               " Bytes: " + shown;
    std::ifstream in(f.host, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    f.bytes = s.str();
    if (!in || static_cast<long long>(f.bytes.size()) != r.size)
        return "Datei kann nicht gelesen werden: " + shown;
    if (outlook::sha256_hex(f.bytes) != r.sha256) return "Datei wurde verändert: " + shown;
    return {};
}

std::string subject_of(const outlook::MailItem& item) {
    try {
        return item.Subject();
    } catch (const std::exception&) {
        return "";
    }
}

// A header value as the text may show it: one line, not overlong.
std::string shown_value(std::string v) {
    for (char& c : v)
        if (c == '\r' || c == '\n') c = ' ';
    if (v.size() > 200) v = v.substr(0, 200) + "...";
    return v;
}

// Whether a mail that cannot be read holds records all the same; true when even that is unknown.
bool holds_records(const outlook::MailItem& item) {
    try {
        return item.is_nothing() || item.HasFilingRecordHeader();
    } catch (const std::exception&) {
        return true;
    }
}

// An attachment as reattach looks for it in a mail again: subject, name and SHA-256.
std::string attachment_key(const std::string& subject, const std::string& name,
                           const std::string& sha256) {
    return subject + '\n' + name + '\n' + sha256;
}

// How many records of the folder's mails name each storage file, read afresh from the store;
// false when the folder, or any of its mails, cannot be read (a mail not read may link a file).
// A folder that is not there links nothing when `missing_links_nothing`. With `back`, the
// attachments asked for (attachment_key) that its mails hold again are added to `back`.
bool count_links(const ReattachEnvironment& env, const std::string& line,
                 std::map<std::string, long>& links, bool missing_links_nothing = false,
                 const std::set<std::string>* wanted = nullptr,
                 std::set<std::string>* back = nullptr) {
    try {
        outlook::Application app = env.create_application();
        const outlook::NameSpace ns = app.GetNamespace("MAPI");
        const WalkedFolder walked = walk_folder_line(ns, line);
        if (walked.result == FolderWalk::not_found) return missing_links_nothing;
        if (walked.result != FolderWalk::found) return false;
        const outlook::MAPIFolder& folder = walked.folder;
        const long mails = folder.Items().Count();
        for (long i = 1; i <= mails; ++i) {
            outlook::MailItem item;
            try {
                item = folder.Items(i);
                for (const auto& r : item.FilingRecords()) ++links[file_key(r.link)];
                if (!wanted || !back) continue;
                const std::string subject = subject_of(item);
                const std::string prefix = subject + '\n';
                const auto first = wanted->lower_bound(prefix);
                if (first == wanted->end() || first->compare(0, prefix.size(), prefix) != 0)
                    continue;
                for (long k = 1; k <= item.Attachments().Count(); ++k) {
                    outlook::Attachment a = item.Attachments(k);
                    std::string key = attachment_key(subject, a.DisplayName(), a.Sha256());
                    if (wanted->count(key)) back->insert(std::move(key));
                }
            } catch (const std::exception&) {
                if (holds_records(item)) return false;
            }
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

ReattachResult reattach_folders(const std::vector<std::string>& folder_lines,
                                const ReattachEnvironment& env) {
    ReattachResult result;
    const std::string storage_host = platform::host_path(env.storage_path);
    auto print = [&](const std::string& t) {
        if (env.print) env.print(t);
    };
    struct Pending {
        std::string key, host, name, subject, sha256;
    };
    // Storage files go only once every folder is done: a mail of a later folder may link the
    // same file, and the bytes must stay until no mail links them.
    std::vector<Pending> pending;
    std::map<std::string, long> linked_before;  // records naming each file, before
    std::map<std::string, long> restored;       // of those, records undone in saved mails
    std::vector<std::string> checked;           // the folders read, to read again afterwards
    // Each folder line in a namespace of its own; they live on until their saves complete.
    std::vector<outlook::NameSpace> sessions;
    for (const std::string& line : folder_lines) {
        WalkedFolder walked;
        try {
            sessions.push_back(env.create_application().GetNamespace("MAPI"));
            walked = walk_folder_line(sessions.back(), line);
        } catch (const std::exception& e) {
            print("Keine Verbindung zum Mailprogramm: " + std::string(e.what()) + kCrLf);
            walked.result = FolderWalk::not_found;
        }
        if (walked.result == FolderWalk::failed) {
            print("Der Ordner " + line + " kann nicht gelesen werden: " + walked.error + kCrLf);
            ++result.stayed;
            continue;
        }
        if (walked.result == FolderWalk::not_found) {
            print("Der Ordner " + line + " ist nicht vorhanden." + kCrLf);
            ++result.stayed;
            continue;
        }
        const outlook::MAPIFolder& folder = walked.folder;
        long count = 0;
        try {
            count = folder.Items().Count();
        } catch (const std::exception& e) {
            print("Der Ordner " + line + " kann nicht gelesen werden: " + e.what() + kCrLf);
            ++result.stayed;
            continue;
        }
        print("Ordner: " + line + kCrLf);
        checked.push_back(line);
        for (long i = 1; i <= count; ++i) {
            outlook::MailItem item;
            std::vector<outlook::FilingRecord> records;
            std::vector<std::string> unreadable;
            try {
                item = folder.Items(i);
                records = item.FilingRecords();
                unreadable = item.UnreadableFilingRecords();
            } catch (const std::exception& e) {
                // A mail that holds no record has nothing to give back; one that does is named,
                // and what it links stays where it is.
                if (!holds_records(item)) continue;
                print("Email " + std::to_string(i) + " in " + line +
                      " kann nicht gelesen werden (" + e.what() +
                      "); abgelegte Anlagen darin bleiben verlinkt." + kCrLf);
                ++result.stayed;
                continue;
            }
            const std::string subject = subject_of(item);
            for (const auto& v : unreadable) {
                print("Email: " + subject + ": ein Ablagevermerk ist unlesbar und bleibt (" +
                      shown_value(v) + ")" + kCrLf);
                ++result.stayed;
            }
            if (records.empty()) continue;
            std::vector<Pending> mine;
            for (const auto& r : records) {
                const std::string key = file_key(r.link);
                ++linked_before[key];
                StorageFile f;
                std::string why = read_storage_file(r, storage_host, f);
                if (why.empty()) {
                    try {
                        if (!item.Reattach(r, f.bytes))
                            print("Email: " + subject + ": Verweiszeile nicht gefunden: " + r.link +
                                  kCrLf);
                        mine.push_back({key, f.host, r.name, subject, r.sha256});
                        continue;
                    } catch (const std::exception& e) {
                        why = e.what();
                    }
                }
                print("Email: " + subject + ": Anlage " + r.name + " bleibt verlinkt (" + why +
                      ")" + kCrLf);
                ++result.stayed;
            }
            if (mine.empty()) continue;
            try {
                item.Save();
                for (const auto& p : mine) ++restored[p.key];
                pending.insert(pending.end(), mine.begin(), mine.end());
            } catch (const std::exception& e) {
                print("Email: " + subject + " konnte nicht gespeichert werden (" + e.what() +
                      "); ihre Anlagen bleiben verlinkt." + kCrLf);
                result.stayed += static_cast<long>(mine.size());
            }
        }
    }
    if (pending.empty()) return result;
    // A storage file goes only when a fresh reading of every folder holds no record of it and a
    // mail holds its bytes again: the mail is then stored for good, and no other mail links it.
    // A save that failed, or that another program undid (the mail deleted or moved meanwhile),
    // leaves the file as the only copy; the fresh reading finds that out mail by mail.
    bool sure = true;
    outlook::FlushResult flushed;
    for (const auto& ns : sessions) flushed.merge(ns.flush_saves());
    for (const auto& failure : flushed.failures) print(failure + kCrLf);
    std::set<std::string> wanted, back;
    for (const auto& p : pending) wanted.insert(attachment_key(p.subject, p.name, p.sha256));
    std::map<std::string, long> linked_after;
    std::set<std::string> seen;
    for (const auto& line : checked) {
        seen.insert(line);
        if (sure && !count_links(env, line, linked_after, false, &wanted, &back)) {
            print("Der Ordner " + line +
                  " kann nicht nachgeprüft werden; die Ablagedateien bleiben." + kCrLf);
            sure = false;
        }
    }
    // Mails of the other folders count alike; their records were not read before.
    std::map<std::string, long> linked_elsewhere;
    for (const auto& line : env.linking_folders) {
        if (!sure || !seen.insert(line).second) continue;
        if (!count_links(env, line, linked_elsewhere, true)) {
            print("Der Ordner " + line +
                  " kann nicht nachgeprüft werden; die Ablagedateien bleiben." + kCrLf);
            sure = false;
        }
    }
    for (const auto& [key, n] : linked_elsewhere) {
        linked_after[key] += n;
        linked_before[key] += n;
    }
    for (const auto& p : pending) {
        const long still = sure ? linked_after[p.key] : -1;
        if (still < 0) {
            print("Email: " + p.subject + ": Anlage " + p.name +
                  ": die Datei bleibt, da nicht nachgeprüft werden kann, ob die Email gespeichert "
                  "ist." +
                  kCrLf);
            ++result.stayed;
            continue;
        }
        if (still > linked_before[p.key] - restored[p.key] ||
            !back.count(attachment_key(p.subject, p.name, p.sha256))) {
            print("Email: " + p.subject + ": Anlage " + p.name +
                  " wurde nicht gespeichert und bleibt verlinkt." + kCrLf);
            ++result.stayed;
            continue;
        }
        if (still > 0) {
            print("Email: " + p.subject + ": Anlage " + p.name +
                  " ist zurück; die Datei bleibt, weil eine andere Email sie verlinkt." + kCrLf);
            ++result.restored;
            continue;
        }
        std::error_code ec;
        std::filesystem::remove(p.host, ec);
        if (ec && ec != std::errc::no_such_file_or_directory)
            print("Email: " + p.subject + ": Anlage " + p.name + " ist zurück, die Datei bleibt (" +
                  ec.message() + ")" + kCrLf);
        else
            print("Email: " + p.subject + ": Anlage " + p.name + " ist zurück." + kCrLf);
        ++result.restored;
    }
    return result;
}

}  // namespace morvo

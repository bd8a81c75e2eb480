#include "morvo/reattach.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "morvo/filing.h"
#include "platform/line_break.h"
#include "platform/paths.h"
#include "platform/resume.h"

namespace morvo {

using platform::kCrLf;

outlook::MAPIFolder resolve_folder_line(const outlook::NameSpace& ns, const std::string& line) {
    try {
        size_t start = 0;
        size_t bar = line.find('|');
        outlook::MAPIFolder folder = ns.Folders(std::string_view(line).substr(0, bar));
        while (bar != std::string::npos) {
            start = bar + 1;
            bar = line.find('|', start);
            std::string_view seg = std::string_view(line).substr(
                start, bar == std::string::npos ? std::string::npos : bar - start);
            if (seg.empty()) break;  // as the run: an empty segment ends the path
            folder = folder.Folders(seg);
        }
        return folder;
    } catch (const std::exception&) {
        return {};
    }
}

namespace {

struct StorageFile {
    std::string host;
    std::string bytes;
};

// The storage file of a record, when it is a plain file directly in the storage folder (a
// record comes from a mail, and mail is untrusted: it must not reach any other file) whose
// bytes are still the ones filed. Otherwise the reason.
std::string read_storage_file(const outlook::FilingRecord& r, const std::string& storage_host,
                              StorageFile& f) {
    auto win = platform::file_link_target(r.link);
    if (!win) return "Verweis unlesbar: " + r.link;
    const std::string shown = platform::shown_path(*win);  // the reasons name the host path
    f.host = platform::host_path(*win);
    std::error_code ec;
    auto parent =
        std::filesystem::weakly_canonical(std::filesystem::path(f.host).parent_path(), ec);
    if (f.host.empty() || ec || parent != std::filesystem::weakly_canonical(storage_host, ec))
        return "Datei liegt nicht im Ablageordner: " + shown;
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

// The links still recorded in a folder, read afresh from the store; false when it cannot be.
bool recorded_links(const ReattachEnvironment& env, const std::string& line,
                    std::set<std::string>& links, long& mails) {
    try {
        outlook::Application app = env.create_application();
        outlook::MAPIFolder folder = resolve_folder_line(app.GetNamespace("MAPI"), line);
        if (folder.is_nothing()) return false;
        mails = folder.Items().Count();
        for (long i = 1; i <= mails; ++i) {
            // A damaged mail holds no record this program could have removed.
            platform::resume_on_error([&] {
                outlook::MailItem item = folder.Items(i);
                for (const auto& r : item.FilingRecords()) links.insert(r.link);
            });
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
    for (const std::string& line : folder_lines) {
        outlook::MAPIFolder folder;
        try {
            folder = resolve_folder_line(env.create_application().GetNamespace("MAPI"), line);
        } catch (const std::exception& e) {
            print("Keine Verbindung zum Mailprogramm: " + std::string(e.what()) + kCrLf);
        }
        if (folder.is_nothing()) {
            print("Der Ordner " + line + " ist nicht vorhanden." + kCrLf);
            ++result.stayed;
            continue;
        }
        long count = 0;
        try {
            count = folder.Items().Count();
        } catch (const std::exception& e) {
            print("Der Ordner " + line + " kann nicht gelesen werden: " + e.what() + kCrLf);
            ++result.stayed;
            continue;
        }
        print("Ordner: " + line + kCrLf);
        struct Pending {
            std::string link, host, name, subject;
        };
        std::vector<Pending> pending;
        for (long i = 1; i <= count; ++i) {
            outlook::MailItem item;
            std::vector<outlook::FilingRecord> records;
            try {
                item = folder.Items(i);
                records = item.FilingRecords();
            } catch (const std::exception&) {
                continue;  // no readable mail, nothing filed from it that could come back
            }
            if (records.empty()) continue;
            const std::string subject = subject_of(item);
            std::vector<Pending> mine;
            for (const auto& r : records) {
                StorageFile f;
                std::string why = read_storage_file(r, storage_host, f);
                if (why.empty()) {
                    try {
                        if (!item.Reattach(r, f.bytes))
                            print("Email: " + subject + ": Verweiszeile nicht gefunden: " + r.link +
                                  kCrLf);
                        mine.push_back({r.link, f.host, r.name, subject});
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
                pending.insert(pending.end(), mine.begin(), mine.end());
            } catch (const std::exception& e) {
                print("Email: " + subject + " konnte nicht gespeichert werden (" + e.what() +
                      "); ihre Anlagen bleiben verlinkt." + kCrLf);
                result.stayed += static_cast<long>(mine.size());
            }
        }
        if (pending.empty()) continue;
        // A storage file goes only when a fresh reading of the store no longer holds its record:
        // the mail with the bytes is then stored for good.
        outlook::flush_saves();
        folder = outlook::MAPIFolder();
        std::set<std::string> still;
        long after = 0;
        if (!recorded_links(env, line, still, after) || after < count) {
            print("Der Ordner " + line +
                  " kann nicht nachgeprüft werden; die Ablagedateien bleiben." + kCrLf);
            result.stayed += static_cast<long>(pending.size());
            continue;
        }
        for (const auto& p : pending) {
            if (still.count(p.link)) {
                print("Email: " + p.subject + ": Anlage " + p.name +
                      " wurde nicht gespeichert und bleibt verlinkt." + kCrLf);
                ++result.stayed;
                continue;
            }
            std::error_code ec;
            std::filesystem::remove(p.host, ec);
            if (ec)
                print("Email: " + p.subject + ": Anlage " + p.name +
                      " ist zurück, die Datei bleibt (" + ec.message() + ")" + kCrLf);
            else
                print("Email: " + p.subject + ": Anlage " + p.name + " ist zurück." + kCrLf);
            ++result.restored;
        }
    }
    return result;
}

}  // namespace morvo

#pragma once

// Shared by the binding's tests: a generated store in a temporary folder, and independent
// readings of files (hashes, raw header blocks).

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "morvo/outlook/outlook.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"
#include "tools/mkmailstore/generator.h"

namespace morvo::outlook::test {

inline const char* const store_name = "Persönliche Ordner";

inline StoreConfig store_config(std::string name, std::string location) {
    StoreConfig c;
    c.name = std::move(name);
    c.location = std::move(location);
    return c;
}

// Completes the namespace's saves and throws what failed, in one text, as a caller reports it.
inline void flush_or_throw(const NameSpace& ns) {
    FlushResult r = ns.flush_saves();
    if (r.complete) return;
    std::string text;
    for (const auto& f : r.failures) text += (text.empty() ? "" : "\r\n") + f;
    throw platform::Error(e_fail, text.empty() ? "Nicht jede Email wurde gespeichert." : text);
}

inline std::string read_bytes(const std::string& path) {
    return testsupport::slurp(path);
}

using TempDir = testsupport::TempDir;

// Generator options for a store whose bulk folder holds `mails` mails with attachments of
// `attachment_size` bytes.
inline mkmailstore::Options with_bulk(long mails, long attachment_size = 4096) {
    mkmailstore::Options o;
    o.bulk_mails = mails;
    o.attachment_size = attachment_size;
    return o;
}

struct GeneratedStore {
    explicit GeneratedStore(const std::string& layout = "maildir++",
                            mkmailstore::Options opt = {}) {
        opt.layout = layout;
        root = dir.path() + "/Maildir";
        manifest = mkmailstore::generate(root, opt);
        mbox = layout.rfind("mbox", 0) == 0;
        kmail = layout == "kmail";
    }
    StoreConfig config() const {
        StoreConfig c = store_config(store_name, root);
        if (mbox) c.kind = "mbox";
        if (kmail) c.layout = "kmail";
        return c;
    }
    Application app() const { return Application::with_stores({config()}); }
    NameSpace ns() const { return app().GetNamespace("MAPI"); }

    // The folder of a display path below the store ("Posteingang|Kunden").
    MAPIFolder folder(const NameSpace& n, const std::string& path) const {
        MAPIFolder f = n.Folders(store_name);
        size_t start = 0;
        for (;;) {
            size_t bar = path.find('|', start);
            f = f.Folders(
                path.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos) return f;
            start = bar + 1;
        }
    }

    // The manifest entries of one folder, in the order the binding lists them.
    std::vector<const mkmailstore::MailInfo*> mails_in(const std::string& folder_path) const {
        std::vector<const mkmailstore::MailInfo*> out;
        for (const auto& m : manifest.mails)
            if (m.folder == folder_path) out.push_back(&m);
        return out;
    }

    // Position of a manifest mail in its folder.
    long position(const mkmailstore::MailInfo& mail) const {
        auto list = mails_in(mail.folder);
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i] == &mail) return static_cast<long>(i + 1);
        return 0;
    }

    MailItem item(const NameSpace& n, const mkmailstore::MailInfo& mail) const {
        return folder(n, mail.folder).Items(position(mail));
    }

    const mkmailstore::MailInfo& mail(const std::string& subject) const {
        for (const auto& m : manifest.mails)
            if (m.subject == subject) return m;
        throw std::runtime_error("no sample mail " + subject);
    }

    // Every file of the store with its content hash: to show that nothing else changed.
    std::map<std::string, std::uint64_t> snapshot() const {
        std::map<std::string, std::uint64_t> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root))
            if (e.is_regular_file())
                out[e.path().string()] = mkmailstore::fnv1a64(read_bytes(e.path().string()));
        return out;
    }

    // The files of a folder's cur/ and new/ (host paths).
    std::vector<std::string> mail_files(const std::string& folder_dir) const {
        std::vector<std::string> out;
        for (const char* sub : {"cur", "new"}) {
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator(folder_dir + "/" + sub, ec))
                out.push_back(e.path().string());
        }
        return out;
    }

    TempDir dir;
    std::string root;
    mkmailstore::Manifest manifest;
    bool mbox = false;
    bool kmail = false;
};

// The header block of a mail as unfolded lines, without the content headers.
inline std::vector<std::string> non_content_headers(const std::string& mail) {
    size_t end = mail.find("\n\n");
    std::string block = mail.substr(0, end);
    std::vector<std::string> lines;
    std::istringstream in(block);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty())
            lines.back() += "\n" + line;
        else
            lines.push_back(line);
    }
    std::vector<std::string> out;
    for (const auto& l : lines) {
        std::string lower = l.substr(0, l.find(':'));
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind("content-", 0) == 0 || lower == "mime-version") continue;
        out.push_back(l);
    }
    return out;
}

// The files named by the "file:" links at the top of a body (Windows paths).
inline std::vector<std::string> links_of(const std::string& body) {
    std::vector<std::string> out;
    size_t at = 0;
    while (body.compare(at, 5, "file:") == 0) {
        size_t end = body.find("\r\n", at);
        out.push_back(platform::file_link_target(body.substr(at, end - at)).value_or(""));
        if (end == std::string::npos) break;
        at = end + 4;  // the link, CR LF and the empty line
    }
    return out;
}

}  // namespace morvo::outlook::test

#include "morvo/filing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <vector>

#include "morvo/journal.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/line_break.h"
#include "platform/paths.h"
#include "platform/resume.h"

namespace morvo {

using platform::kCrLf;

Stamp local_now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string time_stamp_suffix(const Stamp& s) {
    return "_" + std::to_string(s.year) + "_" + std::to_string(s.month) + "_" +
           std::to_string(s.day) + "_" + std::to_string(s.hour) + "_" + std::to_string(s.minute) +
           "_" + std::to_string(s.second);
}

namespace {

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Byte offset where the n-th character from the end starts, or npos when the text has fewer
// than n characters.
size_t nth_char_from_end(std::string_view s, int n) {
    size_t i = s.size();
    for (int k = 0; k < n; ++k) {
        if (i == 0) return std::string_view::npos;
        --i;
        while (i > 0 && is_continuation(static_cast<unsigned char>(s[i]))) --i;
    }
    return i;
}

constexpr char32_t kMalformed = 0xFFFFFFFF;

// Decodes the code point at i and moves i past it. A byte that does not start a well-formed
// UTF-8 sequence (overlong forms and surrogates included) comes back as kMalformed, one by one.
char32_t next_code_point(std::string_view s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    ++i;
    if (c < 0x80) return c;
    int len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i - 1 + static_cast<size_t>(len) > s.size()) return kMalformed;
    char32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i - 1 + static_cast<size_t>(k)]);
        if (!is_continuation(cc)) return kMalformed;
        cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kMalformed;
    i += static_cast<size_t>(len - 1);
    return cp;
}

}  // namespace

bool fourth_from_end_is_dot(std::string_view name) {
    size_t at = nth_char_from_end(name, 4);
    if (at == std::string_view::npos) at = 0;
    return at < name.size() && name[at] == '.';
}

size_t extension_start(std::string_view name, NamingRule rule) {
    if (fourth_from_end_is_dot(name)) {
        size_t at = nth_char_from_end(name, 4);
        return at == std::string_view::npos ? 0 : at;  // shorter than four: the whole name
    }
    if (rule != NamingRule::long_extensions) return std::string_view::npos;
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string_view::npos;
    const std::string_view ext = name.substr(dot + 1);
    const bool plain = !ext.empty() && ext.size() <= kMaxExtension &&
                       std::all_of(ext.begin(), ext.end(), [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) &&
                                  static_cast<unsigned char>(c) < 0x80;
                       });
    return plain ? dot : std::string_view::npos;
}

std::string keep_reason(Keep k, NamingRule rule) {
    switch (k) {
        case Keep::filed:
            return "";
        case Keep::naming_rule:
            return rule == NamingRule::long_extensions
                       ? "der Name hat keine Endung aus 1 bis " + std::to_string(kMaxExtension) +
                             " Buchstaben oder Ziffern"
                       : "der Name hat keine Endung aus drei Zeichen";
        case Keep::word_object:
            return "eingebettetes Word-Dokument";
        case Keep::bitmap_object:
            return "eingebettete Bitmap";
        case Keep::signed_or_encrypted:
            return "die Email ist signiert oder verschlüsselt";
        case Keep::unsafe_to_rewrite:
            return "die Email hat gemischte Zeilenenden oder Nullbytes";
    }
    return "";
}

Keep attachment_decision(std::string_view dn, std::string_view text_value, NamingRule rule) {
    static const std::string_view kWord = "Microsoft Word Document";
    static const std::string_view kBitmap = "Bild (Geräteunabhängige Bitmap)";
    if (text_value == kWord) return Keep::word_object;
    if (text_value == kBitmap || dn == kBitmap) return Keep::bitmap_object;
    if (extension_start(dn, rule) == std::string_view::npos) return Keep::naming_rule;
    return Keep::filed;
}

bool passes_filter(std::string_view dn, std::string_view text_value, NamingRule rule) {
    return attachment_decision(dn, text_value, rule) == Keep::filed;
}

Keep mail_decision(const outlook::MailItem& item) {
    bool is_protected = false;
    platform::resume_on_error([&] { is_protected = item.is_protected(); });
    if (!is_protected) return Keep::filed;
    bool unsafe = false;
    platform::resume_on_error([&] { unsafe = item.unsafe_to_rewrite(); });
    return unsafe ? Keep::unsafe_to_rewrite : Keep::signed_or_encrypted;
}

std::string clean_display_name(std::string_view dn) {
    std::string out;
    out.reserve(dn.size() + 8);
    size_t i = 0;
    while (i < dn.size()) {
        size_t start = i;
        char32_t cp = next_code_point(dn, i);
        switch (cp) {
            case U' ':
            case U'~':
                out += '_';
                break;
            case U'ä':
                out += "ae";
                break;
            case U'Ä':
                out += "Ae";
                break;
            case U'ö':
                out += "oe";
                break;
            case U'Ö':
                out += "Oe";
                break;
            case U'ü':
                out += "ue";
                break;
            case U'Ü':
                out += "Ue";
                break;
            case U'ß':
                out += "ss";
                break;
            case U'\u00B5':
                out += 'u';
                break;
            case U'@':
                out += "at";
                break;
            case U'\u20AC':
                out += "eur";
                break;
            // No file name may hold these; a separator would lead out of the storage folder.
            case U'\\':
            case U'/':
            case U':':
            case U'*':
            case U'?':
            case U'"':
            case U'<':
            case U'>':
            case U'|':
                out += '_';
                break;
            default:
                // Bytes that are no UTF-8 are no characters a name can hold: the name and the
                // link must be the same valid text.
                if (cp < 0x20 || cp == 0x7F || cp == kMalformed)
                    out += '_';
                else
                    out.append(dn.substr(start, i - start));
        }
    }
    // "." and ".." name folders, not files.
    if (!out.empty() && out.find_first_not_of('.') == std::string::npos)
        out.assign(out.size(), '_');
    return out;
}

std::string build_file_name(std::string_view cleaned, const Stamp& s, NamingRule rule) {
    const std::string suffix = time_stamp_suffix(s);
    const size_t at = extension_start(cleaned, rule);
    if (at != std::string_view::npos)
        return std::string(cleaned.substr(0, at)) + suffix + std::string(cleaned.substr(at));
    return std::string(cleaned) + suffix;
}

std::string target_path(std::string_view storage_path, std::string_view name) {
    std::string p(storage_path);
    if (p.empty() || p.back() != '\\') p += '\\';
    return p + std::string(name);
}

std::string free_target_path(std::string_view storage_path, std::string_view cleaned, Stamp s,
                             const std::function<bool(const std::string&)>& exists,
                             NamingRule rule) {
    std::string target = target_path(storage_path, build_file_name(cleaned, s, rule));
    while (exists(target)) {
        ++s.second;  // no carry into the minute: 59 becomes 60
        target = target_path(storage_path, build_file_name(cleaned, s, rule));
    }
    return target;
}

FilingEnvironment default_filing_environment() {
    FilingEnvironment env;
    env.clock = local_now;
    // Every entry counts, whatever the hidden rule says: a hidden file, a folder or a link may
    // hold the name as well as a file.
    env.file_exists = [](const std::string& path) { return platform::entry_exists(path); };
    env.saved_size = [](const std::string& path) -> long long {
        std::string host = platform::host_path(path);
        struct stat st {};
        if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        return st.st_size;
    };
    return env;
}

namespace {

// The attachment's size in bytes when the binding offers it, else -1.
template <class A>
long long attachment_size(const A& a) {
    if constexpr (requires { a.Size(); }) {
        try {
            return static_cast<long long>(a.Size());
        } catch (const std::exception&) {
            return -1;
        }
    } else {
        return -1;
    }
}

// Removes a file this run created itself.
void remove_partial(const std::string& windows_path) {
    std::string host = platform::host_path(windows_path);
    if (host.empty()) return;
    std::error_code ec;
    std::filesystem::remove(host, ec);
}

}  // namespace

void file_mail_item(const outlook::MailItem& item, const std::string& storage_path,
                    const FilingEnvironment& env, const FilingSink& sink) {
    long count = 0;
    try {
        count = item.Attachments().Count();
    } catch (const std::exception&) {
        return;
    }
    std::string subject;
    auto read_subject = [&] { platform::resume_on_error([&] { subject = item.Subject(); }); };
    const Keep whole = mail_decision(item);
    if (whole != Keep::filed) {
        read_subject();
        const std::string report =
            "Email: " + subject +
            (whole == Keep::unsafe_to_rewrite
                 ? " hat gemischte Zeilenenden oder Nullbytes und bleibt unverändert (eine "
                   "Änderung würde ihre Anlagen verändern)."
                 : " ist signiert oder verschlüsselt und bleibt unverändert (eine Änderung "
                   "würde die Signatur brechen).") +
            kCrLf;
        if (sink.set_status) sink.set_status(report);
        if (sink.add_text) sink.add_text(kCrLf + report);
        return;
    }
    if (count <= 0) return;
    // The mail as it lies before this filing changes it: the journal's records serve it alone.
    std::string mail_id;
    if (env.journal) platform::resume_on_error([&] { mail_id = item.EntryID(); });
    // The link lines go on top of the text once all attachments are filed, and the mail is
    // saved once: a line and a save per attachment would cost the whole mail each time. The
    // saved files are durable before the changed mail replaces the old one, and the journal
    // links them should the run end before that.
    std::vector<std::string> links;
    struct PutLinks {
        const outlook::MailItem& item;
        std::vector<std::string>& links;
        ~PutLinks() {
            if (links.empty()) return;
            std::string prefix;
            for (auto it = links.rbegin(); it != links.rend(); ++it)  // the last one on top
                prefix += *it + kCrLf + kCrLf;
            platform::resume_on_error([&] { item.set_Body(prefix + item.Body()); });
            platform::resume_on_error([&] { item.Save(); });
        }
    } put_links{item, links};
    long position = 1;
    for (long examined = 0; examined < count; ++examined) {
        outlook::Attachment a;
        std::string dn;
        std::string text_value;
        try {
            a = item.Attachments(position);
            dn = a.DisplayName();
        } catch (const std::exception&) {
            ++position;
            continue;
        }
        try {
            text_value = a.text();
        } catch (const std::exception&) {
            text_value.clear();  // no text value: it cannot be one of the excluded ones
        }
        if (attachment_decision(dn, text_value, env.naming) != Keep::filed) {
            ++position;
            continue;
        }
        const std::string cleaned = clean_display_name(dn);
        const long long expected = attachment_size(a);
        std::string target;
        // What reattaching needs, read before saving (which lets go of the decoded bytes).
        outlook::FilingRecord record;
        std::string failure;
        bool created = false;  // only a file this call created may be removed again
        try {
            record.name = dn;
            record.type = a.ContentType();
            record.sha256 = a.Sha256();
            const std::string& sha = record.sha256;
            if (env.journal)
                if (auto left = env.journal->take_filed(mail_id, dn, sha)) target = *left;
            // Another program may take the free name before the file is there: the next one.
            for (int attempt = 0; target.empty(); ++attempt) {
                std::string candidate = free_target_path(storage_path, cleaned, env.clock(),
                                                         env.file_exists, env.naming);
                if (env.journal) env.journal->record({mail_id, dn, sha, candidate});
                try {
                    a.SaveAsNewFile(candidate);
                    target = candidate;
                    created = true;
                } catch (const platform::Error& e) {
                    if (e.number != outlook::e_file_exists || attempt >= 100) throw;
                }
            }
            long long size = env.saved_size(target);
            record.size = size;
            if (size < 0)
                failure = "Datei fehlt nach dem Speichern";
            else if (expected >= 0 && size != expected)
                failure = "Datei hat " + std::to_string(size) + " statt " +
                          std::to_string(expected) + " Bytes";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (!failure.empty()) {
            // The attachment stays in the mail; no link points to a file that is not there.
            if (created) remove_partial(target);
            read_subject();
            const std::string report = "Anhang " + dn + " der Email: " + subject +
                                       " konnte nicht gespeichert werden und bleibt in der "
                                       "Email! (" +
                                       failure + ")" + kCrLf;
            if (sink.set_status) sink.set_status(report);
            if (sink.add_text) sink.add_text(kCrLf + report);
            if (sink.keep_attachment) sink.keep_attachment();
            ++position;
            continue;
        }
        // The mail gets a file URL that the desktop opens; the run's text names the host path.
        const std::string link = "file:" + platform::shown_path(target);
        const std::string url = platform::file_url(target);
        if (sink.count_attachment) sink.count_attachment();
        bool deleted = false;
        platform::resume_on_error([&] {
            a.Delete();
            deleted = true;
        });
        if (!deleted) ++position;
        if (deleted) {
            record.link = url;
            platform::resume_on_error([&] { item.add_FilingRecord(record); });
        }
        links.push_back(url);
        read_subject();
        const std::string progress =
            "Bearbeitet wird Email: " + subject + kCrLf + "mit Anhang: " + link + kCrLf;
        if (sink.set_status) sink.set_status(progress);
        if (sink.add_text) sink.add_text(kCrLf + progress);
    }
}

}  // namespace morvo

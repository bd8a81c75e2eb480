// Filing the attachments of one mail item: the filter, the cleaned and time-stamped name, the
// collision rule, saving, deleting, the "file:" link at the top of the body and the progress.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "morvo/outlook/outlook.h"

namespace morvo {

struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

using Clock = std::function<Stamp()>;
Stamp local_now();

// "_" + year + "_" + month + "_" + day + "_" + hour + "_" + minute + "_" + second.
std::string time_stamp_suffix(const Stamp& s);

// True when the fourth character from the end is "." (a name shorter than four characters is
// tested on its first character). Characters, not bytes.
bool fourth_from_end_is_dot(std::string_view name);

// Which names are filed: those with a three-letter extension, or (a setting) also those whose
// last dot, not the first character, is followed by 1 to kMaxExtension ASCII letters or digits.
enum class NamingRule { three_letters, long_extensions };
inline constexpr size_t kMaxExtension = 10;

// Where the time stamp goes in a name: before its extension (a byte offset), or npos when the
// rule sees none and the name is not filed.
size_t extension_start(std::string_view name, NamingRule rule);

// Why an attachment, or a whole mail, stays where it is. The run and the preview both decide
// with the functions below, so the preview names the reasons the run acts on.
enum class Keep {
    filed,
    naming_rule,          // no extension the naming rule accepts
    word_object,          // an embedded Word document
    bitmap_object,        // an embedded bitmap
    signed_or_encrypted,  // the whole mail: a change would break the signature
    unsafe_to_rewrite,    // the whole mail: mixed line ends or NUL bytes
};

// The reason in the user's words ("" for `filed`).
std::string keep_reason(Keep k, NamingRule rule = NamingRule::three_letters);

// The filter: display name and the attachment's text value.
Keep attachment_decision(std::string_view display_name, std::string_view text_value,
                         NamingRule rule);
bool passes_filter(std::string_view display_name, std::string_view text_value,
                   NamingRule rule = NamingRule::three_letters);

// Whether the mail as a whole stays unchanged; `filed` when its attachments may be filed.
Keep mail_decision(const outlook::MailItem& item);

// The character map, plus the characters no file name may hold (separators included) as "_",
// so that a name can never leave the storage folder.
std::string clean_display_name(std::string_view display_name);

// strName: the suffix before the extension the rule accepts (with three letters: before the last
// four characters when the fourth from the end is "."), else appended.
std::string build_file_name(std::string_view cleaned, const Stamp& s,
                            NamingRule rule = NamingRule::three_letters);

// Storage path + one backslash + name.
std::string target_path(std::string_view storage_path, std::string_view name);

// The collision rule: the first target path that `exists` does not report, counting the
// second on past 59.
std::string free_target_path(std::string_view storage_path, std::string_view cleaned, Stamp s,
                             const std::function<bool(const std::string&)>& exists,
                             NamingRule rule = NamingRule::three_letters);

// What filing reports to the run and the window.
struct FilingSink {
    // Called once per filed attachment.
    std::function<void()> count_attachment;
    std::function<void(const std::string&)> set_status;
    // A piece of run text (the view shows the end).
    std::function<void(const std::string&)> add_text;
    // Called once per qualifying attachment that stays in its mail (reported in the text).
    std::function<void()> keep_attachment;
};

class Journal;

struct FilingEnvironment {
    std::function<Stamp()> clock;
    // Whether a name is taken, for the collision rule: by any entry, hidden or not.
    std::function<bool(const std::string&)> file_exists;
    // The size of a saved file, or -1 when it is missing. (The binding forces saved files onto
    // the disk before a changed mail replaces the one that held the attachment.)
    std::function<long long(const std::string&)> saved_size;
    // Records storage files before they are created, and hands back those a killed run left
    // (nullptr: none).
    Journal* journal = nullptr;
    NamingRule naming = NamingRule::three_letters;
};

FilingEnvironment default_filing_environment();

// Files every qualifying attachment of the item into the storage folder; a storage file is a new
// file, never a replaced one. A signed or encrypted mail is reported and left as it is.
void file_mail_item(const outlook::MailItem& item, const std::string& storage_path,
                    const FilingEnvironment& env, const FilingSink& sink);

}  // namespace morvo

// Undoing filings: every attachment that a filing recorded in its mail goes back into the mail,
// and its storage file goes once the mail holding the bytes again is saved and read back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "morvo/outlook/outlook.h"

namespace morvo {

struct ReattachEnvironment {
    std::string storage_path;  // Windows path; only files directly in it are put back
    std::function<outlook::Application()> create_application;
    std::function<void(const std::string&)> print;  // the report, line by line
    // Further folders whose mails may link storage files (the settings' folder lines): a
    // storage file goes only when no mail of these or of the folders put back links it.
    std::vector<std::string> linking_folders;
};

struct ReattachResult {
    long restored = 0;  // attachments back in their mails, storage files removed
    long stayed = 0;    // records left as they were (each reported), folders not found
};

// The folder lines as display paths ("Store|Folder|Sub"), already decoded.
ReattachResult reattach_folders(const std::vector<std::string>& folder_lines,
                                const ReattachEnvironment& env);

}  // namespace morvo

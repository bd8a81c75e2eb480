// One archiving run per store and storage folder at a time: a run, a reattach and the window's
// Start hold the locks of the storage folder and of every store their folder lines name, for
// as long as they change anything. A preview only reads and takes none.
#pragma once

#include <string>
#include <vector>

#include "morvo/outlook/outlook.h"
#include "platform/run_lock.h"

namespace morvo {

struct RunLocks {
    std::vector<platform::RunLock> held;
    // Empty when every lock was taken; else why not, naming the other run.
    std::string refusal;
    bool taken() const { return refusal.empty(); }
};

inline constexpr const char* kRunLockTitle = "Morvolan arbeitet schon";

// `storage_path` a Windows path; `folder_lines` decoded display paths ("Store|Folder").
RunLocks lock_run(const std::string& storage_path, const std::vector<std::string>& folder_lines,
                  const std::vector<outlook::StoreConfig>& stores);

}  // namespace morvo

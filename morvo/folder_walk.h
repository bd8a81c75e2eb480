#pragma once

// A folder line of the settings ("Store|Folder|Sub") walked down to its folder, by the run's
// rules, for every caller: the line is split at "|" into at most twenty segments (later ones
// are dropped), the first names the store, an empty segment ends the path, and a name that is
// missing is told apart from every other failure.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "morvo/outlook/outlook.h"

namespace morvo {

inline constexpr std::size_t kFolderLineSegments = 20;

// The segments of a folder line: at most kFolderLineSegments, the first always there.
std::vector<std::string> folder_line_segments(std::string_view line);

enum class FolderWalk { found, not_found, failed };

struct WalkedFolder {
    FolderWalk result = FolderWalk::failed;
    outlook::MAPIFolder folder;  // Nothing unless found
    std::string error;           // the failure's description, unless found
};

// Never throws: a namespace that is Nothing, or a store that cannot be read, is a failure.
WalkedFolder walk_folder_line(const outlook::NameSpace& ns, std::string_view line);

}  // namespace morvo

// Case-insensitive name lookup in a folder, as Windows finds "Rechnung.PDF" for "rechnung.pdf".
#pragma once

#include <string>

namespace platform {

// The name in host folder `dir` that equals `name` without regard to case (the smallest of
// several), or "" when there is none or the folder cannot be read.
//
// Folders asked about are indexed once and then kept current through change notification, so a
// folder that grows by one file per call is not read again for every call.
std::string find_name_ignoring_case(const std::string& dir, const std::string& name);

// How many times a folder was read in full so far (for tests).
long name_index_listings();

}  // namespace platform

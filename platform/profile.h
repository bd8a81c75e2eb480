#pragma once
// The ANSI private-profile (INI) functions with the Windows behaviour the programs rely on.
// Arguments and results are UTF-8; `file` is a Windows path. A file is read and written in its
// own form (platform::text_form_of): UTF-8 when it starts with a UTF-8 byte-order mark or is valid
// UTF-8 with non-ASCII text, else Windows-1252; new lines take the file's line end. A new file,
// and new non-ASCII text in a plain ASCII file, is Windows-1252 with CR LF, as Windows writes it:
// the files the programs write this way are read by them alone.
//
// Reading: section and key names match without regard to case; spaces around names and values
// are dropped; a value in one pair of double or single quotes comes back without them; a missing
// file, section or key gives the default; the result is cut to size - 1 bytes (never inside a
// UTF-8 character). CR LF, LF and a lone CR each end a line. NUL bytes, long lines and binary
// garbage never crash or hang: at worst the default. A parsed file is cached and parsed again only
// when its inode, size or times change.
//
// Writing: creates the file, appends a missing section at the end, replaces an existing key's
// value in place, adds a missing key after the last entry of its section and keeps every other
// line as it was. Each write reaches the file before the call returns; a new key at the end of
// the file is appended, not the whole file rewritten. A line break (CR LF, CR or LF) inside a
// section name, key or value is written as "|", so the file stays one key per line (no Windows
// path holds "|", and the programs' texts use it for a line break anyway). Text after a NUL is
// ignored, as in a C string.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

std::string GetPrivateProfileStringA(std::string_view section, std::string_view key,
                                     std::string_view default_value, std::size_t size,
                                     std::string_view file);

// False when the file cannot be written (read-only, missing folder, not a regular file).
bool WritePrivateProfileStringA(std::string_view section, std::string_view key,
                                std::string_view value, std::string_view file);

// How many times a file was parsed since start (the read cache's effect, for the benchmark).
std::size_t profile_parse_count();
// Drops every cached file (tests).
void profile_cache_clear();

}  // namespace platform

// Writes cabinet files: uncompressed or MSZIP folders (raw deflate through zlib in 32 KB
// blocks), either one folder for all files or one folder per file so that a single file
// can be read back without decompressing the others.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace cab {

// File attribute bits of a cabinet entry.
inline constexpr std::uint16_t attrib_rdonly = 0x01;
inline constexpr std::uint16_t attrib_hidden = 0x02;
inline constexpr std::uint16_t attrib_system = 0x04;
inline constexpr std::uint16_t attrib_arch = 0x20;
inline constexpr std::uint16_t attrib_exec = 0x40;
inline constexpr std::uint16_t attrib_name_is_utf = 0x80;

// Largest amount of uncompressed data in one data block.
inline constexpr std::size_t block_size = 32768;

enum class Compression { none, mszip };

struct Entry {
    std::string name;                     // as stored: Windows separators, UTF-8
    std::string data;                     // the file's bytes
    std::uint16_t attribs = attrib_arch;  // attrib_name_is_utf is added by the writer when needed
    std::time_t mtime = 0;
};

struct Options {
    Compression compression = Compression::mszip;
    bool folder_per_file = false;
    int level = 9;  // zlib level for MSZIP blocks
    std::uint16_t set_id = 0;
};

// The cabinet checksum over `size` bytes, continuing from `seed`.
std::uint32_t checksum(const unsigned char* data, std::size_t size, std::uint32_t seed);

// An entry filled from a host file: its bytes, its time, attrib_exec when the owner may run
// it and attrib_rdonly when the owner may not write it. Throws std::runtime_error.
Entry entry_from_file(const std::string& host_path, std::string name);

// The whole cabinet as bytes. Throws std::invalid_argument for an entry name that cannot be
// stored (empty, longer than 255 bytes, not UTF-8) and when the counts do not fit the format.
std::string build_cabinet(const std::vector<Entry>& entries, const Options& options = {});

// Builds the cabinet and writes it to `host_path` through a temporary file and a rename.
// Throws std::runtime_error when writing fails.
void write_cabinet(const std::string& host_path, const std::vector<Entry>& entries,
                   const Options& options = {});

}  // namespace cab

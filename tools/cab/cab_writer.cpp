#include "tools/cab/cab_writer.h"

#include "platform/file_toolkit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace cab {
namespace {

constexpr std::size_t header_size = 36;
constexpr std::size_t folder_size = 8;
constexpr std::size_t file_fixed_size = 16;
constexpr std::size_t data_header_size = 8;
constexpr std::size_t max_name_bytes = 255;

void put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void set32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

bool is_ascii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool is_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || (more == 1 && c < 0xc2)) return false;
        for (int k = 1; k <= more; ++k) {
            if (i + k >= s.size()) return false;
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += more + 1;
    }
    return true;
}

void check_name(std::string_view name) {
    if (name.empty()) throw std::invalid_argument("cabinet entry with an empty name");
    if (name.size() > max_name_bytes)
        throw std::invalid_argument("cabinet entry name longer than 255 bytes: " +
                                    std::string(name));
    if (name.find('\0') != std::string_view::npos)
        throw std::invalid_argument("cabinet entry name holds a NUL byte");
    if (!is_utf8(name))
        throw std::invalid_argument("cabinet entry name is not UTF-8: " + std::string(name));
}

void dos_time(std::time_t t, std::uint16_t& date, std::uint16_t& time) {
    std::tm tm{};
    if (t <= 0 || !localtime_r(&t, &tm) || tm.tm_year < 80) {
        date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
        time = 0;
        return;
    }
    date =
        static_cast<std::uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

// One folder's data blocks, each with its 8-byte header, ready to append.
struct FolderData {
    std::string blocks;
    std::uint16_t count = 0;
};

class Deflater {
  public:
    explicit Deflater(int level) {
        std::memset(&z_, 0, sizeof z_);
        if (deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("zlib: deflateInit2 failed");
    }
    ~Deflater() { deflateEnd(&z_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses one block as a complete deflate stream ending in a final block; the previous
    // block of the same folder serves as dictionary, as MSZIP readers keep that history.
    std::string block(std::string_view in, std::string_view previous) {
        if (deflateReset(&z_) != Z_OK) throw std::runtime_error("zlib: deflateReset failed");
        if (!previous.empty() &&
            deflateSetDictionary(&z_, reinterpret_cast<const Bytef*>(previous.data()),
                                 static_cast<uInt>(previous.size())) != Z_OK)
            throw std::runtime_error("zlib: deflateSetDictionary failed");
        std::string out(deflateBound(&z_, in.size()) + 16, '\0');
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z_.avail_in = static_cast<uInt>(in.size());
        z_.next_out = reinterpret_cast<Bytef*>(out.data());
        z_.avail_out = static_cast<uInt>(out.size());
        if (deflate(&z_, Z_FINISH) != Z_STREAM_END)
            throw std::runtime_error("zlib: deflate did not finish a block");
        out.resize(out.size() - z_.avail_out);
        return out;
    }

  private:
    z_stream z_;
};

void add_block(FolderData& folder, std::string_view payload, std::size_t uncompressed) {
    if (payload.size() > 0xffff) throw std::runtime_error("cabinet data block too large");
    std::string header;
    put16(header, static_cast<std::uint16_t>(payload.size()));
    put16(header, static_cast<std::uint16_t>(uncompressed));
    std::uint32_t sum =
        checksum(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), 0);
    sum = checksum(reinterpret_cast<const unsigned char*>(header.data()), 4, sum);
    put32(folder.blocks, sum);
    folder.blocks += header;
    folder.blocks += payload;
    if (folder.count == 0xffff) throw std::runtime_error("too many data blocks in one folder");
    ++folder.count;
}

FolderData make_folder(std::string_view data, const Options& options, Deflater* deflater) {
    FolderData folder;
    std::string_view previous;
    for (std::size_t at = 0; at < data.size(); at += block_size) {
        std::string_view chunk = data.substr(at, block_size);
        if (options.compression == Compression::none) {
            add_block(folder, chunk, chunk.size());
        } else {
            std::string payload = "CK" + deflater->block(chunk, previous);
            add_block(folder, payload, chunk.size());
        }
        previous = chunk;
    }
    if (folder.count == 0 && options.compression == Compression::mszip) {
        // A folder needs at least one block to be readable everywhere; an empty file gets an
        // empty final deflate block.
        add_block(folder, "CK" + deflater->block({}, {}), 0);
    }
    return folder;
}

}  // namespace

std::uint32_t checksum(const unsigned char* data, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t words = size / 4;
    for (std::size_t i = 0; i < words; ++i, data += 4)
        sum ^= static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
               static_cast<std::uint32_t>(data[2]) << 16 |
               static_cast<std::uint32_t>(data[3]) << 24;
    // The trailing bytes go in high to low, as the format defines it.
    std::uint32_t tail = 0;
    switch (size % 4) {
        case 3:
            tail |= static_cast<std::uint32_t>(*data++) << 16;
            [[fallthrough]];
        case 2:
            tail |= static_cast<std::uint32_t>(*data++) << 8;
            [[fallthrough]];
        case 1:
            tail |= *data;
            break;
        default:
            break;
    }
    return sum ^ tail;
}

Entry entry_from_file(const std::string& host_path, std::string name) {
    int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(host_path + ": " + std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error(host_path + ": not a regular file");
    }
    Entry e;
    e.name = std::move(name);
    e.data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < e.data.size()) {
        ssize_t n = ::read(fd, e.data.data() + got, e.data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error(host_path + ": read failed");
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    e.mtime = st.st_mtime;
    e.attribs = attrib_arch;
    if (st.st_mode & S_IXUSR) e.attribs |= attrib_exec;
    if (!(st.st_mode & S_IWUSR)) e.attribs |= attrib_rdonly;
    return e;
}

std::string build_cabinet(const std::vector<Entry>& entries, const Options& options) {
    if (entries.size() > 0xffff) throw std::invalid_argument("too many files for one cabinet");
    std::size_t files_bytes = 0;
    for (const Entry& e : entries) {
        check_name(e.name);
        files_bytes += file_fixed_size + e.name.size() + 1;
    }

    Deflater deflater(options.level);
    std::vector<FolderData> folders;
    // Offset of each file inside its folder's uncompressed data.
    std::vector<std::uint32_t> offsets(entries.size(), 0);
    std::vector<std::uint16_t> folder_of(entries.size(), 0);
    if (options.folder_per_file) {
        if (entries.size() > 0xfffc) throw std::invalid_argument("too many folders");
        for (std::size_t i = 0; i < entries.size(); ++i) {
            folders.push_back(make_folder(entries[i].data, options, &deflater));
            folder_of[i] = static_cast<std::uint16_t>(i);
        }
    } else {
        std::string all;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (all.size() + entries[i].data.size() > 0x7fff8000u)
                throw std::invalid_argument("cabinet folder too large");
            offsets[i] = static_cast<std::uint32_t>(all.size());
            all += entries[i].data;
        }
        if (!entries.empty()) folders.push_back(make_folder(all, options, &deflater));
    }

    const std::size_t folders_at = header_size;
    const std::size_t files_at = folders_at + folders.size() * folder_size;
    std::size_t data_at = files_at + files_bytes;
    std::size_t total = data_at;
    for (const FolderData& f : folders) total += f.blocks.size();
    if (total > 0xffffffffu) throw std::invalid_argument("cabinet larger than 4 GB");

    std::string out;
    out.reserve(total);
    out += "MSCF";
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(total));
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(files_at));
    put32(out, 0);
    out.push_back(3);  // version 1.3
    out.push_back(1);
    put16(out, static_cast<std::uint16_t>(folders.size()));
    put16(out, static_cast<std::uint16_t>(entries.size()));
    put16(out, 0);  // flags: no previous or next cabinet, no reserved area
    put16(out, options.set_id);
    put16(out, 0);  // index in the set

    std::size_t at = data_at;
    for (const FolderData& f : folders) {
        put32(out, static_cast<std::uint32_t>(at));
        put16(out, f.count);
        put16(out, options.compression == Compression::mszip ? 1 : 0);
        at += f.blocks.size();
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        std::uint16_t date = 0, time = 0;
        dos_time(e.mtime, date, time);
        std::uint16_t attribs = e.attribs & ~attrib_name_is_utf;
        if (!is_ascii(e.name)) attribs |= attrib_name_is_utf;
        put32(out, static_cast<std::uint32_t>(e.data.size()));
        put32(out, offsets[i]);
        put16(out, folder_of[i]);
        put16(out, date);
        put16(out, time);
        put16(out, attribs);
        out += e.name;
        out.push_back('\0');
    }
    for (const FolderData& f : folders) out += f.blocks;
    if (out.size() != total) throw std::logic_error("cabinet size mismatch");
    set32(out, 8, static_cast<std::uint32_t>(out.size()));
    return out;
}

void write_cabinet(const std::string& host_path, const std::vector<Entry>& entries,
                   const Options& options) {
    const std::string bytes = build_cabinet(entries, options);
    // The cabinet is synced before it takes the name: a package is copied off soon after.
    platform::ReplaceOptions replace;
    replace.durability = platform::Durability::file;
    if (const int err = platform::replace_file(host_path, bytes, replace)) {
        throw std::runtime_error(host_path + ": " + std::strerror(err));
    }
}

}  // namespace cab

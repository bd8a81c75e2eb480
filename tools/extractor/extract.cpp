// libmspack is wrapped here and nowhere else. Cabinets are read through a memory map (libmspack
// reads every file header with small reads; a map keeps a 2,000-file cabinet cheap to open) and
// every file is written to a temporary name beside its target and renamed over it.
#include <dirent.h>
#include <fcntl.h>
#include <mspack.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/file_toolkit.h"
#include "tools/extractor/extractor.h"

namespace extractor {
namespace {

struct File {
    // Read side: the mapped cabinet, and optionally bytes that stand in for its beginning.
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    const std::string* prefix = nullptr;
    bool owns_map = true;
    // Write side: a descriptor owned by the caller.
    int fd = -1;
    bool writing = false;
};

struct System {
    mspack_system base;
    int out_fd = -1;  // where the next opened output goes
    // A view of one cabinet: its mapped bytes with `view_header` in place of its beginning.
    std::string view_path;
    const unsigned char* view_data = nullptr;
    std::size_t view_size = 0;
    std::string view_header;
};

mspack_file* sys_open(mspack_system* self, const char* filename, int mode) {
    auto* sys = reinterpret_cast<System*>(self);
    if (mode == MSPACK_SYS_OPEN_WRITE) {
        if (sys->out_fd < 0) return nullptr;
        auto* f = new File;
        f->fd = sys->out_fd;
        f->writing = true;
        return reinterpret_cast<mspack_file*>(f);
    }
    if (mode != MSPACK_SYS_OPEN_READ) return nullptr;
    if (!sys->view_path.empty() && sys->view_path == filename) {
        auto* f = new File;
        f->data = sys->view_data;
        f->size = sys->view_size;
        f->prefix = &sys->view_header;
        f->owns_map = false;
        return reinterpret_cast<mspack_file*>(f);
    }
    int fd = ::open(filename, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto* f = new File;
    f->size = static_cast<std::size_t>(st.st_size);
    if (f->size > 0) {
        void* p = ::mmap(nullptr, f->size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            ::close(fd);
            delete f;
            return nullptr;
        }
        f->data = static_cast<const unsigned char*>(p);
    }
    ::close(fd);
    return reinterpret_cast<mspack_file*>(f);
}

// libmspack may hand these a null handle: after a damaged folder sends it looking for the next
// cabinet of a set, it drops the folder's input but keeps reading from it for the next entry.
// Every call then fails, and the entry is reported as damaged.
void sys_close(mspack_file* file) {
    auto* f = reinterpret_cast<File*>(file);
    if (!f) return;
    if (f->data && f->owns_map) ::munmap(const_cast<unsigned char*>(f->data), f->size);
    delete f;
}

int sys_read(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<File*>(file);
    if (!f || f->writing || bytes < 0) return -1;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(bytes), f->size - f->pos);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    if (f->prefix && f->pos < f->prefix->size()) {
        done = std::min(n, f->prefix->size() - f->pos);
        std::memcpy(out, f->prefix->data() + f->pos, done);
    }
    if (n > done) std::memcpy(out + done, f->data + f->pos + done, n - done);
    f->pos += n;
    return static_cast<int>(n);
}

int sys_write(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<File*>(file);
    if (!f || !f->writing || bytes < 0) return -1;
    const char* p = static_cast<const char*>(buffer);
    int left = bytes;
    while (left > 0) {
        ssize_t n = ::write(f->fd, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        left -= static_cast<int>(n);
    }
    return bytes;
}

int sys_seek(mspack_file* file, off_t offset, int mode) {
    auto* f = reinterpret_cast<File*>(file);
    if (!f || f->writing) return -1;
    off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                 : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->pos)
                                               : static_cast<off_t>(f->size);
    off_t to = 0;
    if (__builtin_add_overflow(base, offset, &to) || to < 0 ||
        static_cast<std::size_t>(to) > f->size)
        return -1;  // never past the end: a later read would start outside the map
    f->pos = static_cast<std::size_t>(to);
    return 0;
}

off_t sys_tell(mspack_file* file) {
    auto* f = reinterpret_cast<File*>(file);
    return !f || f->writing ? -1 : static_cast<off_t>(f->pos);
}

void sys_message(mspack_file*, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("extractor: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

void* sys_alloc(mspack_system*, std::size_t bytes) {
    return std::malloc(bytes);
}
void sys_free(void* p) {
    std::free(p);
}
void sys_copy(void* src, void* dest, std::size_t bytes) {
    std::memmove(dest, src, bytes);
}

const char* mspack_error_text(int code) {
    switch (code) {
        case MSPACK_ERR_OPEN:
            return "cannot open the cabinet";
        case MSPACK_ERR_READ:
            return "read error";
        case MSPACK_ERR_WRITE:
            return "write error";
        case MSPACK_ERR_SEEK:
            return "seek error";
        case MSPACK_ERR_NOMEMORY:
            return "out of memory";
        case MSPACK_ERR_SIGNATURE:
            return "not a cabinet";
        case MSPACK_ERR_DATAFORMAT:
            return "damaged cabinet";
        case MSPACK_ERR_CHECKSUM:
            return "checksum error (damaged cabinet)";
        case MSPACK_ERR_DECRUNCH:
            return "decompression error (damaged cabinet)";
        default:
            return "cabinet error";
    }
}

void fail(const std::string& text) {
    std::fprintf(stderr, "extractor: %s\n", text.c_str());
}

std::string errno_text(int err) {
    return std::strerror(err);
}

// The entry's name as UTF-8 with Windows separators.
std::string entry_name(const mscabd_file* f) {
    if (f->attribs & MSCAB_ATTRIB_UTF_NAME) return f->filename;
    return cp1252_name_to_utf8(f->filename);
}

// Opens (creating when missing) every folder of `path` below `dir`, never following a
// symbolic link, so that nothing can lead out of the target folder. Returns a descriptor.
int open_subfolders(int dir, const std::vector<std::string>& parts, std::string& error) {
    int current = ::dup(dir);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        int next =
            ::openat(current, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(current, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
                error = parts[i] + ": " + errno_text(errno);
                ::close(current);
                return -1;
            }
            next = ::openat(current, parts[i].c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            error = parts[i] + ": " + errno_text(errno);
            ::close(current);
            return -1;
        }
        ::close(current);
        current = next;
    }
    return current;
}

std::vector<std::string> split_name(const std::string& name) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t end = name.find_first_of("\\/", pos);
        if (end == std::string::npos) end = name.size();
        parts.push_back(name.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

int make_folders(const std::string& path);

// Opens the target folder, making it and its parents first when it is missing (it seldom is:
// one start per file of a package goes to folders made by an earlier one).
int open_folder(const std::string& path) {
    int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0 || errno != ENOENT) return dir;
    if (make_folders(path) != 0) return -1;
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int make_folders(const std::string& path) {
    std::string sofar;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos + 1);
        if (end == std::string::npos) end = path.size();
        sofar = path.substr(0, end);
        if (!sofar.empty() && sofar != "/" && ::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST)
            return -1;
        pos = end;
    }
    return 0;
}

// The name under which `leaf` already exists in `dir` when it exists in another letter case
// (Windows names are not case-sensitive, so that file is the one to replace); else `leaf`.
std::string existing_spelling(int dir, const std::string& leaf) {
    struct stat st {};
    if (::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return leaf;
    int copy = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return leaf;
    DIR* d = ::fdopendir(copy);
    if (!d) {
        ::close(copy);
        return leaf;
    }
    std::string found = leaf;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.' && names_equal(e->d_name, leaf)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

class Extractor {
  public:
    Extractor() {
        sys_.base.open = sys_open;
        sys_.base.close = sys_close;
        sys_.base.read = sys_read;
        sys_.base.write = sys_write;
        sys_.base.seek = sys_seek;
        sys_.base.tell = sys_tell;
        sys_.base.message = sys_message;
        sys_.base.alloc = sys_alloc;
        sys_.base.free = sys_free;
        sys_.base.copy = sys_copy;
        sys_.base.null_ptr = nullptr;
        cabd_ = mspack_create_cab_decompressor(&sys_.base);
    }
    ~Extractor() {
        if (cabd_ && cab_) cabd_->close(cabd_, cab_);
        if (cabd_) mspack_destroy_cab_decompressor(cabd_);
        if (map_) ::munmap(const_cast<unsigned char*>(map_), map_size_);
    }
    Extractor(const Extractor&) = delete;
    Extractor& operator=(const Extractor&) = delete;

    // Opens the cabinet. With `wanted` (the one-file target), only the header entries of the
    // matching file and its folder are handed to libmspack: opening a 2,000-file cabinet whole
    // took about as long again as the rest of a one-file run.
    bool open(const std::string& cabinet, const std::string& wanted) {
        if (!cabd_) {
            fail("libmspack cannot be used");
            return false;
        }
        if (!wanted.empty()) {
            std::string refused;
            if (!make_view(cabinet, wanted, refused)) {
                fail(cabinet + ": refused, the entry \"" + refused +
                     "\" would leave the target folder");
                return false;
            }
        }
        cab_ = cabd_->open(cabd_, cabinet.c_str());
        if (!cab_) {
            fail(cabinet + ": " + mspack_error_text(cabd_->last_error(cabd_)));
            return false;
        }
        if (cab_->prevcab || cab_->nextcab ||
            (cab_->flags & (MSCAB_HDR_PREVCAB | MSCAB_HDR_NEXTCAB))) {
            fail(cabinet + ": cabinets spanning several files are not supported");
            return false;
        }
        for (mscabd_file* f = cab_->files; f; f = f->next) {
            std::string name = entry_name(f);
            if (!is_safe_entry_name(name)) {
                fail(cabinet + ": refused, the entry \"" + name +
                     "\" would leave the target folder");
                return false;
            }
            files_.push_back({f, std::move(name)});
        }
        return true;
    }

    int extract_all(const std::string& folder) {
        if (make_folders(folder) != 0) {
            fail(folder + ": " + errno_text(errno));
            return 1;
        }
        int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) {
            fail(folder + ": " + errno_text(errno));
            return 1;
        }
        int status = 0;
        for (const auto& [file, name] : files_) {
            std::string error;
            std::vector<std::string> parts = split_name(name);
            int sub = open_subfolders(dir, parts, error);
            if (sub < 0 || !write_file(file, sub, parts.back(), error)) {
                fail(name + ": " + error);
                status = 1;
            }
            if (sub >= 0) ::close(sub);
        }
        ::close(dir);
        return status;
    }

    int extract_one(const std::string& folder, const std::string& name, const std::string& target) {
        const mscabd_file* found = nullptr;
        int best = 0;
        for (const auto& [file, entry] : files_) {
            int rank = match_rank(entry, target);
            if (rank > 0 && rank >= best) {  // the last of equal ranks wins
                best = rank;
                found = file;
            }
        }
        if (!found) {
            fail(name + ": not in the cabinet");
            return 1;
        }
        int dir = open_folder(folder);
        if (dir < 0) {
            fail(folder + ": " + errno_text(errno));
            return 1;
        }
        std::string error;
        bool ok = write_file(found, dir, name, error);
        ::close(dir);
        if (!ok) {
            fail(name + ": " + error);
            return 1;
        }
        return 0;
    }

  private:
    // Reads the cabinet's own header and, when it is a plain one (no reserved areas, not part
    // of a set) holding `wanted`, sets up the view with a header of one folder and one file.
    // Returns false with the offending name when any entry name could leave the target.
    bool make_view(const std::string& cabinet, const std::string& wanted, std::string& refused) {
        int fd = ::open(cabinet.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return true;  // libmspack reports it
        struct stat st {};
        if (fstat(fd, &st) != 0 || st.st_size < 36) {
            ::close(fd);
            return true;
        }
        std::size_t size = static_cast<std::size_t>(st.st_size);
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED) return true;
        map_ = static_cast<const unsigned char*>(p);
        map_size_ = size;

        auto u16 = [&](std::size_t at) {
            return static_cast<unsigned>(map_[at] | map_[at + 1] << 8);
        };
        auto u32 = [&](std::size_t at) {
            return static_cast<std::size_t>(map_[at]) |
                   static_cast<std::size_t>(map_[at + 1]) << 8 |
                   static_cast<std::size_t>(map_[at + 2]) << 16 |
                   static_cast<std::size_t>(map_[at + 3]) << 24;
        };
        if (std::memcmp(map_, "MSCF", 4) != 0 || u16(30) != 0) return true;
        const unsigned folders = u16(26), files = u16(28);
        const std::size_t files_at = u32(16);
        if (36 + 8 * static_cast<std::size_t>(folders) > size) return true;

        std::size_t at = files_at, found_at = 0, found_len = 0;
        int best = 0;
        for (unsigned i = 0; i < files; ++i) {
            if (at + 16 >= size) return true;
            const char* name = reinterpret_cast<const char*>(map_ + at + 16);
            std::size_t len = strnlen(name, std::min<std::size_t>(256, size - at - 16));
            if (len == 256 || at + 16 + len >= size) return true;
            // Plain ASCII names (the usual case) are compared in place.
            const std::string_view raw(name, len);
            const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            std::string converted;
            if (!ascii && !(u16(at + 14) & MSCAB_ATTRIB_UTF_NAME))
                converted = cp1252_name_to_utf8(raw);
            const std::string_view utf8 = converted.empty() ? raw : std::string_view(converted);
            if (!is_safe_entry_name(utf8)) {
                refused = std::string(utf8);
                return false;
            }
            int rank = match_rank(utf8, wanted);  // chosen as extract_one chooses
            if (rank > 0 && rank >= best) {
                best = rank;
                found_at = at;
                found_len = 16 + len + 1;
            }
            at += 16 + len + 1;
        }
        if (!found_len) return true;
        unsigned folder = u16(found_at + 8);
        if (folder >= folders) return true;  // continued folders: leave it to libmspack
        std::string header(reinterpret_cast<const char*>(map_), 36);
        header[26] = 1, header[27] = 0;  // one folder
        header[28] = 1, header[29] = 0;  // one file
        header[16] = 36 + 8, header[17] = header[18] = header[19] = 0;
        header.append(reinterpret_cast<const char*>(map_ + 36 + 8 * folder), 8);
        header.append(reinterpret_cast<const char*>(map_ + found_at), found_len);
        header[36 + 8 + 8] = header[36 + 8 + 9] = 0;            // the file's folder index
        if (header.size() > u32(36 + 8 * folder)) return true;  // would cover data
        sys_.view_path = cabinet;
        sys_.view_data = map_;
        sys_.view_size = map_size_;
        sys_.view_header = std::move(header);
        return true;
    }

    // Writes the entry as `leaf` in `dir` through the toolkit's replace: a failure never leaves
    // half a file under the real name.
    bool write_file(const mscabd_file* file, int dir, const std::string& leaf, std::string& error) {
        platform::ReplaceOptions options;
        options.create_mode = (file->attribs & MSCAB_ATTRIB_EXEC) ? 0777 : 0666;
        if (file->attribs & MSCAB_ATTRIB_RDONLY) options.create_mode &= ~0222;
        std::string extract_error;
        const auto extract_to = [&](int fd) {
            sys_.out_fd = fd;
            const int rc = cabd_->extract(cabd_, const_cast<mscabd_file*>(file), leaf.c_str());
            sys_.out_fd = -1;
            if (rc != MSPACK_ERR_OK) {
                extract_error = mspack_error_text(rc);
                return EIO;
            }
            std::tm tm{};
            tm.tm_year = file->date_y - 1900;
            tm.tm_mon = file->date_m - 1;
            tm.tm_mday = file->date_d;
            tm.tm_hour = file->time_h;
            tm.tm_min = file->time_m;
            tm.tm_sec = file->time_s;
            tm.tm_isdst = -1;
            std::time_t t = std::mktime(&tm);
            if (t != static_cast<std::time_t>(-1)) {
                timespec times[2] = {{t, 0}, {t, 0}};
                ::futimens(fd, times);
            }
            return 0;
        };
        const int e =
            platform::replace_file_at(dir, existing_spelling(dir, leaf), extract_to, options);
        if (e != 0) error = extract_error.empty() ? errno_text(e) : extract_error;
        return e == 0;
    }

    System sys_{};
    const unsigned char* map_ = nullptr;
    std::size_t map_size_ = 0;
    mscab_decompressor* cabd_ = nullptr;
    mscabd_cabinet* cab_ = nullptr;
    std::vector<std::pair<const mscabd_file*, std::string>> files_;
};

}  // namespace

int run(const std::vector<std::string>& tokens) {
    std::string error;
    auto request = parse_command_line(
        tokens,
        [](const std::string& path) {
            struct stat st {};
            return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        },
        error);
    if (!request) {
        fail(error);
        return 2;
    }
    Extractor extractor;
    if (!extractor.open(request->cabinet, request->name.empty() ? "" : request->target)) return 1;
    if (request->name.empty()) return extractor.extract_all(request->folder);
    return extractor.extract_one(request->folder, request->name, request->target);
}

}  // namespace extractor

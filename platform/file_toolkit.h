#pragma once
// The low-level file plumbing every writer in the project shares: a descriptor that closes
// itself, whole reads and writes, a folder listing, a tree removal that never follows links and
// the one way to replace a file (a temporary name beside the target, then a rename), with the
// durability each caller asks for. Paths here are host paths; errors come back as errno values.

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Owns one descriptor and closes it when it goes out of scope.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);
    // Closes now and says whether the close succeeded (a write error can first show here).
    bool close();

  private:
    int fd_ = -1;
};

// Reads from the current position to the end. False on a read error.
bool read_all(int fd, std::string& out);
// The bytes of a regular file, or nothing when it is missing, not a regular file or unreadable.
std::optional<std::string> read_whole_file(const std::string& host);
// Writes every byte, retrying short writes. False (errno set) on an error.
bool write_all(int fd, std::string_view data);

// The names in a folder without "." and "..", sorted bytewise; empty when it cannot be read.
std::vector<std::string> list_folder(const std::string& host);
std::vector<std::string> list_folder_at(int dir);

// Removes a file, a link or a whole folder tree. A link is removed, never followed, so nothing
// outside the tree can go. An entry for which `keep` says true stays, with the folders above
// it. True when everything went (also when nothing was there).
bool remove_tree(const std::string& host,
                 const std::function<bool(const struct stat&)>& keep = nullptr);

enum class Durability {
    none,             // the rename alone: whole file or old file, unless the machine stops
    file,             // the data reaches the disk before the rename
    file_and_folder,  // and the rename itself reaches the disk before the call returns
};

struct ReplaceOptions {
    Durability durability = Durability::none;
    // A replaced file keeps its owner (where the process may set it) and its permissions.
    bool keep_owner_and_mode = false;
    // Fails with EEXIST when anything (a file, a folder, a link, even a dangling one) has the
    // name; the new file appears whole or not at all.
    bool exclusive = false;
    // A link at the target is followed, so the linked file is replaced and the link stays.
    bool through_links = false;
    // Permissions of a new file, less the umask; `exact_mode` is set as given instead.
    mode_t create_mode = 0666;
    std::optional<mode_t> exact_mode;
};

// Writes the file's bytes through `write` (given the temporary file's descriptor; returns 0 or
// an errno value) to a temporary name in folder `dir`, then renames it to `name`. Returns 0 or
// an errno value; on failure the temporary file is gone and the target is as it was.
int replace_file_at(int dir, const std::string& name, const std::function<int(int fd)>& write,
                    const ReplaceOptions& options = {});
int replace_file_at(int dir, const std::string& name, std::string_view data,
                    const ReplaceOptions& options = {});
// The same for a host path (its folder must exist).
int replace_file(const std::string& host, std::string_view data,
                 const ReplaceOptions& options = {});
int replace_file(const std::string& host, const std::function<int(int fd)>& write,
                 const ReplaceOptions& options = {});

}  // namespace platform

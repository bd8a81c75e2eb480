#pragma once
// What the tests of every component share: a scratch folder, whole-file reads and writes, a
// listing of a folder tree and a restorer for the process-wide seams.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <type_traits>

namespace testsupport {

// A fresh folder under /tmp, removed with everything in it (read-only parts included) at the
// end of the scope.
class TempDir {
  public:
    explicit TempDir(const std::string& tag = "test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string host;  // the folder's host path
    const std::string& path() const { return host; }
    std::string file(const std::string& name) const { return host + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }
    // The Windows form of a name inside the folder (the folder itself for "").
    std::string win(const std::string& name = "") const;

    // Left in place at the end when set: a failed test's folder is worth a look.
    bool keep = false;
};

// The whole file ("" when it cannot be read) and its replacement (the folders on the way made).
std::string slurp(const std::filesystem::path& path);
void spit(const std::filesystem::path& path, const std::string& bytes);

struct TreeOptions {
    bool folders = false;  // list folders too, as "name/" with ""
    bool links = true;     // a link as "->target"; false: read through it like a file
};
// Every entry below `dir` by its relative path ("/" between levels) with its bytes.
std::map<std::string, std::string> tree_listing(const std::string& dir, TreeOptions options = {});

// The path in single quotes, for a shell command line.
std::string shell_quoted(const std::filesystem::path& path);
// Runs a shell command line; its exit status, -1 when it did not exit normally.
int shell(const std::string& command);

// A setup run below `root` (HOME=root/home) with system_data_env(root) puts its menu entries
// into menu_folder(root): the system-wide folder for root, which installs for every user, else
// the user's own. Each run gets its system-wide folder to itself.
std::string system_data_env(const std::filesystem::path& root);
std::filesystem::path menu_folder(const std::filesystem::path& root);

// The number of the platform::Error a statement throws; 0 when it throws none.
long error_of(const std::function<void()>& statement);

// The self-registering test component `name` (ok, fail, slow, none) built into lib/.
std::string test_component(const std::string& name);
// Whether the dynamic loader holds the library now (without loading it).
bool is_loaded(const std::string& host);

// Sets a process-wide seam for the rest of the scope and puts back its default (the empty
// value of its type, or the one given) at the end, also when an assertion leaves early.
class ScopedSeam {
  public:
    template <class T>
    ScopedSeam(void (*set)(T), std::type_identity_t<std::remove_cvref_t<T>> value,
               std::type_identity_t<std::remove_cvref_t<T>> restore = {})
        : undo_([set, restore = std::move(restore)]() mutable { set(std::move(restore)); }) {
        set(std::move(value));
    }
    // Any other undoing (a seam with more than one argument).
    explicit ScopedSeam(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~ScopedSeam() {
        if (undo_) undo_();
    }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

  private:
    std::function<void()> undo_;
};

// The start of a shell command line that runs the rest with `dir` covered by a fresh file system
// from which no program may start (noexec), in a mount namespace of its own; empty where this
// system allows no such namespace.
std::string noexec_mount_prefix(const std::filesystem::path& dir);

// Sets a process environment variable (or, with std::nullopt, removes it) for the rest of the
// scope and puts the old state back at its end.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport

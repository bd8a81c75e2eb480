#pragma once
// Shared helpers of the platform core tests: a scratch folder, a scratch tree and raw file access.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace core_test {

using TempDir = testsupport::TempDir;
using testsupport::slurp;
using testsupport::spit;

// A scratch tree addressed by relative names.
struct Tree : testsupport::TempDir {
    Tree() : testsupport::TempDir("tree") {}
    std::string path(const std::string& rel) const { return file(rel); }
    std::string win(const std::string& rel) const { return platform::windows_path(path(rel)); }
    // Creates the folders on the way.
    void write(const std::string& rel, const std::string& bytes = "x") const {
        std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
        spit(path(rel), bytes);
    }
    // Every entry below the root by its relative name, folders included.
    std::set<std::string> listing() const {
        std::set<std::string> out;
        for (const auto& [name, bytes] : testsupport::tree_listing(host, {.folders = true})) {
            out.insert(name.back() == '/' ? name.substr(0, name.size() - 1) : name);
        }
        return out;
    }
};

inline mode_t mode_of(const std::string& host) {
    struct stat st {};
    ::stat(host.c_str(), &st);
    return st.st_mode & 07777;
}

inline ino_t inode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

}  // namespace core_test

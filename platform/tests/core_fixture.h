#pragma once
// Shared helpers of the platform core tests: a scratch folder and raw file access.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/paths.h"

namespace core_test {

struct TempDir {
    std::string host;
    TempDir() {
        char tmpl[] = "/tmp/veltrin-core-XXXXXX";
        host = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::system(("chmod -R u+w '" + host + "' 2>/dev/null; rm -rf '" + host + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return host + "/" + name; }
    // The Windows form of a name inside the folder.
    std::string win(const std::string& name = "") const {
        const std::string w = platform::windows_path(host);
        return name.empty() ? w : w + "\\" + name;
    }
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline ino_t inode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

}  // namespace core_test

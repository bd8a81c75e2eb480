// Shared by the harnesses: a scratch folder of the process and a check that aborts with a
// message, so that a broken property shows up in libFuzzer as a crash with its input.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// A folder of this process under $TMPDIR (or /tmp), made on first use and removed at exit.
inline const std::string& scratch() {
    // Never destroyed: the handler that removes the folder runs at exit, after the statics.
    static const std::string* path = [] {
        const char* tmp = std::getenv("TMPDIR");
        auto* p = new std::string(std::string(tmp && *tmp ? tmp : "/tmp") + "/veltrin-fuzz-XXXXXX");
        if (!::mkdtemp(p->data())) std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch(), ec);
        });
        return p;
    }();
    return *path;
}

[[noreturn]] inline void broken(const char* property, std::string_view detail = {}) {
    // Through the sanitizers' report channel: scripts/fuzz closes the harness's own stderr
    // (the extractor and the batch interpreter talk a lot), libFuzzer keeps that channel open.
    const std::string text =
        "property broken: " + std::string(property) + ": " + std::string(detail);
    __sanitizer_report_error_summary(text.c_str());
    std::abort();
}

inline void check(bool ok, const char* property, std::string_view detail = {}) {
    if (!ok) broken(property, detail);
}

inline bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (n < 0 || (n == 1 && c < 0xc2) || s.size() - i <= static_cast<std::size_t>(n))
            return false;
        unsigned cp = n == 0 ? c : c & (0x3f >> n);
        for (int k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xc0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3f);
        }
        if ((n == 2 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) ||
            (n == 3 && (cp < 0x10000 || cp > 0x10ffff)))
            return false;
        i += n + 1;
    }
    return true;
}

inline void write_bytes(const std::string& path, std::string_view bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace fuzz

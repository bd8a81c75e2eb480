// The key table against the code that reads keys and against the script reference, and the
// placeholder list against the expansion.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "setup/placeholders.h"
#include "setup/script_keys.h"
#include "setup/silent.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

struct Read {
    std::string file, section, key;
};

// Every literal key that setup and the uninstaller read: GetIniValue("Key"[ + n], "Section")
// and the install run's ini("Key"[ + n], "Section").
std::vector<Read> keys_read_by_the_code() {
    const std::regex call(R"re(\b(?:GetIniValue|ini)\(\s*"(\w+)"\s*(\+[^,]*)?,\s*"(\w+)")re");
    std::vector<Read> reads;
    for (const char* dir : {"setup", "uninstall"}) {
        for (const auto& e : fs::recursive_directory_iterator(fs::path(VELTRIN_SOURCE_DIR) / dir)) {
            const std::string path = e.path().string();
            if (e.path().extension() != ".cpp" || path.find("/tests/") != std::string::npos)
                continue;
            const std::string text = slurp(e.path());
            for (std::sregex_iterator m(text.begin(), text.end(), call), end; m != end; ++m) {
                const std::string key = (*m)[1].str() + ((*m)[2].matched ? "0" : "");
                reads.push_back({path, (*m)[3].str(), key});
            }
        }
    }
    return reads;
}

TEST(ScriptKeys, EveryKeyTheCodeReadsIsInTheTable) {
    const auto reads = keys_read_by_the_code();
    // The scan must see the readers at all (a changed call shape would make this test empty).
    ASSERT_GT(reads.size(), 40u);
    for (const Read& r : reads) {
        const bool known = setup::find_script_key(setup::KeyFile::Script, r.section, r.key) ||
                           setup::find_script_key(setup::KeyFile::UninstallLog, r.section, r.key);
        EXPECT_TRUE(known) << r.file << ": [" << r.section << "] " << r.key;
    }
}

TEST(ScriptKeys, ReferenceDescribesEveryKeyPlaceholderAndWhenValue) {
    const std::string doc = slurp(fs::path(VELTRIN_SOURCE_DIR) / "docs" / "setup-script.md");
    ASSERT_FALSE(doc.empty());
    for (const auto& k : setup::script_keys()) {
        EXPECT_NE(doc.find("[" + std::string(k.section) + "]"), std::string::npos) << k.section;
        EXPECT_NE(doc.find("`" + std::string(k.key) + "`"), std::string::npos) << k.key;
    }
    for (auto p : setup::placeholders())
        EXPECT_NE(doc.find("`" + std::string(p) + "`"), std::string::npos) << p;
    for (auto w : setup::run_apps_when_values())
        EXPECT_NE(doc.find("`" + std::string(w) + "`"), std::string::npos) << w;
}

TEST(ScriptKeys, EveryListedPlaceholderIsExpanded) {
    const testsupport::ScopedSeam source(setup::set_install_path_source,
                                         [] { return std::string("C:\\x"); });
    for (auto p : setup::placeholders()) {
        const std::string text = "a" + std::string(p) + "b";
        EXPECT_EQ(setup::ExpandPlaceholders(text).find(p), std::string::npos) << p;
    }
}

TEST(SetupCommandLine, SilentOptionsAndWrongCommandLines) {
    struct Case {
        std::vector<std::string> args;
        bool silent;
        bool error;
        std::string folder;
        bool no_restart;
    };
    const Case cases[] = {
        {{}, false, false, "", false},
        {{"-platform", "offscreen"}, false, false, "", false},  // Qt's own, windowed
        {{"--bogus"}, false, true, "", false},                  // never a window
        {{"/S", "--norestart"}, false, true, "", false},
        {{"/S"}, true, false, "", false},
        {{"/s", "/norestart"}, true, false, "", true},
        {{"/S", "/D=C:\\Programme\\Beispiel 1.0\\"},
         true,
         false,
         "C:\\Programme\\Beispiel 1.0",
         false},
        {{"/S", "/D=/Programme/Beispiel 1.0/"}, true, false, "C:\\Programme\\Beispiel 1.0", false},
        {{"/S", "/D=/opt/beispiel"}, true, false, "C:\\opt\\beispiel", false},
        {{"/S", "/D=//srv/share/x"}, true, false, "\\\\srv\\share\\x", false},
        {{"/S", "/D=relativ"}, false, true, "", false},
        {{"/S", "/D="}, false, true, "", false},
        {{"/S", "/LOG="}, false, true, "", false},
        {{"/D=C:\\x"}, false, true, "", false},  // options need /S
        {{"/S", "/S"}, false, true, "", false},
        {{"/S", "/X"}, false, true, "", false},
        {{"/S", "extra"}, false, true, "", false},
    };
    for (const Case& c : cases) {
        const auto r = setup::parse_setup_command_line(c.args);
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        EXPECT_EQ(r.silent, c.silent) << shown;
        EXPECT_EQ(!r.error.empty(), c.error) << shown << r.error;
        if (c.silent) {
            EXPECT_EQ(r.options.folder, c.folder) << shown;
            EXPECT_EQ(r.options.no_restart, c.no_restart) << shown;
        }
    }
}

}  // namespace

// The start of the setup program, run as a user would start it from a package medium, driven by
// the scripted user.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

fs::path bin_dir() {
    const char* b = std::getenv("VELTRIN_BIN");
    return b && *b ? fs::path(b) : fs::path(VELTRIN_BINARY_DIR) / "bin";
}

using testsupport::shell_quoted;

class SetupStart : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(bin_dir() / "setup") || !fs::exists(bin_dir() / "mkpackage")) {
            GTEST_SKIP() << "setup or mkpackage not built in " << bin_dir();
        }
    }

    // A medium made by mkpackage from the sample package (with a stand-in product program).
    fs::path make_medium() {
        const fs::path sample = fs::path(VELTRIN_SOURCE_DIR) / "tools" / "sample";
        const fs::path source = root_ / "source";
        fs::create_directories(source);
        for (const char* f : {"Setup.INX", "Lizenz.rtf", "Liesmich.txt", "Morvolan.svg",
                              "background.jpg", "Wizard.jpg", "button.bmp", "logo.dat"}) {
            fs::copy_file(sample / f, source / f);
        }
        std::ofstream(source / "morvo") << "#!/bin/sh\nexit 0\n";
        fs::permissions(source / "morvo", fs::perms::owner_all);
        const fs::path medium = root_ / "medium";
        EXPECT_EQ(testsupport::shell(shell_quoted(bin_dir() / "mkpackage") + " --bin " +
                                     shell_quoted(bin_dir()) + " " + shell_quoted(source) + " " +
                                     shell_quoted(medium) + " >/dev/null"),
                  0);
        return medium;
    }

    // Runs the program with a script; returns its exit status.
    int run_setup(const fs::path& program, const fs::path& temp, const std::string& script) {
        std::ofstream(root_ / "script.txt") << script;
        return testsupport::shell("cd " + shell_quoted(root_) +
                                  " && QT_QPA_PLATFORM=offscreen TEMP=" + shell_quoted(temp) +
                                  " VELTRIN_USER_SCRIPT=" + shell_quoted(root_ / "script.txt") +
                                  " VELTRIN_TRANSCRIPT=" + shell_quoted(root_ / "transcript.txt") +
                                  " timeout 120 " + shell_quoted(program) + " 2>" +
                                  shell_quoted(root_ / "stderr.txt"));
    }
    std::string transcript() { return slurp(root_ / "transcript.txt"); }

    testsupport::TempDir dir_{"start"};
    const fs::path root_ = dir_.host;
};

TEST_F(SetupStart, UnpacksTheResourcesShowsTheStartMessageAndOpensTheProgressWindow) {
    const fs::path medium = make_medium();
    const fs::path temp = root_ / "Temp mit Leerzeichen";
    fs::create_directories(temp);
    const int rc = run_setup(medium / "setup", temp,
                             "answer OK if \"Willkommen\"\n"
                             "wait frmHin\n"
                             "dump frmHin.lblTitel\n"
                             "key frmHin Esc\n"
                             "answer Yes if \"nicht vollständig\"\n");
    const std::string t = transcript();
    EXPECT_EQ(rc, 0) << t << slurp(root_ / "stderr.txt");

    // Every file of the resource cabinet is in the package folder, byte for byte.
    const fs::path pkg = temp / "~Veltrin";
    const fs::path check = root_ / "check";
    ASSERT_EQ(testsupport::shell("cabextract -q -d " + shell_quoted(check) + " " +
                                 shell_quoted(medium / "data01.cab")),
              0);
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(check)) {
        names.insert(e.path().filename().string());
        EXPECT_EQ(slurp(pkg / e.path().filename()), slurp(e.path())) << e.path().filename();
    }
    for (const char* f :
         {"Setup.INX", "background.jpg", "logo.dat", "Wizard.jpg", "button.bmp", "Lizenz.rtf"}) {
        EXPECT_TRUE(names.count(f)) << f;
    }
    // The extractor copy is left blocked.
    const std::string exe = slurp(pkg / "_setup.exe");
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe[0], 'X');
    EXPECT_EQ(exe.substr(1), slurp(medium / "Setup.dat").substr(1));

    // The order of events: start window, extractor, start message with its line break,
    // progress window.
    const auto at = [&](const std::string& s) { return t.find(s); };
    ASSERT_NE(at("window frmIni shown"), std::string::npos) << t;
    ASSERT_NE(at("start \""), std::string::npos) << t;
    const std::string message =
        "msgbox title=\"Programminformation\" icon=information buttons=OK default=OK "
        "text=\"Willkommen zur Installation von Morvolan 1.0.\\nBitte schließen Sie Ihr "
        "Mailprogramm, bevor Sie fortfahren.\" -> OK";
    ASSERT_NE(at(message), std::string::npos) << t;
    ASSERT_NE(at("window frmHin shown"), std::string::npos) << t;
    EXPECT_LT(at("window frmIni shown"), at("start \""));
    EXPECT_LT(at("start \""), at("window frmIni closed"));
    EXPECT_LT(at("window frmIni closed"), at(message));
    EXPECT_LT(at(message), at("window frmHin shown"));
    // The title line shows the script's "Titel" (Windows-1252 in the script).
    const std::string inx = slurp(pkg / "Setup.INX");
    const size_t k = inx.find("\nTitel=") + 7;
    std::string title;
    for (char c : inx.substr(k, inx.find('\r', k) - k)) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            title += c;
        } else {
            title += static_cast<char>(0xC0 | (u >> 6));
            title += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    EXPECT_NE(at("value frmHin.lblTitel \"" + title + "\""), std::string::npos) << t;
    // The command line: the temporary folder unquoted (its blanks split it), the cabinet path
    // shortened (on this platform: unchanged).
    const auto esc = [](const fs::path& p) {
        std::string w = "C:" + p.string(), out;
        for (char c : w) out += c == '/' ? std::string("\\\\") : std::string(1, c);
        return out;
    };
    EXPECT_NE(at("start \"" + esc(pkg / "_setup.exe") + "\" \"" + esc(medium / "data01.cab") + " " +
                 esc(pkg) + "\\\\*.* -d -i\""),
              std::string::npos)
        << t;
    // Esc and Yes end without cleaning.
    EXPECT_TRUE(fs::exists(pkg / "Setup.INX"));
}

TEST_F(SetupStart, WithoutDataCabinetOnlyTheErrorIsShownAndNothingIsWritten) {
    const fs::path medium = root_ / "leer";
    fs::create_directories(medium);
    fs::copy_file(bin_dir() / "setup", medium / "setup");
    std::ofstream(medium / "Setup.dat") << "MZ";
    const fs::path temp = root_ / "temp";
    fs::create_directories(temp);
    const int rc = run_setup(medium / "setup", temp, "answer OK if \"Error 123\"\n");
    EXPECT_EQ(rc, 0) << slurp(root_ / "stderr.txt");
    const std::string t = transcript();
    EXPECT_NE(t.find("msgbox title=\"Veltrin\" icon=critical buttons=OK default=OK text=\"Error "
                     "123\\n\\nDie Datei data01.cab konnte nicht gefungen werden,\" -> OK"),
              std::string::npos)
        << t;
    EXPECT_EQ(t.find("msgbox", t.find("msgbox") + 1), std::string::npos) << t;
    EXPECT_EQ(t.find("start \""), std::string::npos) << t;
    EXPECT_EQ(t.find("frmHin"), std::string::npos) << t;
    EXPECT_TRUE(fs::is_empty(temp));
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(medium)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"setup", "Setup.dat"}));
}

// An extractor that unpacks nothing: the steps go on quietly, and the progress window's load meets
// the missing background picture, which ends the program with a report instead of a crash.
TEST_F(SetupStart, MissingBackgroundEndsWithAnErrorReport) {
    const fs::path medium = root_ / "kaputt";
    fs::create_directories(medium);
    fs::copy_file(bin_dir() / "setup", medium / "setup");
    std::ofstream(medium / "data01.cab") << "MSCF";
    std::ofstream(medium / "Setup.dat") << "MZ#!/bin/sh\nexit 0\n";
    fs::permissions(medium / "Setup.dat", fs::perms::owner_all);
    const fs::path temp = root_ / "temp";
    fs::create_directories(temp);
    const int rc = run_setup(medium / "setup", temp, "answer OK if \"Laufzeitfehler\"\n");
    const std::string t = transcript();
    EXPECT_EQ(rc, 1) << t << slurp(root_ / "stderr.txt");
    EXPECT_NE(t.find("start \""), std::string::npos) << t;
    EXPECT_NE(t.find("icon=critical"), std::string::npos) << t;
    EXPECT_NE(t.find("Laufzeitfehler '53'"), std::string::npos) << t;
    EXPECT_NE(t.find("Datei nicht gefunden: " + (temp / "~Veltrin/background.jpg").string()),
              std::string::npos)
        << t;
    EXPECT_EQ(t.find("window frmHin shown"), std::string::npos) << t;
    EXPECT_NE(t.find("step 1 ok"), std::string::npos) << t;
}

}  // namespace

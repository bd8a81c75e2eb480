// The real setup program on the sample package, driven through every wizard page by the scripted
// user: the pages' texts, the folder chooser, help, cancel, and what an install leaves behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

class WizardEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        medium = fs::path(VELTRIN_BINARY_DIR) / "sample-medium";
        if (!fs::exists(medium / "setup")) GTEST_SKIP() << "no sample medium in " << medium;
        root = fs::temp_directory_path() /
               ("veltrin-wizard-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        for (auto d : {"home", "temp dir", "pf", "Ablage/Programme"}) {
            fs::create_directories(root / d);
        }
    }
    void TearDown() override {
        if (!root.empty() && !HasFailure()) fs::remove_all(root);
    }

    // Runs setup with the script; returns its exit status, the transcript in `transcript`.
    int run(const std::string& script) {
        std::ofstream(root / "script.txt") << script;
        std::string cmd =
            "cd " + quoted(root) +
            " && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TMPDIR -u CI HOME=" +
            quoted(root / "home") + " TEMP=" + quoted(root / "temp dir") +
            " ProgramFiles=" + quoted(root / "pf") +
            " QT_QPA_PLATFORM=offscreen VELTRIN_USER_SCRIPT=" + quoted(root / "script.txt") +
            " VELTRIN_TRANSCRIPT=" + quoted(root / "transcript.txt") + " timeout 120 " +
            quoted(medium / "setup") + " >/dev/null 2>&1";
        int rc = std::system(cmd.c_str());
        transcript = slurp(root / "transcript.txt");
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    std::string win(const fs::path& p) {
        std::string s = "C:" + p.string();
        for (char& c : s) {
            if (c == '/') c = '\\';
        }
        return s;
    }

    void expect_in_order(const std::vector<std::string>& lines) {
        size_t at = 0;
        for (const auto& l : lines) {
            size_t found = transcript.find(l, at);
            ASSERT_NE(found, std::string::npos) << "missing or out of order: " << l << "\n"
                                                << transcript;
            at = found + l.size();
        }
    }

    fs::path medium, root;
    std::string transcript;
};

TEST_F(WizardEndToEnd, InstallsThroughEveryPageWithTheFolderChooser) {
    const fs::path chosen = root / "Ablage" / "Programme";
    // The chooser starts at the process's current folder (root): open the way down.
    int rc =
        run("answer OK if \"Willkommen zur Installation\"\n"
            "wait frmWizard lblW1 \"Willkommen zum Setup von Morvolan 1.0. Der Veltrin "
            "Wizard wird Morvolan 1.0 installieren.\"\n"
            "dump frmWizard.lblWHersteller\n"
            "click frmWizard.cmdNav(3)\n"
            "wait frmWizard lblTitle(1) \"Lizenzvertrag\"\n"
            "click frmWizard.cmdNav(3)\n"
            "dump frmWizard.InstallPath\n"
            "click frmWizard.cmdSearch\n"
            "wait frmSearchFolder\n"
            "open frmSearchFolder.Dir1 \"Ablage\"\n"
            "open frmSearchFolder.Dir1 \"Programme\"\n"
            "click frmSearchFolder.Command1\n"
            "dump frmWizard.InstallPath\n"
            "click frmWizard.cmdNav(3)\n"
            "key frmWizard F1\n"
            "type frmWizard.Programmgruppe \"Meine Gruppe\"\n"
            "click frmWizard.cmdNav(3)\n"
            "dump frmWizard.lstKomp\n"
            "dump frmWizard.lstStand\n"
            "click frmWizard.cmdNav(3)\n"
            "wait frmend 120\n"
            "dump frmend.lblOption1\n"
            "click frmend.cmdN(3)\n");
    ASSERT_EQ(rc, 0) << transcript;
    const std::string target_escaped = [&] {
        std::string t;
        for (char c : win(chosen) + "\\Morvolan 1.0") {
            if (c == '\\') t += '\\';
            t += c;
        }
        return t;
    }();
    expect_in_order({
        "value frmWizard.lblWHersteller \"Morvolan-Projekt\"",
        "value frmWizard.InstallPath \"" +
            [&] {
                std::string t;
                for (char c : win(root / "pf") + "\\Morvolan") {
                    if (c == '\\') t += '\\';
                    t += c;
                }
                return t;
            }() +
            "\"",
        "window frmSearchFolder closed",
        "value frmWizard.InstallPath \"" + target_escaped + "\"",
        "help ",
        " 1040",
        "value frmWizard.lstKomp \"Das zu installierende Produkt:\\nMorvolan 1.0\\n"
        "Installationsverzeichnis:\\n" +
            target_escaped + "\\nProgrammgruppe:\\nMeine Gruppe\"",
        "value frmWizard.lstStand \"Das zu installierende Produkt:\\nMorvolan 1.0\\n"
        "Installationsverzeichnis:\\n#ProgramFiles#\\\\Morvolan\\nProgrammgruppe:\\nMorvolan\"",
        "help closed",
        "window frmWizard closed",
        "status frmHin.lblStatus \"Erstelle Verknüfungen...\"",
        "window frmend shown",
        "value frmend.lblOption1 \"Morvolan jetzt starten\"",
    });
    const fs::path inst = chosen / "Morvolan 1.0";
    EXPECT_TRUE(fs::exists(inst / "morvo"));
    EXPECT_TRUE(fs::exists(inst / "Liesmich.txt"));
    EXPECT_TRUE(fs::exists(inst / "Uninstall.exe"));
    const std::string log = slurp(inst / "Uninstall.ini");
    EXPECT_NE(log.find("Datei0=" + win(inst) + "\\morvo\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("AnzDatei=1\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Titel=Morvolan 1.0\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("AnzLinks=3\r\n"), std::string::npos) << log;
    const fs::path group = root / "home" / ".local" / "share" / "applications" / "Morvolan";
    EXPECT_TRUE(fs::exists(group / "Morvolan.desktop"));
    EXPECT_TRUE(fs::exists(group / "Morvolan entfernen.desktop"));
    // The package folder is emptied but stays.
    EXPECT_TRUE(fs::exists(root / "temp dir" / "~Veltrin"));
    EXPECT_TRUE(fs::is_empty(root / "temp dir" / "~Veltrin"));
}

TEST_F(WizardEndToEnd, ReturningToTheFolderPageShowsTheDefaultAgain) {
    int rc =
        run("wait frmWizard\n"
            "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
            "click frmWizard.cmdSearch\n"
            "open frmSearchFolder.Dir1 \"Ablage\"\n"
            "click frmSearchFolder.Command1\n"
            "dump frmWizard.InstallPath\n"
            "click frmWizard.cmdNav(3)\n"
            "click frmWizard.cmdNav(2)\n"
            "dump frmWizard.InstallPath\n"
            "click frmWizard.cmdSearch\n"
            "click frmSearchFolder.Command2\n"
            "dump frmWizard.InstallPath\n"
            "click frmWizard.cmdNav(1)\n"
            "answer No\n"
            "click frmWizard.cmdN(2)\n"
            "click frmWizard.cmdNav(1)\n"
            "answer Yes\n");
    EXPECT_EQ(rc, 0) << transcript;
    std::string def;
    for (char c : win(root / "pf") + "\\Morvolan") {
        if (c == '\\') def += '\\';
        def += c;
    }
    expect_in_order({"\\\\Morvolan 1.0\"", "value frmWizard.InstallPath \"" + def + "\"",
                     "value frmWizard.InstallPath \"" + def + "\"", "-> No", "-> Yes"});
    // Cancel with Yes empties and removes the package folder; nothing was installed.
    EXPECT_FALSE(fs::exists(root / "temp dir" / "~Veltrin"));
    EXPECT_FALSE(fs::exists(root / "pf" / "Morvolan"));
}

}  // namespace

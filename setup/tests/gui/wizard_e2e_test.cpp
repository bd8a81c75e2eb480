// The real setup program on the sample package, driven through every wizard page by the scripted
// user: the pages' texts, the folder chooser, help, cancel, and what an install leaves behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

using testsupport::shell_quoted;

// Every file and folder under `dir`, relative to it.
std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& [rel, bytes] : testsupport::tree_listing(dir.string(), {.folders = true}))
        out.insert(rel);
    return out;
}

class WizardEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        medium = fs::path(VELTRIN_BINARY_DIR) / "sample-medium";
        if (!fs::exists(medium / "setup")) GTEST_SKIP() << "no sample medium in " << medium;
        for (auto d : {"home", "temp dir", "pf", "Ablage/Programme"}) {
            fs::create_directories(root / d);
        }
    }
    void TearDown() override { dir.keep = HasFailure(); }

    // Writes the script to `script_name` and gives the start of a command line that runs in the
    // test's own home and TEMP with that script and a transcript to `transcript_name`.
    std::string scripted(const std::string& script, const std::string& script_name,
                         const std::string& transcript_name) {
        std::ofstream(root / script_name) << script;
        return "cd " + shell_quoted(root) +
               " && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TMPDIR -u CI HOME=" +
               shell_quoted(root / "home") + " TEMP=" + shell_quoted(root / "temp dir") +
               // Root's menu is the system-wide one: here the same folder as a user's.
               " XDG_DATA_DIRS=" + shell_quoted(root / "home/.local/share") +
               " QT_QPA_PLATFORM=offscreen VELTRIN_USER_SCRIPT=" +
               shell_quoted(root / script_name) +
               " VELTRIN_TRANSCRIPT=" + shell_quoted(root / transcript_name) + " ";
    }

    // Runs setup with the script; returns its exit status, the transcript in `transcript`.
    int run(const std::string& script) {
        const int rc =
            testsupport::shell(scripted(script, "script.txt", "transcript.txt") +
                               "ProgramFiles=" + shell_quoted(root / "pf") + " timeout 120 " +
                               shell_quoted(medium / "setup") + " >/dev/null 2>&1");
        transcript = slurp(root / "transcript.txt");
        return rc;
    }

    // Starts a shortcut as the desktop's menu does, with the same environment and a script;
    // returns the launcher's status (the program itself runs on in the background).
    int launch(const fs::path& desktop_entry, const std::string& script) {
        return testsupport::shell(scripted(script, "script2.txt", "transcript2.txt") +
                                  "gio launch " + shell_quoted(desktop_entry) + " >/dev/null 2>&1");
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

    testsupport::TempDir dir{"wizard-e2e"};
    const fs::path root = dir.host;
    fs::path medium;
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
            "dump frmSearchFolder.Drive1\n"
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
    // The folder box and the summary show host paths.
    const std::string target = (chosen / "Morvolan 1.0").string();
    expect_in_order({
        "value frmWizard.lblWHersteller \"Morvolan-Projekt\"",
        "value frmWizard.InstallPath \"" + (root / "pf" / "Morvolan").string() + "\"",
        "value frmSearchFolder.Drive1 \"/\"",  // the file system, where drive C: was
        "window frmSearchFolder closed",
        "value frmWizard.InstallPath \"" + target + "\"",
        "help ",
        " 1040",
        "value frmWizard.lstKomp \"Das zu installierende Produkt:\\nMorvolan 1.0\\n"
        "Installationsverzeichnis:\\n" +
            target + "\\nProgrammgruppe:\\nMeine Gruppe\"",
        "value frmWizard.lstStand \"Das zu installierende Produkt:\\nMorvolan 1.0\\n"
        "Installationsverzeichnis:\\n#ProgramFiles#/Morvolan\\nProgrammgruppe:\\nMorvolan\"",
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
    EXPECT_NE(log.find("AnzDatei=2\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Titel=Morvolan 1.0\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("AnzLinks=3\r\n"), std::string::npos) << log;
    const fs::path group = root / "home" / ".local" / "share" / "applications" / "Morvolan";
    EXPECT_TRUE(fs::exists(group / "Morvolan.desktop"));
    EXPECT_TRUE(fs::exists(group / "Morvolan entfernen.desktop"));
    // The entries look like the desktop's own: the program or its container in Exec, the
    // product's picture as the icon, nothing for the validator to object to.
    const bool validator = std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0;
    for (const char* name : {"Morvolan.desktop", "Morvolan entfernen.desktop"}) {
        SCOPED_TRACE(name);
        const std::string entry = slurp(group / name);
        EXPECT_NE(entry.find("\nIcon=" + (inst / "Morvolan.svg").string() + "\n"),
                  std::string::npos)
            << entry;
        EXPECT_NE(entry.find("\nExec=\"" + inst.string() + "/"), std::string::npos) << entry;
        if (validator) {
            EXPECT_EQ(
                std::system(("desktop-file-validate '" + (group / name).string() + "'").c_str()),
                0);
        }
    }
    EXPECT_TRUE(fs::exists(inst / "Morvolan.svg"));
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
    const std::string def = (root / "pf" / "Morvolan").string();
    expect_in_order({"/Ablage/Morvolan 1.0\"", "value frmWizard.InstallPath \"" + def + "\"",
                     "value frmWizard.InstallPath \"" + def + "\"", "-> No", "-> Yes"});
    // Cancel with Yes empties and removes the package folder; nothing was installed.
    EXPECT_FALSE(fs::exists(root / "temp dir" / "~Veltrin"));
    EXPECT_FALSE(fs::exists(root / "pf" / "Morvolan"));
}

TEST_F(WizardEndToEnd, UninstallAfterInstallLeavesTheDiskAsItWas) {
    // A desktop session has its desktop and menu folders before anything is installed.
    fs::create_directories(root / "home" / "Desktop");
    fs::create_directories(root / "home" / ".local" / "share" / "applications");
    const auto home_before = listing(root / "home");
    const auto pf_before = listing(root / "pf");

    ASSERT_EQ(
        run("wait frmWizard\n"
            "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
            "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
            "wait frmend 120\nclick frmend.cmdN(3)\n"),
        0)
        << transcript;
    const fs::path inst = root / "pf" / "Morvolan";
    ASSERT_TRUE(fs::exists(inst / "Uninstall.exe"));
    ASSERT_TRUE(fs::exists(root / "home" / "Desktop" / "Morvolan" / "Morvolan.desktop"));

    // The user starts the uninstaller from its shortcut in the program group.
    const fs::path entry = root / "home" / ".local" / "share" / "applications" / "Morvolan" /
                           "Morvolan entfernen.desktop";
    ASSERT_EQ(launch(entry,
                     "answer Yes if \"deinstallieren?\"\n"
                     "answer OK if \"erfolgreich\"\n"
                     "wait Form1\n"
                     "click Form1.cmdNext\n"),
              0);
    // The batch runs after the uninstaller has ended and removes the folder last.
    for (int i = 0; i < 600 && fs::exists(inst); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    transcript = slurp(root / "transcript2.txt");
    EXPECT_NE(transcript.find("step 4 ok: click Form1.cmdNext"), std::string::npos) << transcript;
    EXPECT_FALSE(fs::exists(inst));
    EXPECT_EQ(listing(root / "pf"), pf_before);
    // The shortcut folder on the desktop is named after the group and is not in the log: it is
    // the one thing left, empty.
    auto home_after = listing(root / "home");
    // The desktop's own tools keep caches in the home folder; they are not the product's.
    std::erase_if(home_after, [](const std::string& p) { return p.rfind(".cache/", 0) == 0; });
    EXPECT_TRUE(home_after.erase("Desktop/Morvolan/"));
    EXPECT_TRUE(fs::is_empty(root / "home" / "Desktop" / "Morvolan"));
    EXPECT_EQ(home_after, home_before);
    // The batch has deleted itself.
    for (const auto& p : fs::recursive_directory_iterator(root)) {
        EXPECT_NE(p.path().filename(), "delete.bat") << p.path();
    }
}

}  // namespace

// The real setup program, on a medium made by mkpackage, driven through the wizard by the
// scripted user: the install run's status texts reach the transcript in order, and the files,
// the log and the shortcut land where the script says.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

std::string bin(const std::string& name) {
    const char* b = std::getenv("VELTRIN_BIN");
    return std::string(b ? b : VELTRIN_BINARY_DIR "/bin") + "/" + name;
}

using testsupport::slurp;
using testsupport::spit;

using testsupport::shell_quoted;

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

TEST(InstallEndToEnd, ScriptedRunShowsTheStatusTextsInOrder) {
    testsupport::TempDir dir("install-e2e");
    const fs::path root = dir.host;
    const fs::path src = root / "src", medium = root / "medium", home = root / "home",
                   temp = root / "temp", pf = root / "pf";
    for (auto& d : {src, home, temp, pf}) fs::create_directories(d);
    const fs::path sample = fs::path(VELTRIN_SOURCE_DIR) / "tools" / "sample";
    for (auto name : {"background.jpg", "Wizard.jpg", "button.bmp", "Lizenz.rtf", "logo.dat"})
        fs::copy_file(sample / name, src / name);
    spit(src / "a.txt", "alpha\n");
    spit(src / "b.txt", "beta\n");
    spit(src / "Setup.INX",
         "[Main]\r\nProduktName=Beispiel\r\nInstallPath=#ProgramFiles#\\Beispiel 1.0\r\n"
         "ProgrammGruppe=Beispiel\r\nTitel=Beispiel\r\nUninstall=1\r\n"
         "[Dateien]\r\nAnzahlDateien=2\r\nDatei0=#InstallPath#\r\nDateiN0=a.txt\r\n"
         "Datei1=#InstallPath#\\doc\r\nDateiN1=b.txt\r\n"
         "[Billboards]\r\nAnzBillboards=2\r\nTitle1=Eins\r\nText1=x|y\r\nTitle2=Zwei\r\n"
         "[Links]\r\nAnzLinks=1\r\nLinkPath1=#ProgramGroup#\r\nLinkT1=A.desktop\r\n"
         "LinkN1=#InstallPath#\\a.txt\r\n");
    ASSERT_EQ(
        std::system((shell_quoted(bin("mkpackage")) + " --bin " + shell_quoted(fs::path(bin(""))) +
                     " " + shell_quoted(src) + " " + shell_quoted(medium) + " >/dev/null 2>&1")
                        .c_str()),
        0);
    spit(root / "script.txt",
         "wait frmWizard\n"
         "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
         "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
         "wait frmend 120\n"
         "click frmend.cmdN(3)\n");
    const std::string cmd =
        "cd " + shell_quoted(root) +
        " && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TMPDIR HOME=" + shell_quoted(home) +
        " TEMP=" + shell_quoted(temp) + " ProgramFiles=" + shell_quoted(pf) +
        // Root's menu is the system-wide one: here the same folder as a user's.
        " XDG_DATA_DIRS=" + shell_quoted(home / ".local/share") +
        " QT_QPA_PLATFORM=offscreen VELTRIN_USER_SCRIPT=" + shell_quoted(root / "script.txt") +
        " VELTRIN_TRANSCRIPT=" + shell_quoted(root / "transcript.txt") + " timeout 300 " +
        shell_quoted(medium / "setup") + " >" + shell_quoted(root / "output.txt") + " 2>&1";
    int status = std::system(cmd.c_str());
    const std::string transcript = slurp(root / "transcript.txt");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "status " << status << "\n"
        << transcript << slurp(root / "output.txt");

    EXPECT_EQ(lines_starting(transcript, "status frmHin.lblStatus"),
              (std::vector<std::string>{"status frmHin.lblStatus \"Kopiere neue Dateien...\"",
                                        "status frmHin.lblStatus \"Registriere Schriften...\"",
                                        "status frmHin.lblStatus \"Einrichtung des Programms...\"",
                                        "status frmHin.lblStatus \"Erstelle Verknüfungen...\"",
                                        "status frmHin.lblStatus \"Fertigstellung...\""}))
        << transcript;
    // One extractor start per file entry (the transcript escapes backslashes), between the first
    // two status texts.
    auto copying = transcript.find("Kopiere neue Dateien...");
    auto fonts = transcript.find("Registriere Schriften...");
    ASSERT_LT(copying, fonts);
    auto starts = lines_starting(transcript.substr(copying, fonts - copying), "start ");
    ASSERT_EQ(starts.size(), 2u) << transcript;
    EXPECT_NE(starts[1].find("data02.cab"), std::string::npos);
    EXPECT_NE(starts[1].find("\\\\doc\\\\b.txt -d -i -ox"), std::string::npos);
    EXPECT_LT(transcript.find("Fertigstellung..."), transcript.find("window frmend shown"));

    const fs::path F = pf / "Beispiel 1.0";
    EXPECT_EQ(slurp(F / "a.txt"), "alpha\n");
    EXPECT_EQ(slurp(F / "doc" / "b.txt"), "beta\n");
    const std::string log = slurp(F / "Uninstall.ini");
    EXPECT_NE(log.find("AnzDatei=1\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Titel=Beispiel\r\n"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(home / ".local/share/applications/Beispiel/A.desktop"));
    dir.keep = ::testing::Test::HasFailure();
}

}  // namespace

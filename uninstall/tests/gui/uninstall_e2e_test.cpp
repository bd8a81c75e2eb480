// The real uninstaller, started as "Uninstall.exe" from an install folder laid out as the install
// run leaves it, driven by the scripted user; afterwards the batch must have removed the program
// file and itself, and nothing else on the disk may have changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "../fixture.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_container.h"
#include "platform/transcript.h"

namespace uninstall {
namespace {

using test::LogLayout;
using test::TempTree;

std::string program() {
    const char* bin = std::getenv("VELTRIN_BIN");
    return std::string(bin ? bin : VELTRIN_BINARY_DIR "/bin") + "/uninstall";
}

struct Outcome {
    int status = -1;
    std::string transcript;
    std::string output;  // stdout and stderr, the batch's reports included once it has run
};

// Copies the program in as Uninstall.exe, runs it with the script and waits for its end.
Outcome run_uninstaller(const TempTree& tree, const std::string& folder, const std::string& script,
                        const std::string& home) {
    const std::string exe = tree.path(folder + "/Uninstall.exe");
    EXPECT_EQ(
        std::system(("cp '" + program() + "' '" + exe + "' && chmod 755 '" + exe + "'").c_str()),
        0);
    tree.write("run/script.txt", script);
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VELTRIN_USER_SCRIPT", QString::fromStdString(tree.path("run/script.txt")));
    env.insert("VELTRIN_TRANSCRIPT", QString::fromStdString(tree.path("run/transcript.txt")));
    env.insert("HOME", QString::fromStdString(home));
    env.remove("XDG_DATA_HOME");
    env.remove("XDG_CONFIG_HOME");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(QString::fromStdString(tree.path("run/output.txt")));
    p.setWorkingDirectory(QString::fromStdString(tree.path("run")));
    p.start(QString::fromStdString(exe), {});
    Outcome out;
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000)) {
        p.kill();
        return out;
    }
    out.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    out.transcript = tree.read("run/transcript.txt");
    return out;
}

// The batch runs after the program has ended; wait until it has done its last deletion.
bool wait_until_gone(const TempTree& tree, const std::vector<std::string>& paths) {
    for (int i = 0; i < 300; ++i) {
        bool all = true;
        for (const auto& p : paths) all = all && !tree.exists(p);
        if (all) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const char* kYesScript =
    "answer Yes if \"deinstallieren?\"\n"
    "answer OK if \"Uninstallation erfolgreich abgeschlossen.\"\n"
    "wait Form1\n"
    "dump Form1.List1\n"
    "dump Form1.lblProdukt\n"
    "click Form1.cmdNext\n";

// Files, shortcuts (desktop entries) and the group folder as the install run records them.
struct Installation {
    TempTree tree;
    std::map<std::string, std::string> before;
    LogLayout layout;

    Installation() {
        // What the user had before the installation.
        tree.write("home/Desktop/mine.txt", "the user's own");
        tree.write("home/.local/share/applications/other/keep.desktop", "[Desktop Entry]\n");
        tree.mkdirs("opt");
        tree.mkdirs("run");
        before = tree.listing();

        // What the installation added.
        tree.write("opt/Beispiel 1.0/morvo", "program");
        tree.write("opt/Beispiel 1.0/Beispiel.dll", "library");
        tree.write("opt/Beispiel 1.0/Dokumente/Liesmich.txt", "text");
        const std::string entry = "[Desktop Entry]\nType=Application\nName=Morvolan\nExec=\"" +
                                  tree.path("opt/Beispiel 1.0/morvo") + "\"\n";
        tree.write("home/.local/share/applications/Beispiel/Morvolan.desktop", entry);
        tree.write("home/.local/share/applications/Beispiel/Deinstallieren.desktop", entry);
        tree.write("home/Desktop/Morvolan.desktop", entry);
        layout.files = {tree.win("opt/Beispiel 1.0/morvo"),
                        tree.win("opt/Beispiel 1.0/Beispiel.dll"),
                        tree.win("opt/Beispiel 1.0/Dokumente/Liesmich.txt")};
        layout.group = tree.win("home/.local/share/applications/Beispiel");
        layout.links = {tree.win("home/.local/share/applications/Beispiel/Morvolan.desktop"),
                        tree.win("home/.local/share/applications/Beispiel/Deinstallieren.desktop"),
                        tree.win("home/Desktop/Morvolan.desktop")};
        tree.write("opt/Beispiel 1.0/Uninstall.ini", test::log_text(layout));
        // Written by the product after the installation, named by no log.
        tree.write("opt/Beispiel 1.0/morvo.ini", "[Einstellungen]\r\n");
    }
};

std::map<std::string, std::string> without_run(std::map<std::string, std::string> listing) {
    for (auto it = listing.begin(); it != listing.end();) {
        it = it->first.rfind("run/", 0) == 0 ? listing.erase(it) : std::next(it);
    }
    return listing;
}

TEST(UninstallProgram, RemovesTheInstallationAndThenItself) {
    Installation in;
    const std::string A = in.tree.win("opt/Beispiel 1.0");
    const Outcome out =
        run_uninstaller(in.tree, "opt/Beispiel 1.0", kYesScript, in.tree.path("home"));
    ASSERT_EQ(out.status, 0) << out.transcript;
    ASSERT_TRUE(wait_until_gone(in.tree, {"opt/Beispiel 1.0"}));
    EXPECT_EQ(without_run(in.tree.listing()), without_run(in.before));

    const std::string& t = out.transcript;
    EXPECT_TRUE(contains(t,
                         "msgbox title=\"UnVeltrin\" icon=information buttons=YesNo default=Yes "
                         "text=\"Möchten Sie Beispiel 1.0 deinstallieren?\" -> Yes"))
        << t;
    EXPECT_TRUE(contains(t, "text=\"Uninstallation erfolgreich abgeschlossen.\" -> OK")) << t;
    EXPECT_TRUE(contains(t, "value Form1.lblProdukt \"Beispiel 1.0\"")) << t;
    std::string list;
    for (const auto& l : in.layout.links)
        list += (list.empty() ? "" : "\n") + ("Lösche Verknüpfung \"" + platform::host_path(l));
    for (const auto& f : in.layout.files) list += "\nLösche Datei \"" + platform::host_path(f);
    EXPECT_TRUE(contains(t, "value Form1.List1 " + platform::transcript_quote(list))) << t;
    EXPECT_TRUE(contains(t, "start " + platform::transcript_quote(A + "\\delete.bat") + " \"\""))
        << t;
    // The batch said what it did not know and went on.
    const std::string output = in.tree.read("run/output.txt");
    EXPECT_TRUE(contains(output, "Der Befehl \"ON\"")) << output;
    EXPECT_TRUE(contains(output, "Der Befehl \"Weiter:\"")) << output;
}

TEST(UninstallProgram, NoLeavesEverythingInPlace) {
    Installation in;
    const Outcome out =
        run_uninstaller(in.tree, "opt/Beispiel 1.0", "answer No\n", in.tree.path("home"));
    ASSERT_EQ(out.status, 0) << out.transcript;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto after = in.tree.listing();
    EXPECT_TRUE(after.count("opt/Beispiel 1.0/Uninstall.ini"));
    EXPECT_TRUE(after.count("opt/Beispiel 1.0/Uninstall.exe"));
    EXPECT_FALSE(after.count("opt/Beispiel 1.0/delete.bat"));
    EXPECT_TRUE(after.count("home/Desktop/Morvolan.desktop"));
    EXPECT_TRUE(contains(out.transcript, "-> No")) << out.transcript;
    EXPECT_FALSE(contains(out.transcript, "window Form1 shown")) << out.transcript;
}

// Started from the user's home folder, which holds a log: what the log names goes, and the
// program file with its batch; the home folder and everything else in it stay.
TEST(UninstallProgram, HomeFolderIsNeverRemoved) {
    TempTree tree;
    tree.write("home/letter.txt", "the user's own");
    tree.write("home/Desktop/Morvolan.desktop", "[Desktop Entry]\n");
    tree.write("home/morvo", "program");
    tree.mkdirs("run");
    LogLayout layout;
    layout.files = {tree.win("home/morvo")};
    layout.links = {tree.win("home/Desktop/Morvolan.desktop")};
    tree.write("home/Uninstall.ini", test::log_text(layout));
    const Outcome out = run_uninstaller(tree, "home", kYesScript, tree.path("home"));
    ASSERT_EQ(out.status, 0) << out.transcript;
    ASSERT_TRUE(wait_until_gone(tree, {"home/Uninstall.exe", "home/delete.bat"}));
    EXPECT_EQ(tree.listing("home"), (std::map<std::string, std::string>{
                                        {"letter.txt", "the user's own"},
                                        {"Desktop/", ""},
                                    }));
}

// Without a log the question names no product, and only the program file and its batch go.
TEST(UninstallProgram, FolderWithoutLogKeepsItsContents) {
    TempTree tree;
    tree.write("Downloads/urlaub.jpg", "photo");
    tree.mkdirs("run");
    const Outcome out = run_uninstaller(tree, "Downloads", kYesScript, tree.path("home"));
    ASSERT_EQ(out.status, 0) << out.transcript;
    EXPECT_TRUE(contains(out.transcript, "text=\"Möchten Sie  deinstallieren?\" -> Yes"))
        << out.transcript;
    ASSERT_TRUE(wait_until_gone(tree, {"Downloads/Uninstall.exe", "Downloads/delete.bat"}));
    EXPECT_EQ(tree.listing("Downloads"),
              (std::map<std::string, std::string>{{"urlaub.jpg", "photo"}}));
}

// As setup placed it from mediums made earlier: "Uninstall.exe" is the program in the layer's
// container ("MZ" + the program), started through the layer. The program must still know its
// own folder.
TEST(UninstallProgram, ContainerCopyStartedThroughTheLayer) {
    Installation in;
    const std::string A = "opt/Beispiel 1.0";
    const std::string exe = in.tree.path(A + "/Uninstall.exe");
    ASSERT_EQ(std::system(("(printf MZ; cat '" + program() + "') > '" + exe + "'").c_str()), 0);
    in.tree.write("run/script.txt", kYesScript);
    ::setenv("VELTRIN_CHILD_USER_SCRIPT", in.tree.path("run/script.txt").c_str(), 1);
    ::setenv("VELTRIN_CHILD_TRANSCRIPT", in.tree.path("run/transcript.txt").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const long pid = platform::Shell("\"" + in.tree.win(A + "/Uninstall.exe") + "\"", 1);
    ::unsetenv("VELTRIN_CHILD_USER_SCRIPT");
    ::unsetenv("VELTRIN_CHILD_TRANSCRIPT");
    const platform::Handle h = platform::OpenProcess(platform::SYNCHRONIZE, false, pid);
    ASSERT_NE(h, 0);
    ASSERT_EQ(platform::WaitForSingleObject(h, 120000), platform::WAIT_OBJECT_0);
    unsigned long code = 99;
    EXPECT_TRUE(platform::GetExitCodeProcess(h, code));
    platform::CloseHandle(h);
    const std::string transcript = in.tree.read("run/transcript.txt");
    EXPECT_EQ(code, 0u) << transcript;
    EXPECT_TRUE(contains(transcript, "Möchten Sie Beispiel 1.0 deinstallieren?")) << transcript;
    ASSERT_TRUE(wait_until_gone(in.tree, {A}));
    EXPECT_EQ(without_run(in.tree.listing()), without_run(in.before));
}

// "Uninstall.exe" in the container, as mediums made earlier install it, started natively, as the
// user does: from a shell, and through its desktop entry. Both remove everything. A blocked copy
// (first byte "X") refuses both ways and writes nothing anywhere.
TEST(UninstallProgram, ContainerStartsFromAShellAndFromItsDesktopEntry) {
    const bool have_gio = std::system("command -v gio >/dev/null 2>&1") == 0;
    for (const bool blocked : {false, true}) {
        for (const std::string way : {"sh", "gio"}) {
            if (way == "gio" && !have_gio) continue;
            SCOPED_TRACE(way + (blocked ? " blocked" : ""));
            Installation in;
            const std::string A = "opt/Beispiel 1.0";
            const std::string exe = in.tree.path(A + "/Uninstall.exe");
            std::ifstream in_program(program(), std::ios::binary);
            std::string bytes = platform::container_head() +
                                std::string(std::istreambuf_iterator<char>(in_program), {});
            if (blocked) bytes[0] = 'X';  // as setup's BlockExe leaves it
            in.tree.write(A + "/Uninstall.exe", bytes);
            ::chmod(exe.c_str(), 0755);
            const std::string entry = in.tree.path("run/Entfernen.desktop");
            in.tree.write("run/Entfernen.desktop",
                          "[Desktop Entry]\nType=Application\nName=Entfernen\nExec=\"" + exe +
                              "\"\nIcon=application-x-executable\n");
            in.tree.write("run/script.txt", kYesScript);
            in.tree.mkdirs("run/xdg");
            ::chmod(in.tree.path("run/xdg").c_str(), 0700);
            const auto before = in.tree.listing();
            const std::string env = "QT_QPA_PLATFORM=offscreen HOME='" + in.tree.path("home") +
                                    "' XDG_RUNTIME_DIR='" + in.tree.path("run/xdg") +
                                    "' VELTRIN_USER_SCRIPT='" + in.tree.path("run/script.txt") +
                                    "' VELTRIN_TRANSCRIPT='" + in.tree.path("run/transcript.txt") +
                                    "' ";
            const std::string cmd = way == "sh" ? "cd '" + in.tree.path("run") + "' && F='" +
                                                      in.tree.path(A) + "' " + env +
                                                      "sh -c '\"$F/Uninstall.exe\"' 2>/dev/null"
                                                : env + "gio launch '" + entry + "'";
            const int status = std::system(cmd.c_str());
            if (blocked) {
                if (way == "sh") {
                    EXPECT_NE(status, 0);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                EXPECT_EQ(in.tree.listing(), before);
                continue;
            }
            EXPECT_EQ(status, 0);
            ASSERT_TRUE(wait_until_gone(in.tree, {A})) << in.tree.read("run/transcript.txt");
            EXPECT_EQ(without_run(in.tree.listing()), without_run(in.before));
            EXPECT_TRUE(in.tree.listing("run/xdg").empty());  // the private copy went too
            EXPECT_TRUE(contains(in.tree.read("run/transcript.txt"),
                                 "Uninstallation erfolgreich abgeschlossen."));
        }
    }
}

}  // namespace
}  // namespace uninstall

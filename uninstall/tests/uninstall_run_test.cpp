// The uninstall run against real folders: what the timer deletes and lists, what the guard
// keeps, the question, the batch that cmdNext_Click appends, and SHDelete's record.
#include "uninstall/uninstall_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include <cstdlib>
#include <optional>

#include "fixture.h"
#include "platform/batch.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shell_file_op.h"
#include "testsupport/testsupport.h"

namespace uninstall {
namespace {

using test::LogLayout;
using test::TempTree;

struct FakeView : RunView {
    std::vector<std::string> events;  // "stop", "line:<text>", "enable"
    std::vector<std::string> lines;
    void stop_timer() override { events.push_back("stop"); }
    void add_list_line(const std::string& line) override {
        lines.push_back(line);
        events.push_back("line");
    }
    std::int32_t window_handle() override { return 4711; }
    void enable_next() override { events.push_back("enable"); }
};

// Records every message box and answers with a fixed button.
struct Boxes {
    std::vector<platform::MsgBoxRequest> shown;
    platform::ScopedMsgBoxHandler scope;
    explicit Boxes(platform::Result answer = platform::Result::OK)
        : scope([this, answer](const platform::MsgBoxRequest& r) {
              shown.push_back(r);
              return answer;
          }) {}
};

// The install folder "inst" with its log, the group "menu/Beispiel" with one shortcut and the
// desktop with another, one file of the product outside the install folder.
struct Installed {
    TempTree tree;
    LogLayout layout;
    Installed() {
        tree.write("inst/Uninstall.exe", "program");
        tree.write("inst/morvo", "m");
        tree.write("inst/lib/helper.dll", "h");
        tree.write("fonts/font.ttf", "f");
        tree.write("menu/Beispiel/Morvolan.desktop", "[Desktop Entry]\n");
        tree.write("desktop/Morvolan.desktop", "[Desktop Entry]\n");
        tree.write("desktop/mine.txt", "not ours");
        tree.write("inst/created-later.log", "the product wrote this");
        layout.files = {tree.win("inst/morvo"), tree.win("inst/lib/helper.dll"),
                        tree.win("fonts/font.ttf")};
        layout.group = tree.win("menu/Beispiel");
        layout.links = {tree.win("menu/Beispiel/Morvolan.desktop"),
                        tree.win("desktop/Morvolan.desktop")};
    }
    void write_log() { tree.write("inst/Uninstall.ini", test::log_text(layout)); }
};

TEST(UninstallRun, DeletesShortcutsThenFilesInLogOrderAndEverythingElseInTheFolder) {
    Installed in;
    in.write_log();
    Uninstaller run(in.tree.win("inst"));
    Boxes boxes;
    FakeView view;
    run.Timer1_Timer(view);

    // The list names host paths; the log holds Windows paths.
    auto host = [](const std::string& win) { return platform::host_path(win); };
    const std::vector<std::string> expected = {
        "Lösche Verknüpfung \"" + host(in.layout.links[0]),
        "Lösche Verknüpfung \"" + host(in.layout.links[1]),
        "Lösche Datei \"" + host(in.layout.files[0]),
        "Lösche Datei \"" + host(in.layout.files[1]),
        "Lösche Datei \"" + host(in.layout.files[2]),
    };
    EXPECT_EQ(view.lines, expected);
    EXPECT_EQ(view.events.front(), "stop");
    EXPECT_EQ(view.events.back(), "enable");

    EXPECT_FALSE(in.tree.exists("fonts/font.ttf"));  // recorded outside the folder
    EXPECT_FALSE(in.tree.exists("menu/Beispiel"));   // group folder, emptied by its link
    EXPECT_FALSE(in.tree.exists("desktop/Morvolan.desktop"));
    EXPECT_TRUE(in.tree.exists("desktop/mine.txt"));
    EXPECT_TRUE(in.tree.exists("menu"));
    EXPECT_TRUE(in.tree.exists("fonts"));
    // The removal of the program folder takes the rest of the install folder, unrecorded files
    // included; no running program holds it here, so the folder goes too.
    EXPECT_FALSE(in.tree.exists("inst"));

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Uninstallation erfolgreich abgeschlossen.");
    EXPECT_EQ(boxes.shown[0].title, "UnVeltrin");
    EXPECT_EQ(boxes.shown[0].icon, platform::Icon::Information);
    EXPECT_EQ(boxes.shown[0].buttons, platform::Buttons::OK);
}

TEST(UninstallRun, RunningProgramKeepsItsFileAndFolder) {
    Installed in;
    in.write_log();
    // A running copy of a real program stands for Uninstall.exe.
    const std::string exe = in.tree.path("inst/Uninstall.exe");
    ASSERT_EQ(std::system(("cp /bin/sleep '" + exe + "' && chmod 755 '" + exe + "'").c_str()), 0);
    const long pid =
        platform::Shell("\"" + in.tree.win("inst/Uninstall.exe") + "\" 30", platform::vbHide);
    ASSERT_GT(pid, 0);
    Boxes boxes;
    FakeView view;
    Uninstaller(in.tree.win("inst")).Timer1_Timer(view);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_EQ(in.tree.listing("inst"), (std::map<std::string, std::string>{
                                           {"Uninstall.exe", in.tree.read("inst/Uninstall.exe")}}));
    EXPECT_EQ(view.events.back(), "enable");
}

// Counts as the log may hold them: only a number selects entries; -1 selects none.
TEST(UninstallRun, FileCountDecidesWhichRecordedFilesGo) {
    struct Case {
        const char* count;
        std::vector<bool> gone;  // per recorded file
        int lines;               // one per visited key, also for keys that are missing
    };
    const Case cases[] = {
        {"-1", {false, false, false}, 0},   {"", {false, false, false}, 0},
        {"zwei", {false, false, false}, 0}, {nullptr, {false, false, false}, 0},
        {"0", {true, false, false}, 1},     {"1", {true, true, false}, 2},
        {"2", {true, true, true}, 3},       {"9", {true, true, true}, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count ? c.count : "(no key)");
        TempTree tree;
        tree.write("data/a", "a");
        tree.write("data/b", "b");
        tree.write("data/c", "c");
        LogLayout layout;
        layout.files = {tree.win("data/a"), tree.win("data/b"), tree.win("data/c")};
        layout.file_count = c.count;
        layout.link_count = nullptr;
        tree.write("inst/Uninstall.ini", test::log_text(layout));
        Boxes boxes;
        FakeView view;
        Uninstaller(tree.win("inst")).Timer1_Timer(view);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(!tree.exists("data/" + std::string(1, static_cast<char>('a' + i))),
                      c.gone[i]);
        }
        EXPECT_EQ(static_cast<int>(view.lines.size()), c.lines);
    }
}

TEST(UninstallRun, CountValueReadsNumbersOnly) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"2x", std::nullopt},
        {"-1", -1},
        {"0", 0},
        {"3", 3},
        {" 4 ", 4},
        {"+5", 5},
        {"2.5", 2},
        {"3.5", 4},
        {"32767", 32767},
        {"32768", std::nullopt},
        {"-32769", std::nullopt},
        {"1e2", 100},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(count_value(text), expected) << text;
}

TEST(UninstallRun, LongPathIsReadCutAndItsFileStays) {
    TempTree tree;
    // Nested folders so that no single name passes the host's limit.
    std::string rel = "data";
    while (tree.win(rel).size() < 230) rel += "/folder-with-a-long-name";
    rel += "/" + std::string(260 - tree.win(rel).size() - 1, 'x');
    tree.write(rel, "keep me");
    const std::string full = tree.win(rel);
    ASSERT_EQ(full.size(), 260u);
    LogLayout layout;
    layout.files = {full};
    tree.write("inst/Uninstall.ini", test::log_text(layout));

    Uninstaller run(tree.win("inst"));
    EXPECT_EQ(run.GetIniValue("Datei0", "Dateien"), full.substr(0, 254));
    Boxes boxes;
    FakeView view;
    run.Timer1_Timer(view);
    EXPECT_EQ(view.lines, std::vector<std::string>{"Lösche Datei \"" +
                                                   platform::host_path(full.substr(0, 254))});
    EXPECT_TRUE(tree.exists(rel));
}

TEST(UninstallRun, GetIniValueVariantFindsTheLogBesideTheProgram) {
    TempTree tree;
    LogLayout layout;
    layout.title = "Produkt " + std::string(300, 'z');
    tree.write("Uninstall.ini", test::log_text(layout));  // the install run's spelling
    platform::set_app_path(tree.win(""));
    EXPECT_EQ(GetIniValue("Titel", "Uninstall", ""), layout.title.substr(0, 254));
    EXPECT_EQ(GetIniValue("titel", "UNINSTALL", tree.win("Uninstall.ini")),
              layout.title.substr(0, 254));
    EXPECT_EQ(GetIniValue("", "Uninstall", ""), "");
    EXPECT_EQ(GetIniValue("Fehlt", "Uninstall", ""), "");
    platform::set_app_path("");
}

TEST(UninstallRun, QuestionNamesTheProductOrNothing) {
    struct Case {
        bool with_log;
        platform::Result answer;
        const char* text;
        bool yes;
    };
    const Case cases[] = {
        {true, platform::Result::Yes, "Möchten Sie Beispiel 1.0 deinstallieren?", true},
        {true, platform::Result::No, "Möchten Sie Beispiel 1.0 deinstallieren?", false},
        {false, platform::Result::Yes, "Möchten Sie  deinstallieren?", true},
    };
    for (const auto& c : cases) {
        Installed in;
        if (c.with_log) in.write_log();
        const auto before = in.tree.listing();
        Boxes boxes(c.answer);
        Uninstaller run(in.tree.win("inst"));
        EXPECT_EQ(run.start_procedure(), c.yes);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, c.text);
        EXPECT_EQ(boxes.shown[0].title, "UnVeltrin");
        EXPECT_EQ(boxes.shown[0].icon, platform::Icon::Information);
        EXPECT_EQ(boxes.shown[0].buttons, platform::Buttons::YesNo);
        EXPECT_EQ(in.tree.listing(), before);  // the question touches nothing
    }
}

TEST(UninstallRun, MissingLogDeletesNothing) {
    Installed in;  // no log written
    // Empty names must not reach the current folder, here an empty one.
    in.tree.mkdirs("cwd");
    const auto before = in.tree.listing();
    char old_cwd[4096];
    ASSERT_NE(::getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(::chdir(in.tree.path("cwd").c_str()), 0);
    struct Back {
        const char* dir;
        ~Back() { (void)!::chdir(dir); }
    } back{old_cwd};
    Uninstaller run(in.tree.win("inst"));
    EXPECT_EQ(run.product_title(), "");
    EXPECT_FALSE(run.may_remove_program_folder());
    Boxes boxes;
    FakeView view;
    run.Timer1_Timer(view);
    EXPECT_TRUE(view.lines.empty());
    EXPECT_EQ(in.tree.listing(), before);
    ASSERT_EQ(boxes.shown.size(), 1u);  // the success message all the same
    EXPECT_EQ(view.events.back(), "enable");
}

// The folder the program runs from goes as a whole only when it is the product's own.
// Setup records whether it created the install folder. Only then does the folder go whole; one
// that was there before (a log from before the key says nothing) loses what the log names, the
// recorded folders once empty, and nothing else, and the run names what stayed.
TEST(UninstallRun, FolderThatExistedKeepsWhatTheInstallDidNotPlace) {
    const struct {
        const char* folder_created;
        bool whole;
    } cases[] = {{"1", true}, {"0", false}, {nullptr, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder_created ? c.folder_created : "no key");
        Installed in;
        in.tree.write("inst/Steuer/2024.xlsx", "the user's own");
        in.tree.write("inst/doc/notiz.txt", "the user's own");
        in.tree.mkdirs("inst/leer");
        in.layout.folder_created = c.folder_created;
        in.layout.folders = {in.tree.win("inst/lib"), in.tree.win("inst/doc"),
                             in.tree.win("inst/leer")};
        in.write_log();
        Uninstaller run(in.tree.win("inst"));
        EXPECT_EQ(run.may_remove_program_folder(), c.whole);
        Boxes boxes;
        FakeView view;
        const std::vector<std::string> kept = run.Timer1_Timer(view);
        ASSERT_EQ(boxes.shown.size(), 1u);
        if (c.whole) {
            EXPECT_FALSE(in.tree.exists("inst"));
            EXPECT_TRUE(kept.empty());
            EXPECT_EQ(boxes.shown[0].text, "Uninstallation erfolgreich abgeschlossen.");
            continue;
        }
        EXPECT_EQ(in.tree.listing("inst"), (std::map<std::string, std::string>{
                                               {"Uninstall.exe", "program"},
                                               {"Steuer/", ""},
                                               {"Steuer/2024.xlsx", "the user's own"},
                                               {"doc/", ""},
                                               {"doc/notiz.txt", "the user's own"},
                                               {"created-later.log", "the product wrote this"},
                                           }));
        const std::vector<std::string> expected = {in.tree.win("inst/Steuer"),
                                                   in.tree.win("inst/created-later.log"),
                                                   in.tree.win("inst/doc")};
        EXPECT_EQ(kept, expected);
        EXPECT_EQ(view.lines.back(), "Bleibt (nicht installiert) \"" + in.tree.path("inst/doc"));
        EXPECT_NE(boxes.shown[0].text.find("Der Ordner " + in.tree.path("inst") + " bestand"),
                  std::string::npos)
            << boxes.shown[0].text;
        EXPECT_NE(boxes.shown[0].text.find("bestand schon vor der Installation. Er bleibt mit 3 "
                                           "Einträgen"),
                  std::string::npos)
            << boxes.shown[0].text;
        EXPECT_EQ(run.batch_lines().back(), "REM RD /s /q \"" + in.tree.win("inst") + "\\\"");
    }
}

TEST(UninstallRun, GuardKeepsFoldersThatAreNotTheProducts) {
    Installed in;
    in.write_log();
    EXPECT_TRUE(Uninstaller(in.tree.win("inst")).may_remove_program_folder());
    EXPECT_FALSE(Uninstaller(in.tree.win("menu")).may_remove_program_folder());  // no log
    EXPECT_FALSE(Uninstaller("C:\\").may_remove_program_folder());
    EXPECT_FALSE(Uninstaller("C:").may_remove_program_folder());
    // The log must be there at start: one that appears later does not count.
    Uninstaller late(in.tree.win("fonts"));
    in.tree.write("fonts/Uninstall.ini", test::log_text(in.layout));
    EXPECT_FALSE(late.may_remove_program_folder());
}

struct ScopedHome {
    std::optional<std::string> old;
    explicit ScopedHome(const std::string& home) {
        if (const char* h = std::getenv("HOME")) old = h;
        ::setenv("HOME", home.c_str(), 1);
    }
    ~ScopedHome() {
        if (old) {
            ::setenv("HOME", old->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }
};

TEST(UninstallRun, HomeFolderWithALogLosesOnlyTheRecordedItems) {
    TempTree tree;
    tree.write("home/Uninstall.exe", "program");
    tree.write("home/morvo", "m");
    tree.write("home/letter.txt", "the user's own");
    tree.write("home/Documents/thesis.txt", "the user's own");
    tree.write("home/Desktop/Morvolan.desktop", "[Desktop Entry]\n");
    tree.write("home/Desktop/notes.txt", "the user's own");
    tree.write("home/.local/share/applications/Beispiel/Morvolan.desktop", "[Desktop Entry]\n");
    LogLayout layout;
    layout.files = {tree.win("home/morvo")};
    layout.links = {tree.win("home/Desktop/Morvolan.desktop"),
                    tree.win("home/.local/share/applications/Beispiel/Morvolan.desktop")};
    layout.group = tree.win("home/.local/share/applications/Beispiel");
    tree.write("home/Uninstall.ini", test::log_text(layout));
    ScopedHome home(tree.path("home"));

    Uninstaller run(tree.win("home"));
    EXPECT_FALSE(run.may_remove_program_folder());
    Boxes boxes;
    FakeView view;
    run.Timer1_Timer(view);
    EXPECT_EQ(tree.listing("home"), (std::map<std::string, std::string>{
                                        {"Uninstall.exe", "program"},
                                        {"letter.txt", "the user's own"},
                                        {"Documents/", ""},
                                        {"Documents/thesis.txt", "the user's own"},
                                        {"Desktop/", ""},
                                        {"Desktop/notes.txt", "the user's own"},
                                        {".local/", ""},
                                        {".local/share/", ""},
                                        {".local/share/applications/", ""},
                                    }));
    EXPECT_EQ(view.lines.size(), 3u);
    // Nor does the batch take the folder: its last line is only a remark.
    EXPECT_EQ(run.batch_lines().back(), "REM RD /s /q \"" + tree.win("home") + "\\\"");
}

TEST(UninstallRun, SystemFolderTable) {
    TempTree tree;
    tree.mkdirs("home/Projekte/Beispiel 1.0");
    ScopedHome home(tree.path("home"));
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"C:", true},
        {"C:\\", true},
        {"c:/", true},
        {"\\\\server\\share", true},
        {"\\\\server\\share\\", true},
        {"C:\\usr", true},
        {"C:\\USR\\LOCAL", true},
        {"C:\\usr\\local\\lib", true},
        {"C:\\etc", true},
        {"C:\\var\\lib", true},
        {tree.win("home"), true},
        {tree.win("home") + "\\", true},
        {tree.win(""), true},  // holds the home folder
        {tree.win("home/Desktop"), true},
        {tree.win("home/.local/share/applications"), true},
        {tree.win("home/Projekte"), false},
        {tree.win("home/Projekte/Beispiel 1.0"), false},
        {"C:\\opt\\Beispiel 1.0", false},
    };
    for (const auto& [path, system] : cases)
        EXPECT_EQ(platform::is_system_folder(path), system) << path;
}

TEST(UninstallRun, BatchLinesNameTheProgramFolder) {
    TempTree tree;
    tree.write("Bücher 1.0/Uninstall.ini", test::log_text(LogLayout{}));
    const std::string A = tree.win("Bücher 1.0");
    Uninstaller run(A);
    const std::vector<std::string> expected = {
        "ON ERROR Goto Weiter",
        "Weiter:",
        "del \"" + A + "\\Uninstall.exe\"",
        "On error goto 0",
        "del \"" + A + "\\delete.bat\"",
        "RD /s /q \"" + A + "\\\"",
    };
    EXPECT_EQ(run.batch_lines(), expected);
}

// cmdNext_Click appends to a leftover batch, starts it minimized and ends the program; the
// batch then runs its old lines first and removes the program file, itself and the folder.
TEST(UninstallRun, LeftoverBatchIsExtendedAndItsOldLinesRunFirst) {
    TempTree tree;
    tree.write("Bücher 1.0/Uninstall.ini", test::log_text(LogLayout{}));
    tree.write("Bücher 1.0/Uninstall.exe", "program");
    tree.write("Bücher 1.0/old.txt", "from an earlier run");
    const std::string A = tree.win("Bücher 1.0");
    const std::string old_lines = platform::utf8_to_cp1252("del \"" + A + "\\old.txt\"\r\n");
    tree.write("Bücher 1.0/delete.bat", old_lines);

    Uninstaller run(A);
    std::vector<std::pair<std::string, int>> started;
    run.set_batch_starter([&](std::string_view path, int style) {
        started.emplace_back(std::string(path), style);
        return 1;
    });
    std::vector<int> ended;
    {
        const testsupport::ScopedSeam hook(platform::set_end_program_hook,
                                           [&](int status) { ended.push_back(status); });
        run.cmdNext_Click();
    }

    std::string expected = old_lines;
    for (const auto& l : run.batch_lines()) expected += platform::utf8_to_cp1252(l) + "\r\n";
    EXPECT_EQ(tree.read("Bücher 1.0/delete.bat"), expected);
    EXPECT_NE(expected.find("\xfc"), std::string::npos);  // Windows-1252, not UTF-8
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, A + "\\delete.bat");
    EXPECT_EQ(started[0].second, 2);
    EXPECT_EQ(ended, std::vector<int>{0});

    const auto report = platform::run_batch(A + "\\delete.bat");
    ASSERT_EQ(report.lines.size(), 7u);
    EXPECT_EQ(report.lines[0].text, "del \"" + A + "\\old.txt\"");
    EXPECT_TRUE(report.lines[0].message.empty());
    EXPECT_FALSE(tree.exists("Bücher 1.0"));
    EXPECT_TRUE(tree.exists(""));
}

TEST(UninstallRun, SHDeleteRecord) {
    using L = std::vector<std::string>;
    const std::pair<FileList, std::string> lists[] = {
        {std::string("C:\\x\\Beispiel"), std::string("C:\\x\\Beispiel\0\0", 15)},
        {std::string("C:\\x\\Beispiel\\"), std::string("C:\\x\\Beispiel\0\0", 15)},
        {std::string("C:\\"), std::string("C:\0\0", 4)},
        {std::string(""), std::string("\0\0", 2)},
        {L{"a", "b\\"}, std::string("a\0b\\\0\0", 6)},
        {L{}, std::string("\0", 1)},
    };
    for (const auto& [files, expected] : lists) EXPECT_EQ(shdelete_source_list(files), expected);

    struct Flags {
        bool confirmation, progress, names, undo, errors;
        unsigned expected;
    };
    const Flags flags[] = {
        {false, false, false, false, false, 0x514}, {true, true, true, false, true, 0x0},
        {true, true, true, true, true, 0x40},       {false, true, true, false, true, 0x10},
        {true, false, true, false, true, 0x4},      {true, true, false, false, true, 0x100},
        {true, true, true, false, false, 0x400},
    };
    for (const auto& f : flags) {
        EXPECT_EQ(shdelete_flags(f.confirmation, f.progress, f.names, f.undo, f.errors),
                  f.expected);
    }

    TempTree tree;
    tree.write("x/y/z.txt", "z");
    bool aborted = true;
    EXPECT_TRUE(SHDelete(tree.win("x") + "\\", 0, false, false, false, false, false, &aborted));
    EXPECT_FALSE(aborted);
    EXPECT_FALSE(tree.exists("x"));
    EXPECT_FALSE(SHDelete(tree.win("x"), 0, false, false, false, false, false));  // gone now
}

}  // namespace
}  // namespace uninstall

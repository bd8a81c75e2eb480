// The batch interpreter: what each kind of line does to real folders, what it reports, and that
// a batch deleting itself still runs to its end.
#include "platform/batch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "core_fixture.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace {

using core_test::Tree;

// Replaces every {D} with the tree's Windows path.
std::string expand(std::string text, const std::string& d) {
    for (std::size_t p; (p = text.find("{D}")) != std::string::npos;) text.replace(p, 3, d);
    return text;
}

struct Case {
    const char* name;
    std::vector<std::string> files;  // created before the run ("dir/" makes a folder)
    const char* batch;               // lines, CR LF; {D} = the tree
    std::set<std::string> after;     // what is left in the tree
    std::set<int> unknown;           // lines reported as unknown commands
    std::set<int> complaints;        // known lines with a message
    const char* batch_name = "job.bat";
};

TEST(Batch, LinesTable) {
    const Case cases[] = {
        {"the uninstaller's six lines",
         {"A/Uninstall.exe", "A/sub/", "A/sub/left.txt"},
         "ON ERROR Goto Weiter\r\nWeiter:\r\ndel \"{D}\\A\\Uninstall.exe\"\r\nOn error goto 0\r\n"
         "del \"{D}\\A\\delete.bat\"\r\nRD /s /q \"{D}\\A\\\"\r\n",
         {},
         {1, 2, 4},
         {},
         "A/delete.bat"},
        {"a batch that deletes itself runs on",
         {"x.txt", "y.txt"},
         "del \"{D}\\job.bat\"\r\ndel \"{D}\\x.txt\"\r\n",
         {"y.txt"},
         {},
         {}},
        {"wildcards without regard to case",
         {"data/a.txt", "data/B.TXT", "data/c.dat", "data/sub/d.txt"},
         "del \"{D}\\DATA\\*.txt\"\r\n",
         {"data", "data/c.dat", "data/sub", "data/sub/d.txt", "job.bat"},
         {},
         {}},
        {"del /s goes into subfolders",
         {"data/a.txt", "data/sub/d.txt", "data/sub/e.dat"},
         "del /s /q \"{D}\\data\\*.txt\"\r\n",
         {"data", "data/sub", "data/sub/e.dat", "job.bat"},
         {},
         {}},
        {"a folder name deletes the files in it",
         {"data/a.txt", "data/sub/d.txt"},
         "del /q \"{D}\\data\"\r\n",
         {"data", "data/sub", "data/sub/d.txt", "job.bat"},
         {},
         {}},
        {"missing files are reported and the next line runs",
         {"x.txt"},
         "del \"{D}\\fehlt.txt\"\r\ndel \"{D}\\x.txt\"\r\n",
         {"job.bat"},
         {},
         {1}},
        {"rd without /s removes only an empty folder",
         {"empty/", "full/", "full/f.txt"},
         "rd \"{D}\\empty\"\r\nrmdir \"{D}\\full\"\r\nRD \"{D}\\none\"\r\n",
         {"full", "full/f.txt", "job.bat"},
         {},
         {2, 3}},
        {"rd /s with a trailing backslash",
         {"tree/a/b/c.txt", "tree/d.txt"},
         "rd /s /q \"{D}\\TREE\\\"\r\n",
         {"job.bat"},
         {},
         {}},
        {"remarks, labels, echo and goto",
         {"x.txt", "y.txt", "z.txt"},
         "@echo off\r\nREM del \"{D}\\z.txt\"\r\n:: del \"{D}\\z.txt\"\r\ngoto weiter\r\n"
         "del \"{D}\\x.txt\"\r\n:Weiter\r\n@del \"{D}\\y.txt\"\r\n",
         {"x.txt", "z.txt", "job.bat"},
         {},
         {}},
        {"goto to a missing label ends the batch",
         {"x.txt"},
         "goto nirgends\r\ndel \"{D}\\x.txt\"\r\n",
         {"x.txt", "job.bat"},
         {},
         {1}},
        {"a goto loop is cut off and ends the batch",
         {"y.txt"},
         ":oben\r\nrem nichts\r\ngoto oben\r\ndel \"{D}\\y.txt\"\r\n",
         {"y.txt", "job.bat"},
         {},
         {3}},
        {"lines ended by LF alone, unknown commands in between",
         {"x.txt", "y.txt"},
         "copy a b\ndel \"{D}\\x.txt\"\nfoo\rdel \"{D}\\y.txt\"",
         {"job.bat"},
         {1, 3},
         {}},
        {"paths in Windows-1252",
         {"Grüße/Bücher.txt", "Grüße/keep.txt"},
         "del \"{D}\\Grüße\\Bücher.txt\"\r\n",
         {"Grüße", "Grüße/keep.txt", "job.bat"},
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Tree tree;
        for (const auto& f : c.files) {
            if (f.back() == '/') {
                std::system(("mkdir -p '" + tree.path(f) + "'").c_str());
            } else {
                tree.write(f, "content");
            }
        }
        const std::string d = platform::windows_path(tree.host);
        tree.write(c.batch_name, platform::utf8_to_cp1252(expand(c.batch, d)));
        const std::string batch_win = platform::windows_path(tree.path(c.batch_name));
        const auto report = platform::run_batch(batch_win);
        EXPECT_TRUE(report.file_found);
        EXPECT_EQ(tree.listing(), c.after);
        std::set<int> unknown, complaints;
        for (const auto& l : report.lines) {
            if (l.unknown) unknown.insert(l.number);
            if (!l.unknown && !l.message.empty()) complaints.insert(l.number);
            if (l.unknown) {
                EXPECT_NE(l.message.find("ist entweder falsch geschrieben"), std::string::npos);
            }
        }
        EXPECT_EQ(unknown, c.unknown);
        EXPECT_EQ(complaints, c.complaints);
    }
}

TEST(Batch, ReadOnlyFilesNeedForce) {
    Tree tree;
    tree.write("ro.txt", "r");
    tree.write("ro2.txt", "r");
    ::chmod(tree.path("ro.txt").c_str(), 0444);
    ::chmod(tree.path("ro2.txt").c_str(), 0444);
    const std::string d = platform::windows_path(tree.host);
    tree.write("job.bat", "del \"" + d + "\\ro.txt\"\r\ndel /f \"" + d + "\\ro2.txt\"\r\n");
    const auto report = platform::run_batch(d + "\\job.bat");
    ASSERT_EQ(report.lines.size(), 2u);
    EXPECT_NE(report.lines[0].message.find("Zugriff verweigert"), std::string::npos);
    EXPECT_TRUE(report.lines[1].message.empty());
    EXPECT_EQ(tree.listing(), (std::set<std::string>{"job.bat", "ro.txt"}));
}

// rd /s and del /s never take the home folder or a folder holding it, and never follow a
// link out.
TEST(Batch, RdKeepsSystemFoldersAndDoesNotFollowLinks) {
    Tree tree;
    tree.write("home/letter.txt", "mine");
    tree.write("outside/keep.txt", "keep");
    tree.write("inst/file.txt", "x");
    ASSERT_EQ(::symlink(tree.path("outside").c_str(), tree.path("inst/link").c_str()), 0);
    std::optional<testsupport::ScopedEnv> home(std::in_place, "HOME", tree.path("home"));
    const std::string d = platform::windows_path(tree.host);
    // del /s is held to the same rule: with the pattern or with the bare folder.
    tree.write("job.bat", "rd /s /q \"" + d + "\\home\"\r\nrd /s /q \"" + d + "\"\r\n" +
                              "del /s /q \"" + d + "\\*.txt\"\r\ndel /s /q \"" + d +
                              "\\home\"\r\nrd /s /q \"" + d + "\\inst\"\r\n");
    const auto report = platform::run_batch(d + "\\job.bat");
    home.reset();
    ASSERT_EQ(report.lines.size(), 5u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(report.lines[i].message.find("Zugriff verweigert"), std::string::npos) << i;
    }
    EXPECT_TRUE(report.lines[4].message.empty());
    EXPECT_EQ(tree.listing(), (std::set<std::string>{"home", "home/letter.txt", "job.bat",
                                                     "outside", "outside/keep.txt"}));
}

TEST(Batch, MissingBatchRunsNothing) {
    Tree tree;
    const auto report = platform::run_batch(platform::windows_path(tree.path("none.bat")));
    EXPECT_FALSE(report.file_found);
    EXPECT_TRUE(report.lines.empty());
}

TEST(Batch, OrdinaryProcessIsNoBatchChild) {
    EXPECT_EQ(platform::batch_child_main(), -1);
}

}  // namespace

// SHFileOperationA's delete and DeleteFileA on real folders: what goes, what stays, and the
// result codes.
#include "platform/shell_file_op.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>

#include "core_fixture.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

using core_test::Tree;

std::string list_of(const std::vector<std::string>& paths) {
    std::string s;
    for (const auto& p : paths) s += p + '\0';
    return s + '\0';
}

using testsupport::ScopedEnv;

TEST(ShellFileOp, DeleteTable) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::string> from;  // relative names; "" = the tree itself
        int result;
        std::set<std::string> after;
    };
    const Case cases[] = {
        {"a folder with everything in it",
         {"inst/a", "inst/sub/b", "keep/c"},
         {"inst"},
         0,
         {"keep", "keep/c"}},
        {"a trailing backslash names the same folder", {"inst/a"}, {"inst\\"}, 0, {}},
        {"several paths, one of them missing",
         {"a", "b", "c"},
         {"a", "fehlt", "c"},
         platform::ERROR_FILE_NOT_FOUND,
         {"b"}},
        {"a wildcard without regard to case",
         {"logs/x.LOG", "logs/y.log", "logs/z.txt"},
         {"logs\\*.log"},
         0,
         {"logs", "logs/z.txt"}},
        {"a name in other case", {"Inst/A.txt"}, {"INST\\a.TXT"}, 0, {"Inst"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Tree tree;
        for (const auto& f : c.files) tree.write(f);
        std::vector<std::string> from;
        for (const auto& f : c.from) from.push_back(tree.win("") + "\\" + f);
        platform::SHFILEOPSTRUCT op;
        op.wFunc = platform::FO_DELETE;
        op.fFlags = 0x514;
        op.pFrom = list_of(from);
        op.fAnyOperationsAborted = true;
        EXPECT_EQ(platform::SHFileOperationA(op), c.result);
        EXPECT_FALSE(op.fAnyOperationsAborted);
        EXPECT_EQ(tree.listing(), c.after);
    }
}

TEST(ShellFileOp, LinksAreRemovedNotFollowed) {
    Tree tree;
    tree.write("inst/a");
    tree.write("outside/keep.txt");
    ASSERT_EQ(::symlink(tree.path("outside").c_str(), tree.path("inst/to-outside").c_str()), 0);
    ASSERT_EQ(::symlink(tree.path("outside/keep.txt").c_str(), tree.path("inst/file-link").c_str()),
              0);
    platform::SHFILEOPSTRUCT op;
    op.wFunc = platform::FO_DELETE;
    op.fFlags = 0x514;
    op.pFrom = list_of({tree.win("inst")});
    EXPECT_EQ(platform::SHFileOperationA(op), 0);
    EXPECT_EQ(tree.listing(), (std::set<std::string>{"outside", "outside/keep.txt"}));
}

// As on Windows, the image of a running program cannot be deleted; its folders stay with it.
TEST(ShellFileOp, RunningProgramStays) {
    Tree tree;
    tree.write("inst/data.txt");
    tree.write("inst/bin/other");
    ASSERT_EQ(std::system(("cp /bin/sleep '" + tree.path("inst/bin/prog") + "'").c_str()), 0);
    const long pid = platform::Shell("\"" + tree.win("inst/bin/prog") + "\" 30", platform::vbHide);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(platform::file_in_use_as_program(tree.win("inst/bin/prog")));
    EXPECT_FALSE(platform::file_in_use_as_program(tree.win("inst/bin/other")));
    EXPECT_FALSE(platform::DeleteFileA(tree.win("inst/bin/prog")));
    platform::SHFILEOPSTRUCT op;
    op.wFunc = platform::FO_DELETE;
    op.fFlags = 0x514;
    op.pFrom = list_of({tree.win("inst")});
    const int result = platform::SHFileOperationA(op);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_EQ(result, platform::DE_ACCESSDENIEDSRC);
    EXPECT_EQ(tree.listing(), (std::set<std::string>{"inst", "inst/bin", "inst/bin/prog"}));
}

TEST(ShellFileOp, SystemFoldersAreRefusedWhole) {
    Tree tree;
    tree.write("home/letter.txt");
    tree.write("work/file.txt");
    ScopedEnv home("HOME", tree.path("home"));
    // A bare drive name means the drive's current folder: make that the throw-away tree.
    char old_cwd[4096];
    ASSERT_NE(::getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(::chdir(tree.path("work").c_str()), 0);
    for (const std::string& from : {tree.win("home"), tree.win("home") + "\\", std::string("C:")}) {
        SCOPED_TRACE(from);
        platform::SHFILEOPSTRUCT op;
        op.wFunc = platform::FO_DELETE;
        op.fFlags = 0x514;
        op.pFrom = list_of({from});
        EXPECT_EQ(platform::SHFileOperationA(op), platform::DE_INVALIDFILES);
    }
    ASSERT_EQ(::chdir(old_cwd), 0);
    EXPECT_EQ(tree.listing(),
              (std::set<std::string>{"home", "home/letter.txt", "work", "work/file.txt"}));
}

TEST(ShellFileOp, OtherRequests) {
    Tree tree;
    tree.write("a");
    platform::SHFILEOPSTRUCT op;
    op.wFunc = platform::FO_DELETE;
    op.pFrom = std::string("\0\0", 2);
    EXPECT_EQ(platform::SHFileOperationA(op), platform::DE_INVALIDFILES);
    op.wFunc = platform::FO_COPY;
    op.pFrom = list_of({tree.win("a")});
    op.pTo = list_of({tree.win("b")});
    EXPECT_EQ(platform::SHFileOperationA(op), platform::DE_OPCANCELLED);
    EXPECT_EQ(tree.listing(), (std::set<std::string>{"a"}));
}

TEST(ShellFileOp, AllowUndoMovesToTheTrash) {
    Tree tree;
    tree.write("inst/a", "alpha");
    ScopedEnv data("XDG_DATA_HOME", tree.path("data"));
    platform::SHFILEOPSTRUCT op;
    op.wFunc = platform::FO_DELETE;
    op.fFlags = platform::FOF_ALLOWUNDO | platform::FOF_SILENT | platform::FOF_NOCONFIRMATION;
    op.pFrom = list_of({tree.win("inst")});
    ASSERT_EQ(::mkdir(tree.path("data").c_str(), 0755), 0);
    EXPECT_EQ(platform::SHFileOperationA(op), 0);
    const auto after = tree.listing();
    EXPECT_FALSE(after.count("inst"));
    EXPECT_TRUE(after.count("data/Trash/files/inst/a"));
    std::ifstream info(tree.path("data/Trash/info/inst.trashinfo"));
    std::string first, second;
    std::getline(info, first);
    std::getline(info, second);
    EXPECT_EQ(first, "[Trash Info]");
    EXPECT_EQ(second, "Path=" + tree.path("inst"));
}

TEST(ShellFileOp, DeleteFileATable) {
    Tree tree;
    tree.write("plain.txt");
    tree.write("ro.txt");
    tree.write("star/a.txt");
    tree.write("star/b.txt");
    tree.write("folder/x");
    ::chmod(tree.path("ro.txt").c_str(), 0444);
    const std::pair<const char*, bool> cases[] = {
        {"plain.txt", true}, {"PLAIN.TXT", false},  // gone after the first
        {"ro.txt", false},   {"fehlt.txt", false}, {"folder", false}, {"star\\*.txt", false},
    };
    for (const auto& [name, ok] : cases) {
        EXPECT_EQ(platform::DeleteFileA(tree.win("") + "\\" + name), ok) << name;
    }
    EXPECT_EQ(tree.listing(), (std::set<std::string>{"ro.txt", "star", "star/a.txt", "star/b.txt",
                                                     "folder", "folder/x"}));
}

}  // namespace

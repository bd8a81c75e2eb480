// The file toolkit: replace_file's options, exclusive creation and the link-safe removal.
#include "platform/file_toolkit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>

#include "core_fixture.h"

namespace {

using core_test::slurp;
using core_test::spit;
using core_test::TempDir;
using platform::Durability;
using platform::ReplaceOptions;

using core_test::mode_of;

TEST(FileToolkit, EveryDurabilityReplacesWholeAndLeavesNoTemporaryFile) {
    const struct {
        Durability durability;
        bool existed;
    } cases[] = {{Durability::none, false},
                 {Durability::none, true},
                 {Durability::file, false},
                 {Durability::file, true},
                 {Durability::file_and_folder, false},
                 {Durability::file_and_folder, true}};
    for (const auto& c : cases) {
        TempDir dir;
        if (c.existed) spit(dir.file("t.ini"), "old contents, longer than the new");
        ReplaceOptions o;
        o.durability = c.durability;
        EXPECT_EQ(platform::replace_file(dir.file("t.ini"), "new", o), 0);
        EXPECT_EQ(slurp(dir.file("t.ini")), "new");
        EXPECT_EQ(platform::list_folder(dir.host), std::vector<std::string>{"t.ini"});
    }
}

TEST(FileToolkit, ExclusiveCreationRefusesAnythingAlreadyNamed) {
    const struct {
        const char* what;
        std::function<void(const TempDir&, const std::string&)> make;
    } cases[] = {
        {"file", [](const TempDir&, const std::string& p) { spit(p, "old"); }},
        {"hidden file", [](const TempDir&, const std::string& p) { spit(p, "old"); }},
        {"folder", [](const TempDir&, const std::string& p) { ::mkdir(p.c_str(), 0777); }},
        {"link",
         [](const TempDir& d, const std::string& p) {
             spit(d.file("elsewhere"), "old");
             ASSERT_EQ(::symlink(d.file("elsewhere").c_str(), p.c_str()), 0);
         }},
        {"dangling link",
         [](const TempDir& d, const std::string& p) {
             ASSERT_EQ(::symlink(d.file("nowhere").c_str(), p.c_str()), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string name = std::string(c.what) == "hidden file" ? ".target" : "target";
        c.make(dir, dir.file(name));
        const auto before = platform::list_folder(dir.host);
        ReplaceOptions o;
        o.exclusive = true;
        EXPECT_EQ(platform::replace_file(dir.file(name), "new", o), EEXIST);
        EXPECT_EQ(platform::list_folder(dir.host), before);
        EXPECT_NE(slurp(dir.file(name)), "new");
    }
    TempDir dir;
    ReplaceOptions o;
    o.exclusive = true;
    EXPECT_EQ(platform::replace_file(dir.file("fresh"), "new", o), 0);
    EXPECT_EQ(slurp(dir.file("fresh")), "new");
}

TEST(FileToolkit, RemovalNeverFollowsLinks) {
    TempDir outside, dir;
    spit(outside.file("keep.txt"), "keep");
    const std::string tree = dir.file("tree");
    ASSERT_EQ(::mkdir(tree.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((tree + "/sub").c_str(), 0777), 0);
    spit(tree + "/sub/a.txt", "a");
    const struct {
        const char* link;
        std::string to;
    } links[] = {{"/folder-link", outside.host},
                 {"/sub/file-link", outside.file("keep.txt")},
                 {"/sub/dangling", outside.file("gone")}};
    for (const auto& l : links) ASSERT_EQ(::symlink(l.to.c_str(), (tree + l.link).c_str()), 0);

    EXPECT_TRUE(platform::remove_tree(tree));
    EXPECT_TRUE(platform::list_folder(dir.host).empty());
    EXPECT_EQ(slurp(outside.file("keep.txt")), "keep");
    // A link given as the root goes itself; what it points at stays.
    ASSERT_EQ(::symlink(outside.host.c_str(), dir.file("root-link").c_str()), 0);
    EXPECT_TRUE(platform::remove_tree(dir.file("root-link")));
    EXPECT_EQ(slurp(outside.file("keep.txt")), "keep");
    // A kept entry stays with the folders above it, and the removal says so.
    ASSERT_EQ(::mkdir(tree.c_str(), 0777), 0);
    spit(tree + "/busy", "b");
    spit(tree + "/free", "f");
    const ino_t busy = core_test::inode_of(tree + "/busy");
    EXPECT_FALSE(platform::remove_tree(
        tree, [busy](const struct stat& st) { return S_ISREG(st.st_mode) && st.st_ino == busy; }));
    EXPECT_EQ(platform::list_folder(tree), std::vector<std::string>{"busy"});
}

TEST(FileToolkit, KeepsOwnerAndModeOnlyWhenAsked) {
    const mode_t umask_now = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    const struct {
        bool keep;
        std::optional<mode_t> exact;
        mode_t expected;
    } cases[] = {{true, std::nullopt, 0640},
                 {true, 0600, 0640},
                 {false, std::nullopt, mode_t(0666 & ~umask_now)},
                 {false, 0751, 0751}};
    // As root the owner can be set, so a kept owner is seen to be kept.
    const bool root = ::geteuid() == 0;
    for (const auto& c : cases) {
        TempDir dir;
        spit(dir.file("t"), "old");
        ::chmod(dir.file("t").c_str(), 0640);
        if (root) {
            ASSERT_EQ(::chown(dir.file("t").c_str(), 4242, 4243), 0);
        }
        struct stat before {};
        ::stat(dir.file("t").c_str(), &before);
        ReplaceOptions o;
        o.keep_owner_and_mode = c.keep;
        o.exact_mode = c.exact;
        EXPECT_EQ(platform::replace_file(dir.file("t"), "new", o), 0);
        EXPECT_EQ(mode_of(dir.file("t")), c.expected) << c.keep;
        struct stat after {};
        ::stat(dir.file("t").c_str(), &after);
        EXPECT_EQ(after.st_uid, c.keep || !root ? before.st_uid : ::geteuid());
        EXPECT_EQ(after.st_gid, c.keep || !root ? before.st_gid : ::getegid());
    }
    // Through a link: the linked file is replaced with its mode, the link stays a link.
    TempDir dir;
    spit(dir.file("real"), "old");
    ::chmod(dir.file("real").c_str(), 0604);
    ASSERT_EQ(::symlink("real", dir.file("link").c_str()), 0);
    ReplaceOptions o;
    o.keep_owner_and_mode = true;
    o.through_links = true;
    EXPECT_EQ(platform::replace_file(dir.file("link"), "new", o), 0);
    EXPECT_EQ(slurp(dir.file("real")), "new");
    EXPECT_EQ(mode_of(dir.file("real")), 0604u);
    struct stat st {};
    EXPECT_EQ(::lstat(dir.file("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace

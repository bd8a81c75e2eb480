// File statements on Windows paths: directory search, copy, delete, folders, attributes, and
// the error numbers of failing statements.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core_fixture.h"
#include "platform/error.h"
#include "testsupport/testsupport.h"

namespace {

using core_test::slurp;
using core_test::spit;
using core_test::TempDir;

using testsupport::error_of;

using core_test::mode_of;

class Files : public ::testing::Test {
  protected:
    TempDir dir;
    void SetUp() override {
        for (const char* f :
             {"Setup.dat", "data01.cab", "data02.CAB", "readme", ".hidden", "Sub/inner.txt"}) {
            if (std::string(f).find('/') != std::string::npos)
                ::mkdir(dir.file("Sub").c_str(), 0755);
            spit(dir.file(f), f);
        }
        ::mkdir(dir.file("Empty").c_str(), 0755);
    }
    std::vector<std::string> all(const std::string& pattern, int attributes) {
        std::vector<std::string> out;
        for (std::string n = platform::Dir(pattern, attributes); !n.empty(); n = platform::Dir()) {
            out.push_back(n);
        }
        return out;
    }
};

TEST_F(Files, DirFindsByNameAndAttributes) {
    using V = std::vector<std::string>;
    struct Case {
        std::string pattern;
        int attributes;
        V want;
    } cases[] = {
        {dir.win("*.cab"), platform::vbNormal, V{"data01.cab", "data02.CAB"}},
        {dir.win("DATA0?.cab"), platform::vbNormal, V{"data01.cab", "data02.CAB"}},
        {dir.win("setup.DAT"), platform::vbNormal, V{"Setup.dat"}},
        {dir.win("readme.*"), platform::vbNormal, V{"readme"}},
        {dir.win("*.*"), platform::vbNormal, V{"data01.cab", "data02.CAB", "readme", "Setup.dat"}},
        {dir.win("*.*"), platform::vbHidden,
         V{".hidden", "data01.cab", "data02.CAB", "readme", "Setup.dat"}},
        {dir.win("Sub"), platform::vbNormal, V{}},
        {dir.win("Sub"), platform::vbDirectory, V{"Sub"}},
        {dir.win("s*"), platform::vbDirectory, V{"Setup.dat", "Sub"}},
        {dir.win("Empty\\"), platform::vbDirectory, V{".", ".."}},
        {dir.win("Empty\\"), platform::vbNormal, V{}},
        {dir.win("sub\\"), platform::vbNormal, V{"inner.txt"}},
        {dir.win(".hidden"), platform::vbNormal, V{}},
        {dir.win(".hidden"), platform::vbHidden, V{".hidden"}},
        {dir.win("missing\\*.*"), platform::vbDirectory, V{}},
        {dir.win("missing.txt"), platform::vbNormal, V{}},
        {"C:\\", platform::vbDirectory, V{}},  // checked below: a root has no "." entry
    };
    for (const auto& c : cases) {
        if (c.pattern == "C:\\") {
            const std::string first = platform::Dir(c.pattern, c.attributes);
            EXPECT_FALSE(first.empty());
            EXPECT_NE(first, ".");
            continue;
        }
        EXPECT_EQ(all(c.pattern, c.attributes), c.want) << c.pattern << " " << c.attributes;
    }
    EXPECT_EQ(error_of([] { platform::Dir("Q:\\x\\*.*"); }), platform::kErrDeviceUnavailable);
    EXPECT_EQ(error_of([] { platform::Dir("\\\\nosrv\\noshare\\"); }), platform::kErrBadFileName);
}

TEST_F(Files, CopyKeepsTheRunBitAndFailsLikeFileCopy) {
    spit(dir.file("tool"), "#!/bin/sh\n");
    ::chmod(dir.file("tool").c_str(), 0755);
    platform::FileCopy(dir.win("tool"), dir.win("Sub\\tool2"));
    EXPECT_EQ(slurp(dir.file("Sub/tool2")), "#!/bin/sh\n");
    EXPECT_EQ(mode_of(dir.file("Sub/tool2")), 0755u);
    platform::FileCopy(dir.win("readme"), dir.win("Sub\\tool2"));  // replaces
    EXPECT_EQ(slurp(dir.file("Sub/tool2")), "readme");
    platform::FileCopy(dir.win("SETUP.DAT"), dir.win("sub\\Copy.dat"));  // lookup by case
    EXPECT_EQ(slurp(dir.file("Sub/Copy.dat")), "Setup.dat");

    spit(dir.file("ro"), "ro");
    ::chmod(dir.file("ro").c_str(), 0444);
    platform::FileCopy(dir.win("ro"), dir.win("ro-copy"));  // the read-only attribute travels
    EXPECT_EQ(mode_of(dir.file("ro-copy")), 0444u);

    struct Case {
        std::string from, to;
        long error;
    } cases[] = {
        {dir.win("missing"), dir.win("x"), platform::kErrFileNotFound},
        {dir.win("Sub"), dir.win("x"), platform::kErrFileNotFound},
        {dir.win("readme"), dir.win("nofolder\\x"), platform::kErrPathNotFound},
        {dir.win("readme"), dir.win("ro"), platform::kErrPathFileAccess},
        {dir.win("readme"), dir.win("Sub"), platform::kErrPathFileAccess},
        {dir.win("readme"), dir.win("README"), platform::kErrPathFileAccess},  // itself
        {dir.win("readme"), "Q:\\x", platform::kErrPathNotFound},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of([&] { platform::FileCopy(c.from, c.to); }), c.error)
            << c.from << " -> " << c.to;
        try {  // the error names the file it is about
            platform::FileCopy(c.from, c.to);
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.path, c.error == platform::kErrFileNotFound ? c.from : c.to);
        }
    }
    EXPECT_EQ(slurp(dir.file("ro")), "ro");
    EXPECT_EQ(slurp(dir.file("readme")), "readme");
}

TEST_F(Files, KillDeletesMatchesOnly) {
    platform::Kill(dir.win("*.CAB"));
    EXPECT_FALSE(platform::file_exists(dir.win("data01.cab")));
    EXPECT_FALSE(platform::file_exists(dir.win("data02.CAB")));
    EXPECT_TRUE(platform::file_exists(dir.win("Setup.dat")));
    platform::Kill(dir.win("SETUP.dat"));
    EXPECT_FALSE(platform::file_exists(dir.win("Setup.dat")));
    spit(dir.file("ro"), "x");
    ::chmod(dir.file("ro").c_str(), 0444);
    struct Case {
        std::string pattern;
        long error;
    } cases[] = {
        {dir.win("*.cab"), platform::kErrFileNotFound},
        {dir.win("Sub"), platform::kErrFileNotFound},  // folders are not deleted
        {dir.win("ro"), platform::kErrPathFileAccess},
        {dir.win("nofolder\\*.*"), platform::kErrPathNotFound},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of([&] { platform::Kill(c.pattern); }), c.error) << c.pattern;
    }
    EXPECT_TRUE(platform::file_exists(dir.win("ro")));
    EXPECT_TRUE(platform::folder_exists(dir.win("Sub")));
    platform::Kill(dir.win("Sub\\*.*"));
    platform::RmDir(dir.win("Sub"));
    EXPECT_FALSE(platform::path_exists(dir.win("Sub")));
}

TEST_F(Files, Folders) {
    platform::MkDir(dir.win("neu"));
    EXPECT_TRUE(platform::PathIsDirectoryA(dir.win("neu")));
    EXPECT_TRUE(platform::MakeSureDirectoryPathExists(dir.win("a\\b\\c\\")));
    EXPECT_TRUE(platform::folder_exists(dir.win("a\\b\\c")));
    EXPECT_TRUE(platform::MakeSureDirectoryPathExists(dir.win("x\\y\\file.txt")));
    EXPECT_TRUE(platform::folder_exists(dir.win("x\\y")));
    EXPECT_FALSE(platform::path_exists(dir.win("x\\y\\file.txt")));
    EXPECT_TRUE(platform::MakeSureDirectoryPathExists(dir.win("A\\B\\")));  // existing, any case
    EXPECT_FALSE(platform::MakeSureDirectoryPathExists(dir.win("readme\\sub\\")));
    struct Case {
        const char* what;
        std::function<void()> statement;
        long error;
    } cases[] = {
        {"MkDir existing", [&] { platform::MkDir(dir.win("neu")); }, platform::kErrPathFileAccess},
        {"MkDir two levels", [&] { platform::MkDir(dir.win("p\\q")); }, platform::kErrPathNotFound},
        {"RmDir not empty", [&] { platform::RmDir(dir.win("a")); }, platform::kErrPathFileAccess},
        {"RmDir missing", [&] { platform::RmDir(dir.win("gone")); }, platform::kErrPathNotFound},
        {"RmDir of a file", [&] { platform::RmDir(dir.win("readme")); },
         platform::kErrPathNotFound},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.statement), c.error) << c.what;
    platform::RmDir(dir.win("EMPTY"));
    EXPECT_FALSE(platform::path_exists(dir.win("Empty")));
}

TEST_F(Files, Attributes) {
    EXPECT_EQ(platform::GetAttr(dir.win("readme")), platform::vbArchive);
    EXPECT_EQ(platform::GetAttr(dir.win("Sub")), platform::vbDirectory);
    EXPECT_EQ(platform::GetAttr(dir.win(".hidden")), platform::vbArchive | platform::vbHidden);
    platform::SetAttr(dir.win("readme"), platform::vbReadOnly | platform::vbArchive);
    EXPECT_EQ(platform::GetAttr(dir.win("readme")) & platform::vbReadOnly, platform::vbReadOnly);
    EXPECT_EQ(mode_of(dir.file("readme")) & 0222, 0u);
    // Clearing the bit as SchreibschutzEntfernen does: the value read, without bit 1.
    platform::SetAttr(dir.win("readme"), platform::GetAttr(dir.win("readme")) & ~1);
    EXPECT_EQ(platform::GetAttr(dir.win("readme")), platform::vbArchive);
    EXPECT_NE(mode_of(dir.file("readme")) & S_IWUSR, 0u);
    EXPECT_EQ(platform::FileLen(dir.win("readme")), 6);
    EXPECT_EQ(error_of([&] { platform::GetAttr(dir.win("missing")); }), platform::kErrFileNotFound);
    EXPECT_EQ(error_of([&] { platform::SetAttr(dir.win("missing"), 0); }),
              platform::kErrFileNotFound);
    EXPECT_EQ(error_of([&] { platform::FileLen(dir.win("missing")); }), platform::kErrFileNotFound);
}

TEST_F(Files, WholeFiles) {
    platform::write_file(dir.win("out.txt"), "eins\r\n");
    platform::append_file(dir.win("out.txt"), "zwei\r\n");
    EXPECT_EQ(platform::read_file(dir.win("OUT.TXT")).value_or("?"), "eins\r\nzwei\r\n");
    ::chmod(dir.file("out.txt").c_str(), 0750);
    platform::write_file(dir.win("out.txt"), "neu");
    EXPECT_EQ(slurp(dir.file("out.txt")), "neu");
    EXPECT_EQ(mode_of(dir.file("out.txt")), 0750u);
    platform::append_file(dir.win("new.log"), "x");
    EXPECT_EQ(slurp(dir.file("new.log")), "x");
    EXPECT_FALSE(platform::read_file(dir.win("missing")).has_value());
    EXPECT_FALSE(platform::read_file(dir.win("Sub")).has_value());
    EXPECT_EQ(error_of([&] { platform::write_file(dir.win("no\\x"), "x"); }),
              platform::kErrPathNotFound);
    EXPECT_EQ(error_of([&] { platform::append_file(dir.win("no\\x"), "x"); }),
              platform::kErrPathNotFound);
    ::chmod(dir.file("out.txt").c_str(), 0444);
    EXPECT_EQ(error_of([&] { platform::write_file(dir.win("out.txt"), "x"); }),
              platform::kErrPathFileAccess);
    EXPECT_EQ(slurp(dir.file("out.txt")), "neu");
}

// Whatever holds the name stays as it was, and nothing else is left behind.
TEST_F(Files, NewFilesNeverReplaceAnEntry) {
    std::filesystem::create_directories(dir.file("taken/folder"));
    std::ofstream(dir.file("taken/file")) << "old";
    std::ofstream(dir.file("taken/.hidden")) << "old";
    ::symlink("nowhere", dir.file("taken/dangling").c_str());
    ::symlink("file", dir.file("taken/link").c_str());
    for (const char* name : {"folder", "file", ".hidden", "dangling", "link"}) {
        SCOPED_TRACE(name);
        const std::string win = dir.win(std::string("taken\\") + name);
        EXPECT_TRUE(platform::entry_exists(win));
        EXPECT_EQ(error_of([&] { platform::create_new_file(win, "new"); }),
                  platform::kErrFileExists);
    }
    EXPECT_EQ(slurp(dir.file("taken/file")), "old");
    EXPECT_EQ(slurp(dir.file("taken/.hidden")), "old");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken/folder")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("taken")), {}), 5);
    platform::create_new_file(dir.file("taken/neu"), "new");  // a host path too
    EXPECT_EQ(slurp(dir.file("taken/neu")), "new");
    EXPECT_FALSE(platform::entry_exists(dir.win("taken\\frei")));
    EXPECT_EQ(error_of([&] { platform::create_new_file(dir.win("no\\x"), "x"); }),
              platform::kErrPathNotFound);
}

}  // namespace

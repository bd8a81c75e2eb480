#include "setup/bootstrap.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

// A medium folder and a TEMP folder (with a blank in its name) of the test's own.
class Bootstrap : public ::testing::Test {
  protected:
    void SetUp() override {
        medium_ = root_ / "medium";
        temp_ = root_ / "my temp";
        fs::create_directories(medium_);
        fs::create_directories(temp_);
        platform::set_app_path(platform::windows_path(medium_.string()));
        platform::set_environ_override("TEMP", temp_.string());
    }
    void TearDown() override {
        platform::set_app_path("");
        platform::clear_environ_overrides();
    }
    std::string win(const fs::path& p) { return platform::windows_path(p.string()); }
    testsupport::TempDir dir_{"bs"};
    const fs::path root_ = dir_.host;
    fs::path medium_, temp_;
};

TEST_F(Bootstrap, BlockingMarkChangesOnlyTheFirstByte) {
    const fs::path f = root_ / "prog.exe";
    std::ofstream(f, std::ios::binary) << "MZpayload";
    setup::BlockExe(win(f));
    EXPECT_EQ(slurp(f), "XZpayload");
    setup::UnBlockExe(win(f));
    EXPECT_EQ(slurp(f), "MZpayload");
    // A missing file becomes a one-byte file.
    const fs::path g = root_ / "neu.exe";
    setup::BlockExe(win(g));
    EXPECT_EQ(slurp(g), "X");
    // Failures reach the caller.
    fs::permissions(f, fs::perms::owner_read, fs::perm_options::replace);
    if (::geteuid() != 0) {
        EXPECT_THROW(setup::BlockExe(win(f)), platform::Error);
        EXPECT_EQ(slurp(f), "MZpayload");
    }
    EXPECT_THROW(setup::UnBlockExe(win(root_ / "nix" / "a.exe")), platform::Error);
}

TEST_F(Bootstrap, SchreibschutzEntfernenClearsOnlyTheReadOnlyBit) {
    const fs::path f = root_ / "ro.dat";
    std::ofstream(f) << "x";
    fs::permissions(f, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read,
                    fs::perm_options::replace);
    EXPECT_TRUE(setup::SchreibschutzEntfernen(win(f)));
    const auto p = fs::status(f).permissions();
    EXPECT_NE(p & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(p & fs::perms::owner_exec, fs::perms::none);  // the run bit stays
    EXPECT_FALSE(setup::SchreibschutzEntfernen(win(root_ / "fehlt.dat")));
    EXPECT_FALSE(setup::SchreibschutzEntfernen(""));
}

TEST_F(Bootstrap, StartMessageAndFixedTexts) {
    struct Case {
        const char* raw;
        const char* shown;
    } cases[] = {{"", ""}, {"eins|zwei", "eins\nzwei"}, {"|a||", "\na\n\n"}, {"ohne", "ohne"}};
    for (const auto& c : cases) EXPECT_EQ(setup::start_message_text(c.raw), c.shown);
    EXPECT_EQ(setup::error123_text(),
              "Error 123\n\nDie Datei data01.cab konnte nicht gefungen werden,");
    EXPECT_EQ(setup::runtime_failure_text().rfind(
                  "Der Veltrin Setupassistent kann nicht ausgeführt werden, da die "
                  "Laufzeitkomponente nicht installiert sind. ",
                  0),
              0u);
    EXPECT_EQ(setup::package_folder(), win(temp_) + "\\~Veltrin");

    // The box appears only for a non-empty message, with its line breaks.
    std::vector<platform::MsgBoxRequest> boxes;
    platform::ScopedMsgBoxHandler h([&](const platform::MsgBoxRequest& r) {
        boxes.push_back(r);
        return platform::Result::OK;
    });
    fs::create_directories(temp_ / "~Veltrin");
    std::ofstream(temp_ / "~Veltrin" / "Setup.INX") << "[Main]\r\nStartmeldung=\r\n";
    setup::show_start_message();
    EXPECT_TRUE(boxes.empty());
    std::ofstream(temp_ / "~Veltrin" / "Setup.INX") << "[Main]\r\nStartmeldung=Hallo|Welt\r\n";
    setup::show_start_message();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Hallo\nWelt");
    EXPECT_EQ(boxes[0].title, "Programminformation");
    EXPECT_EQ(boxes[0].icon, platform::Icon::Information);
    EXPECT_EQ(boxes[0].buttons, platform::Buttons::OK);
}

TEST_F(Bootstrap, MediumCheck) {
    EXPECT_FALSE(setup::medium_has_resources());
    std::ofstream(medium_ / "data01.cab") << "MSCF";
    EXPECT_TRUE(setup::medium_has_resources());
}

// Setup.dat is a program container whose payload records how it was started and whether its
// own file was unblocked at that moment.
TEST_F(Bootstrap, UnpackRunsTheUnblockedCopyWithTheDocumentedCommandLine) {
    const fs::path record = root_ / "record.txt";
    std::ofstream(medium_ / "data01.cab") << "MSCF";
    {
        std::ofstream s(medium_ / "Setup.dat", std::ios::binary);
        s << "MZ#!/bin/sh\n"
          << "head -c 1 \"" << (temp_ / "~Veltrin" / "_setup.exe").string() << "\" > \""
          << record.string() << "\"\necho >> \"" << record.string() << "\"\n"
          << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"" << record.string() << "\"\n";
    }
    // As on a CD: the source is read-only, and its copy must become writable.
    fs::permissions(medium_ / "Setup.dat", fs::perms::owner_read | fs::perms::owner_exec,
                    fs::perm_options::replace);
    const std::string X = setup::unpack_resources();
    EXPECT_EQ(X, win(temp_) + "\\~Veltrin\\_setup.exe");
    ASSERT_TRUE(fs::exists(record)) << "the extractor copy did not run";
    // The temporary folder arrives unquoted, so its blank splits the arguments.
    const std::string t = win(temp_);
    const std::string space = t.substr(t.rfind(' ') + 1);
    const std::string expected = "M\n" + win(medium_) + "\\data01.cab\n" +
                                 t.substr(0, t.rfind(' ')) + "\n" + space +
                                 "\\~Veltrin\\*.*\n-d\n-i\n";
    EXPECT_EQ(slurp(record), expected);
    setup::block_after_unpack(X);
    EXPECT_EQ(slurp(temp_ / "~Veltrin" / "_setup.exe")[0], 'X');
}

TEST_F(Bootstrap, UnpackGoesOnPastEveryFailure) {
    // No Setup.dat, no data01.cab: nothing can run, but the steps end quietly.
    std::string X;
    EXPECT_NO_THROW(X = setup::unpack_resources());
    EXPECT_TRUE(fs::is_directory(temp_ / "~Veltrin"));
    EXPECT_EQ(slurp(temp_ / "~Veltrin" / "_setup.exe"), "M");  // UnBlockExe created it
    // An unwritable TEMP: even the folder fails, and still nothing is thrown.
    fs::remove_all(temp_ / "~Veltrin");
    fs::permissions(temp_, fs::perms::owner_read | fs::perms::owner_exec,
                    fs::perm_options::replace);
    if (::geteuid() != 0) {
        EXPECT_NO_THROW(X = setup::unpack_resources());
        EXPECT_NO_THROW(setup::block_after_unpack(X));
        EXPECT_FALSE(fs::exists(temp_ / "~Veltrin"));
    }
}

}  // namespace

// The finish page without its window: the options offered and the order of what its button does.
#include "setup/finish_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/restart.h"
#include "testsupport/testsupport.h"

namespace setup {
namespace {

namespace fs = std::filesystem;

class FinishPage : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(base / "~Veltrin");
        platform::set_environ_override("TEMP", platform::windows_path(base.string()));
        log = base / "log.txt";
        old = platform::set_restart_hooks({[] { return true; },
                                           [this](unsigned long flags) {
                                               append("restart " + std::to_string(flags));
                                               return true;
                                           },
                                           nullptr});
    }
    void TearDown() override {
        platform::set_restart_hooks(old);
        platform::clear_environ_overrides();
    }

    void script(const std::string& body) {
        std::string crlf;
        for (char c : body) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        testsupport::spit(base / "~Veltrin" / "Setup.INX", crlf);
    }

    // A program that appends its name and arguments to the log.
    std::string program(const std::string& name) {
        fs::path p = base / name;
        std::ofstream(p) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << log.string() << "'\n";
        chmod(p.c_str(), 0755);
        return platform::windows_path(p.string());
    }

    void append(const std::string& line) { std::ofstream(log, std::ios::app) << line << "\n"; }

    std::string wait_for_lines(size_t n) {
        for (int i = 0; i < 100; ++i) {
            std::string text = testsupport::slurp(log);
            if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= n) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return testsupport::slurp(log);
    }

    testsupport::TempDir dir{"finish"};
    const fs::path base = dir.host;
    fs::path log;
    platform::RestartHooks old;
};

// A program that was not installed is not offered: the next one takes its place.
TEST_F(FinishPage, RestartAndTwoOfThreeOfferedPrograms) {
    const std::string missing = platform::windows_path((base / "fehlt").string());
    script(
        "[Main]\nReboot=1\n[RunApps]\nAnzApps=4\n"
        "when1=nach Installation (Abfrage)\nFilename1=" +
        missing + "\nMessage1=Fehlt\nwhen2=nach Installation (Abfrage)\nFilename2=" + program("a") +
        "\nMessage2=Eins\nwhen3=nach Installation (Abfrage)\nFilename3=" + program("b") +
        "\nMessage3=Zwei\nwhen4=nach Installation (Abfrage)\nFilename4=" + program("c") +
        "\nMessage4=Drei\n");
    FinishOptions o = prepare_finish_options();
    EXPECT_TRUE(o[0].visible && o[0].checked);
    EXPECT_EQ(o[0].Tag, "reboot");
    EXPECT_EQ(o[0].label, "Computer neustarten");
    EXPECT_EQ(o[1].Tag, program("a"));
    EXPECT_EQ(o[1].label, "Eins");
    EXPECT_FALSE(o[1].checked);
    EXPECT_EQ(o[2].Tag, program("b"));
}

TEST_F(FinishPage, NothingOfferedWithoutRebootOrApps) {
    for (const char* body :
         {"[Main]\nProduktName=X\n", "[RunApps]\nAnzApps=0\nwhen1=nach Installation (Abfrage)\n",
          "[RunApps]\nAnzApps=zwei\nwhen1=nach Installation (Abfrage)\n",
          "[RunApps]\nAnzApps=1\nwhen1=nach installation (abfrage)\n"}) {
        script(body);
        for (const auto& opt : prepare_finish_options()) EXPECT_FALSE(opt.visible) << body;
    }
}

TEST_F(FinishPage, RestartFirstThenTickedWithoutArgumentsThenSilentWithThem) {
    std::string a = program("a"), b = program("b"), s = program("s");
    script(
        "[Main]\nReboot=1\n[RunApps]\nAnzApps=3\n"
        "when1=nach Installation (Abfrage)\nFilename1=" +
        a +
        "\nArguments1=--nie\n"
        "when2=nach Installation (ohne Aufforderung)\nFilename2=" +
        s +
        "\nArguments2=-x y\n"
        "when3=nach Installation (Abfrage)\nFilename3=" +
        b + "\n");
    std::ofstream(base / "~Veltrin" / "rest.dat") << "x";
    FinishOptions o = prepare_finish_options();
    o[2].checked = false;  // the user unticks the second program
    o[1].checked = true;
    finish_setup(o);
    std::string text = wait_for_lines(3);
    EXPECT_EQ(text.substr(0, text.find('\n')), "restart 2");
    EXPECT_NE(text.find("a \n"), std::string::npos) << text;  // offered: no arguments
    EXPECT_NE(text.find("s -x y\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("b "), std::string::npos) << text;
    // The package folder is emptied, not removed.
    EXPECT_TRUE(fs::exists(base / "~Veltrin"));
    EXPECT_TRUE(fs::is_empty(base / "~Veltrin"));
}

TEST_F(FinishPage, RefusedPrivilegeMeansNoRestart) {
    platform::set_restart_hooks({[] { return false; }, nullptr, nullptr});
    EXPECT_FALSE(RebootSystem(2));
    EXPECT_FALSE(fs::exists(log));
    EXPECT_TRUE(IsWindowsNT());
    // The other line needs no privilege.
    platform::set_restart_hooks({nullptr, nullptr, [] { return 1L; }});
    EXPECT_FALSE(IsWindowsNT());
    EXPECT_TRUE(RebootSystem(2));
    EXPECT_EQ(wait_for_lines(1), "restart 2\n");
}

}  // namespace
}  // namespace setup

// The process helpers of setup: component registration, waiting, short paths, the cancel
// question.
#include "setup/processes.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/environment.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "testsupport/testsupport.h"

namespace {

const auto lib = testsupport::test_component;
const auto loaded = testsupport::is_loaded;

using TempDir = testsupport::TempDir;

TEST(RegisterComponent, RunsTheEntryPointAndUnloads) {
    // Holding our own reference lets us read the library's counters afterwards.
    void* own = ::dlopen(lib("ok").c_str(), RTLD_NOW);
    ASSERT_NE(own, nullptr);
    int* registered = static_cast<int*>(::dlsym(own, "registered"));
    int* unregistered = static_cast<int*>(::dlsym(own, "unregistered"));
    std::string win = platform::windows_path(lib("ok"));
    EXPECT_TRUE(setup::RegisterComponent(win, true));
    EXPECT_TRUE(setup::RegisterComponent(win, false));
    EXPECT_TRUE(setup::RegisterComponent(win, false));
    EXPECT_EQ(*registered, 1);
    EXPECT_EQ(*unregistered, 2);
    ::dlclose(own);
    EXPECT_FALSE(loaded(lib("ok"))) << "RegisterComponent released its reference";
}

TEST(RegisterComponent, ReportedFailureOfTheEntryPointStillCounts) {
    EXPECT_TRUE(setup::RegisterComponent(platform::windows_path(lib("fail")), true));
    EXPECT_FALSE(loaded(lib("fail")));
}

TEST(RegisterComponent, FailsAndLeavesNothingLoaded) {
    TempDir dir;
    std::string text = dir.host + "/not-a-library.dll";
    std::ofstream(text) << "MZ this is no library";
    struct Case {
        std::string host;
        bool flag;
    } cases[] = {
        {lib("none"), true},   // no DllRegisterServer
        {lib("fail"), false},  // no DllUnregisterServer
        {text, true},          // not a library
        {dir.host + "/missing.dll", true},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(setup::RegisterComponent(platform::windows_path(c.host), c.flag)) << c.host;
        EXPECT_FALSE(loaded(c.host)) << c.host;
    }
}

TEST(RegisterComponent, TimeLimitReturnsFalseAndTheThreadGoesOn) {
    void* own = ::dlopen(lib("slow").c_str(), RTLD_NOW);
    ASSERT_NE(own, nullptr);
    auto release = reinterpret_cast<void (*)()>(::dlsym(own, "comp_slow_release"));
    auto running = static_cast<volatile int*>(::dlsym(own, "running"));
    EXPECT_FALSE(setup::RegisterComponent(platform::windows_path(lib("slow")), true, 100));
    EXPECT_EQ(*running, 1) << "the registration thread still runs";
    ::dlclose(own);
    EXPECT_TRUE(loaded(lib("slow"))) << "kept loaded while its thread runs";
    release();
    for (int i = 0; i < 1000 && loaded(lib("slow")); ++i) platform::Sleep(10);
    EXPECT_FALSE(loaded(lib("slow")));
}

TEST(WaitForProcess, EndedOrUnknownProcessTakesOneRound) {
    int rounds = 0;
    const testsupport::ScopedSeam hook(platform::set_do_events_hook, [&] { ++rounds; });
    long pid = platform::Shell("/bin/true", 0);
    platform::Handle h = platform::OpenProcess(platform::SYNCHRONIZE, false, pid);
    platform::WaitForSingleObject(h, platform::INFINITE);
    platform::CloseHandle(h);
    setup::WaitForProcess(pid);
    EXPECT_EQ(rounds, 1);
    rounds = 0;
    setup::WaitForProcess(999999999);
    EXPECT_EQ(rounds, 1);
}

TEST(WaitForProcess, KeepsProcessingEventsUntilTheProcessEnds) {
    TempDir dir;
    std::string script = dir.host + "/s";
    std::ofstream(script) << "#!/bin/sh\nsleep 0.4\ntouch \"$0.done\"\n";
    ::chmod(script.c_str(), 0755);
    int rounds = 0;
    {
        const testsupport::ScopedSeam hook(platform::set_do_events_hook, [&] { ++rounds; });
        long pid = platform::Shell(platform::windows_path(script), 1);
        setup::WaitForProcess(pid);
    }
    EXPECT_GE(rounds, 2);
    EXPECT_EQ(::access((script + ".done").c_str(), F_OK), 0) << "returned before the end";
}

TEST(ShellAndWait, BlocksUntilTheEndAndRaisesWhenNothingStarts) {
    TempDir dir;
    std::string script = dir.host + "/s";
    std::ofstream(script) << "#!/bin/sh\nsleep 0.2\ntouch \"$1\"\n";
    ::chmod(script.c_str(), 0755);
    // The script takes its argument as a host path.
    setup::ShellAndWait(platform::windows_path(script) + " " + dir.host + "/done", 0);
    EXPECT_EQ(::access((dir.host + "/done").c_str(), F_OK), 0);
    EXPECT_THROW(setup::ShellAndWait(platform::windows_path(dir.host + "/missing.exe"), 0),
                 std::exception);
}

TEST(GetShortPath, ExistingUnchangedMissingEmpty) {
    TempDir dir;
    std::string win = platform::windows_path(dir.host);
    EXPECT_EQ(setup::GetShortPath(win), win);
    EXPECT_EQ(setup::GetShortPath(win + "\\no such folder"), "");
    // The 256-character buffer was a Windows limit: a longer existing path comes back whole.
    std::string deep = dir.host;
    while (deep.size() < 300) {
        deep += "/" + std::string(40, 'x');
        ::mkdir(deep.c_str(), 0755);
    }
    EXPECT_EQ(setup::GetShortPath(platform::windows_path(deep)), platform::windows_path(deep));
}

class ConfirmCancelTest : public ::testing::Test {
  protected:
    TempDir temp;
    std::string package = temp.host + "/~Veltrin";
    std::vector<int> ended;
    platform::MsgBoxRequest asked;
    void SetUp() override {
        ::mkdir(package.c_str(), 0755);
        for (auto name : {"Setup.INX", "_setup.exe", "logo.dat"})
            std::ofstream(package + "/" + name) << "x";
        platform::set_environ_override("TEMP", temp.host);
    }
    testsupport::ScopedSeam temp_seam{[] { platform::set_environ_override("TEMP", std::nullopt); }};
    testsupport::ScopedSeam end_hook{platform::set_end_program_hook,
                                     [this](int status) { ended.push_back(status); }};
    platform::ScopedMsgBoxHandler answer(platform::Result r) {
        return platform::ScopedMsgBoxHandler([this, r](const platform::MsgBoxRequest& q) {
            asked = q;
            return r;
        });
    }
};

TEST_F(ConfirmCancelTest, NoGoesOn) {
    auto fake = answer(platform::Result::No);
    setup::ConfirmCancel();
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(::access((package + "/Setup.INX").c_str(), F_OK), 0);
    EXPECT_EQ(asked.title, "Veltrin");
    EXPECT_EQ(asked.icon, platform::Icon::Information);
    EXPECT_EQ(asked.buttons, platform::Buttons::YesNo);
    EXPECT_EQ(asked.text.find("Installation ist nicht vollständig."), 0u);
    EXPECT_NE(asked.text.find("installiert.\n\nSie können"), std::string::npos);
    EXPECT_NE(asked.text.find("beenden.\n\nWenn Sie"), std::string::npos);
}

TEST_F(ConfirmCancelTest, YesRemovesThePackageFolderAndEnds) {
    auto fake = answer(platform::Result::Yes);
    setup::ConfirmCancel();
    EXPECT_EQ(ended, std::vector<int>{0});
    EXPECT_NE(::access(package.c_str(), F_OK), 0);
    EXPECT_EQ(::access(temp.host.c_str(), F_OK), 0) << "TEMP itself stays";
}

TEST_F(ConfirmCancelTest, YesEndsEvenWhenTheFolderCannotGo) {
    std::system(("rm -rf '" + package + "'").c_str());
    auto fake = answer(platform::Result::Yes);
    setup::ConfirmCancel();
    EXPECT_EQ(ended, std::vector<int>{0});
}

}  // namespace

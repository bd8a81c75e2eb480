// Component loading and the registration thread with real shared libraries.
#include "platform/components.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"
#include "platform/process.h"
#include "testsupport/testsupport.h"

namespace {

const auto lib = testsupport::test_component;
const auto loaded = testsupport::is_loaded;

TEST(Components, LoadLookUpAndFree) {
    platform::Module m = platform::LoadLibraryA(platform::windows_path(lib("ok")));
    ASSERT_NE(m, nullptr);
    EXPECT_NE(platform::GetProcAddress(m, "DllRegisterServer"), nullptr);
    EXPECT_EQ(platform::GetProcAddress(m, "DllMissing"), nullptr);
    EXPECT_TRUE(platform::FreeLibrary(m));
    EXPECT_FALSE(loaded(lib("ok")));
    EXPECT_EQ(platform::LoadLibraryA("C:\\no\\such\\library.dll"), nullptr);
    EXPECT_EQ(platform::GetProcAddress(nullptr, "x"), nullptr);
}

TEST(EntryThread, ReportsTheEntryPointsResult) {
    platform::Module m = platform::LoadLibraryA(platform::windows_path(lib("fail")));
    ASSERT_NE(m, nullptr);
    auto entry =
        reinterpret_cast<platform::EntryPoint>(platform::GetProcAddress(m, "DllRegisterServer"));
    auto thread = platform::EntryThread::start(m, entry);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->wait(platform::INFINITE), platform::WAIT_OBJECT_0);
    EXPECT_EQ(thread->exit_code() & 0xFFFFFFFFul, 0x80004005ul);
    thread.reset();
    platform::FreeLibrary(m);
}

TEST(EntryThread, KeepsTheLibraryLoadedUntilItEnds) {
    platform::Module m = platform::LoadLibraryA(platform::windows_path(lib("slow")));
    ASSERT_NE(m, nullptr);
    auto entry =
        reinterpret_cast<platform::EntryPoint>(platform::GetProcAddress(m, "DllRegisterServer"));
    auto release = reinterpret_cast<void (*)()>(platform::GetProcAddress(m, "comp_slow_release"));
    ASSERT_NE(release, nullptr);
    auto thread = platform::EntryThread::start(m, entry);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->wait(50), platform::WAIT_TIMEOUT);
    EXPECT_EQ(thread->exit_code(), platform::STILL_ACTIVE);
    thread.reset();
    platform::FreeLibrary(m);
    EXPECT_TRUE(loaded(lib("slow"))) << "unloaded under a running thread";
    release();
    for (int i = 0; i < 1000 && loaded(lib("slow")); ++i) platform::Sleep(10);
    EXPECT_FALSE(loaded(lib("slow"))) << "the ended thread let the library go";
}

}  // namespace

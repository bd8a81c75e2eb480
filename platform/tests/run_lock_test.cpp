// Locks between runs: one holder per key whatever the spelling of the path, the holder named,
// and the lock gone with its process however that ends.
#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "testsupport/testsupport.h"

namespace platform {
namespace {

TEST(RunLock, OneHolderPerKeyNamedToTheOthersAndFreedWhenItsProcessDies) {
    testsupport::TempDir dir;
    const std::string real = dir.path() + "/ablage";
    std::filesystem::create_directories(real);
    std::filesystem::create_directory_symlink(real, dir.path() + "/link");
    // Every spelling of one folder gives one key; another folder another one.
    const std::string key = "test " + file_identity(real);
    EXPECT_EQ(file_identity(dir.path() + "/link/"), file_identity(real));
    EXPECT_EQ(file_identity(dir.path() + "/link/../ablage"), file_identity(real));
    EXPECT_NE(file_identity(dir.path()), file_identity(real));
    EXPECT_EQ(file_identity(dir.path() + "/missing"), "");

    {
        LockAttempt first = try_run_lock(key);
        ASSERT_TRUE(first.taken) << first.error;
        LockAttempt second = try_run_lock("test " + file_identity(dir.path() + "/link"));
        EXPECT_FALSE(second.taken);
        ASSERT_TRUE(second.holder);
        EXPECT_EQ(second.holder->pid, static_cast<long>(::getpid()));
        EXPECT_EQ(second.holder->since.size(), 19u) << second.holder->since;  // dd.mm.yyyy hh:mm:ss
        EXPECT_TRUE(try_run_lock(key + " other").taken);
    }
    EXPECT_TRUE(try_run_lock(key).taken);  // released with its holder

    // A process killed while it holds the lock leaves its file but not the lock.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        LockAttempt mine = try_run_lock(key);
        char c = mine.taken ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    LockAttempt refused = try_run_lock(key);
    EXPECT_FALSE(refused.taken);
    ASSERT_TRUE(refused.holder);
    EXPECT_EQ(refused.holder->pid, static_cast<long>(child));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(try_run_lock(key).taken);
    ::close(ready[0]);
    ::close(ready[1]);
}

}  // namespace
}  // namespace platform

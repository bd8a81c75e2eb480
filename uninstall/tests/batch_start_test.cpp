// start_batch: the batch runs in its own process, and only once the process that started it
// has ended (the uninstaller's program file must be free by then).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "fixture.h"
#include "platform/batch.h"

namespace uninstall {
namespace {

TEST(BatchStart, RunsOnlyAfterTheStartingProcessHasEnded) {
    test::TempTree tree;
    tree.write("A/marker", "m");
    tree.write("A/job.bat", "del \"" + tree.win("A/marker") + "\"\r\n");
    const pid_t starter = ::fork();
    ASSERT_GE(starter, 0);
    if (starter == 0) {
        // The starting process: it lives on for a while after starting the batch.
        const int pid = platform::start_batch(tree.win("A/job.bat"), 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::ofstream(tree.path("seen")) << (tree.exists("A/marker") ? "kept" : "deleted");
        ::_exit(pid > 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(starter, &status, 0), starter);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(tree.read("seen"), "kept");  // nothing ran while the starter lived
    for (int i = 0; i < 100 && tree.exists("A/marker"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(tree.exists("A/marker"));
}

TEST(BatchStart, MissingBatchStartsNothing) {
    test::TempTree tree;
    EXPECT_EQ(platform::start_batch(tree.win("none.bat"), 2), 0);
}

}  // namespace
}  // namespace uninstall

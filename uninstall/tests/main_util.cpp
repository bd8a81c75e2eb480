// The test program is also the batch interpreter's process when a test starts a batch, as the
// uninstaller is in real runs.
#include <gtest/gtest.h>

#include "platform/batch.h"

int main(int argc, char** argv) {
    if (const int status = platform::batch_child_main(); status >= 0) return status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

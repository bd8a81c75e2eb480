/* Runs until the test releases it (or 30 s pass), to outlast any registration time limit. */
#include <time.h>

static volatile int released = 0;
volatile int running = 0;

void comp_slow_release(void) {
    released = 1;
}

long DllRegisterServer(void) {
    struct timespec pause = {0, 10 * 1000 * 1000};
    running = 1;
    for (int i = 0; i < 3000 && !__atomic_load_n(&released, __ATOMIC_SEQ_CST); ++i)
        nanosleep(&pause, 0);
    running = 0;
    return 0;
}

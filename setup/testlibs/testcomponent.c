/* Registration entry points that leave a trace the tests can read. */
#include <stdio.h>
#include <stdlib.h>

static long note(const char* what) {
    const char* file = getenv("VELTRIN_TEST_COMPONENT_LOG");
    if (!file) return 1;
    FILE* f = fopen(file, "a");
    if (!f) return 1;
    fprintf(f, "%s\n", what);
    fclose(f);
    return 0;
}

long DllRegisterServer(void) {
    return note("register");
}
long DllUnregisterServer(void) {
    return note("unregister");
}

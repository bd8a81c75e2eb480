/* Registers and unregisters by counting; the test reads the counters. */
int registered = 0;
int unregistered = 0;

long DllRegisterServer(void) {
    ++registered;
    return 0;
}

long DllUnregisterServer(void) {
    ++unregistered;
    return 0;
}

/* A library without registration entry points. */
long NotARegistrationEntry(void) {
    return 0;
}

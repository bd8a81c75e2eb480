/* Reports a registration failure (E_FAIL) after running to its end. */
int ran = 0;

long DllRegisterServer(void) {
    ran = 1;
    return (long)0x80004005L;
}

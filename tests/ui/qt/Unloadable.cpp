// A library that nothing links with, for tests that load and unload one.
extern "C" int orvelUnloadable() {
    return 7;
}

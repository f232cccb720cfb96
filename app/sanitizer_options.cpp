// Sanitizer settings of the widget tests. The web engine behind the help page
// and the publish preview keeps memory until the process ends where
// LeakSanitizer cannot see it released, as do font configuration and device
// monitoring, and it frees some of its own objects with a mismatched size.
// None of that is ours to report; our own code is still checked in full by
// every other test program.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n"
           "leak:libudev.so\n";
}
#endif

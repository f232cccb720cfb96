// Sanitizer settings of the processes that host the web engine: the program
// and the widget tests. The web engine behind the help page and the publish
// preview frees some of its own objects with a mismatched size, inside its
// own code and whenever a page closes (so at every exit of the program), and
// it keeps memory until the process ends where LeakSanitizer cannot see it
// released, as do font configuration and device monitoring. None of that is
// ours to report. The size check cannot be scoped to one library, so it is
// off in these two processes only; the engine, the helpers, the plug-ins and
// the command-line front end keep it, and every leak of our own still counts.
// Compiled into nothing without AddressSanitizer.
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

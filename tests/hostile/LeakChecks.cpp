// This binary runs with leak detection on (see tests/CMakeLists.txt), so
// that the long runs prove nothing leaks. Nothing needs suppressing with
// Debian 12's libraries; fontconfig and D-Bus keep caches for the life of
// the process by design, and are named so that a change in them does not
// pass for a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}

// Freed memory is held back to catch late uses of it. At AddressSanitizer's
// default of 256 MB that quarantine fills over minutes of shows, and its
// filling would pass for growth in the soak's check of resident memory; a
// smaller one still catches late uses.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=32";
}

// This binary runs with leak detection on (see tests/CMakeLists.txt), so
// that the long runs prove nothing leaks. Nothing needs suppressing with
// Debian 12's libraries; fontconfig and D-Bus keep caches for the life of
// the process by design, and are named so that a change in them does not
// pass for a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}

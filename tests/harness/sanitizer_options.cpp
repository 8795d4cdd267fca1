// Default sanitizer options of the test binaries, so they hold however a test is started.
// HotSpot handles SIGSEGV itself, and the embedded JVM's own allocations are not ours to report.
extern "C" {
__attribute__((used)) const char* __asan_default_options() {
    return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
}
__attribute__((used)) const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
__attribute__((used)) const char* __tsan_default_options() {
    return "halt_on_error=1:report_signal_unsafe=0";
}
}

// HotSpot is not built with ThreadSanitizer; what the interceptors see of its own locking and
// memory reuse (from libjvm's threads, and its reader of the JDK's module image) is not ours to
// report.
extern "C" __attribute__((used)) const char* __tsan_default_suppressions() {
    return "called_from_lib:libjvm.so\ncalled_from_lib:libjimage.so\n";
}

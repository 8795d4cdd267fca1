package vexoit;

/**
 * Code whose events carry their stacks. Each traced method, constructor and field access takes the
 * JVM's own stack trace on its first line, so a test compares an event's stack with what the JVM
 * says of the same moment, line by line.
 */
final class Stacks {
    static StackTraceElement[] seen;
    static StackTraceElement[] seenAtExit;
    int value;

    Stacks() { seen = new Throwable().getStackTrace(); }

    static void a() { b(); }
    static void b() { c(); }
    static void c() { seen = new Throwable().getStackTrace();
        seenAtExit = new Throwable().getStackTrace(); }

    static void recurse(int n) { if (n > 0) recurse(n - 1); else seen = new Throwable().getStackTrace(); }

    static void lambda() {
        Runnable r = () -> { seen = new Throwable().getStackTrace(); };
        r.run();
    }

    void touch() { seen = new Throwable().getStackTrace(); value = 5; }
}

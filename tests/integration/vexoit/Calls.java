package vexoit;

/** Methods whose arguments, returns and exceptions the call tests trace. */
final class Calls {
    int base = 10;

    static String every(boolean z, byte b, char c, short s, int i, long j, float f, double d, Object o,
                        int[] a, String none) {
        return "" + z + b + c + s + i + j + f + d + o + a.length + none;
    }

    long mix(long a, int b, double c) {
        return a + b + (long) c + base;
    }

    static boolean z() { return true; }
    static byte b() { return -3; }
    static char c() { return 'q'; }
    static short s() { return 300; }
    static int i() { return -40000; }
    static long j() { return Long.MAX_VALUE; }
    static float f() { return 0.5f; }
    static double d() { return -1.25; }
    static Object o(Object back) { return back; }
    static void v() {}

    static int fact(int n) {
        return n <= 1 ? 1 : n * fact(n - 1);
    }

    static final IllegalStateException THROWN = new IllegalStateException("thrown");

    static int thrower() {
        throw THROWN;
    }

    static int caughtInside() {
        try {
            return thrower();
        } catch (IllegalStateException e) {
            return 7;
        }
    }

    static int rethrower() {
        try {
            return thrower();
        } catch (IllegalStateException e) {
            throw e;
        }
    }

    static int throughCallee() {
        return thrower() + 1;
    }

    static final class Point {
        final int x;
        final int y;

        Point(int x, int y) {
            this.x = x;
            this.y = y;
        }
    }
}

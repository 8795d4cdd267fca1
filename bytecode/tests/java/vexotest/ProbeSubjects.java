package vexotest;

/**
 * Methods for the method probe tests: arguments and returns of every kind, static and instance,
 * exceptions thrown, caught, rethrown and thrown by a callee, recursion, a loop back to the
 * method's first instruction, and constructors with code before and after their super call.
 * No string concatenation: the class also runs as a class file of version 49.
 */
public class ProbeSubjects {
    private final int weight;

    public ProbeSubjects(int weight) {
        this.weight = weight;
    }

    public static long kinds(boolean z, byte b, char c, short s, int i, long j, float f, double d, Object o) {
        long sum = (z ? 1 : 0) + b + c + s + i + j + (long) (f * 4) + (long) (d * 4);
        return o == null ? sum : -sum;
    }

    public String objects(long j, int[] a, String s, double d, Object[] none) {
        return s.concat(String.valueOf(j + a.length + weight + (long) d + (none == null ? 0 : none.length)));
    }

    public static boolean isPositive(int x) { return x > 0; }
    public static byte asByte(int x) { return (byte) x; }
    public static char asChar(int x) { return (char) ('a' + x); }
    public static short asShort(int x) { return (short) (x * 1000); }
    public int scaled(int x) { return x * weight; }
    public static long widened(int x) { return (long) x << 33; }
    public static float half(int x) { return x / 2f; }
    public static double third(double x) { return x / 3; }
    public static String text(int x) { return x < 0 ? null : String.valueOf(x); }

    public static int[] range(int n) {
        int[] r = new int[n];
        for (int i = 0; i < n; ++i) r[i] = i * i;
        return r;
    }

    public void nothing() {}

    public static void bump(int[] cell) { cell[0] += 10; }

    public static int checked(int x) {
        if (x < 0) throw new IllegalArgumentException("negative");
        return x * 2;
    }

    public static int caught(String s) {
        try {
            return Integer.parseInt(s);
        } catch (NumberFormatException e) {
            return -1;
        }
    }

    public static int rethrown(int x) {
        try {
            return checked(x);
        } catch (IllegalArgumentException e) {
            throw e;
        }
    }

    public static int fromCallee(int x) { return checked(x) + 1; }

    public static int factorial(int n) { return n <= 1 ? 1 : n * factorial(n - 1); }

    // Its first instruction is the loop's head.
    public static int countdown(int n, int[] laps) {
        while (true) {
            laps[0]++;
            if (--n <= 0) return laps[0];
        }
    }

    public static class Base {
        public final int value;

        public Base(int value) {
            if (value == 13) throw new IllegalStateException("thirteen");
            this.value = value;
        }
    }

    // A branch and a call that may throw in the super call's arguments, a handler after it.
    public static class Derived extends Base {
        public final String label;

        private static int plusOne(int x) {
            if (x == 50) throw new ArithmeticException("fifty");
            return x + 1;
        }

        public Derived(int x, String label) {
            super(x < 0 ? -x : plusOne(x));
            String l;
            try {
                l = label.trim();
            } catch (NullPointerException e) {
                l = "none";
            }
            this.label = l;
        }
    }

    // A call in the super call's arguments, straight code to it; a throw after it.
    public static class Direct extends Base {
        public final long twice;

        public Direct(int x) {
            super(Math.abs(x));
            if (x == 99) throw new UnsupportedOperationException("ninety-nine");
            twice = 2L * value;
        }
    }
}

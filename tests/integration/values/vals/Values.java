package vals;

/**
 * Values of every kind through arguments, return values, exceptions and fields, for the test that
 * reads a JSON run and a text run of it. Each object the trace shows is named on standard output
 * with its identity ("object ROLE CLASS@HASH"), so the two runs' objects can be told apart.
 */
public class Values {
    static Object object;
    static String string;
    static double real;
    static float single;
    static long whole;
    static char letter;
    static boolean flag;
    static int[] numbers;

    static void integers(int i, long j, short s, byte b) {}

    static void reals(double d, double nan, float f, double infinity, float negative) {}

    static void characters(char c, char accented, char newline, boolean yes, boolean no) {}

    static void strings(String quoted, String nonAscii, String none, String empty) {}

    static void objects(Object o, int[] a, String[][] nested) {}

    static Object same(Object o) {
        return o;
    }

    static String text(String s) {
        return s;
    }

    static double notANumber() {
        return Double.NaN;
    }

    static char letter() {
        return 'q';
    }

    static int thrower() {
        throw new IllegalStateException("thrown");
    }

    /** An exception whose getMessage the tracer must not call: it says so and throws. */
    static class Loud extends RuntimeException {
        Loud() {
            super("its own \"message\"");
        }

        @Override
        public String getMessage() {
            System.out.println("getMessage was called");
            throw new IllegalStateException("getMessage was called");
        }
    }

    static int loud() {
        throw new Loud();
    }

    static void arrays(int[] small, Object[] many, long[] empty) {}

    static Runnable task() {
        return () -> System.out.print("");
    }

    static void run(Runnable r) {
        r.run();
    }

    static void name(String role, Object o) {
        System.out.println("object " + role + " " + o.getClass().getName() + "@" + Integer.toHexString(System.identityHashCode(o)));
    }

    public static void main(String[] args) {
        name("args", args);
        Object o = new Object();
        int[] a = {1, 2, 3};
        String[][] nested = {{"x"}};
        name("object", o);
        name("array", a);
        name("nested", nested);
        name("inner", nested[0]);
        integers(-7, Long.MIN_VALUE, (short) 300, (byte) -128);
        reals(2.5e-300, Double.NaN, 0.1f, Double.NEGATIVE_INFINITY, Float.POSITIVE_INFINITY);
        characters('x', '\u00e9', '\n', true, false);
        strings("say \"hi\"\\ back\n\ttab, (paren)", "gr\u00fc\u00df \u4e16\u754c \ud83d\ude00", null, "");
        objects(o, a, nested);
        same(o);
        same(null);
        text("a\"b");
        notANumber();
        letter();
        try {
            thrower();
        } catch (IllegalStateException e) {
            name("exception", e);
        }
        try {
            loud();
        } catch (Loud e) {
            name("loud", e);
        }
        Object[] many = new Object[10];
        for (int i = 0; i < many.length; i++) many[i] = i % 3 == 0 ? "s" + i : i % 3 == 1 ? (Object) i : o;
        many[9] = a;
        arrays(a, many, new long[0]);
        Runnable r = task();
        name("lambda", r);
        run(r);
        object = o;
        string = "field \"value\"\n";
        real = Double.NaN;
        single = -0.5f;
        whole = Long.MAX_VALUE;
        letter = '\u00e9';
        flag = true;
        numbers = a;
        numbers = null;
    }
}

package vexotest;

/**
 * Reads and writes of fields of every kind, for the field site rewriter: instance and static,
 * long and double, in try/catch/finally, synchronized, switches and loops, an inherited field
 * named through a subclass, a shadowing field, and a constructor that stores before its super
 * call (an inner class's outer instance). Everything is public: the tests define a rewritten
 * copy in a loader of its own, whose runtime package differs from the other classes'.
 */
public class FieldSites {
    public int i;
    public long j;
    public float f;
    public double d;
    public short s;
    public byte b;
    public boolean z;
    public char c;
    public Object o;
    public String str;
    public int[] arr;
    public static int si;
    public static long sj;
    public static double sd;
    public static String sstr;

    public static class Base {
        public int inherited;
        public int shadowed;
    }

    public static class Sub extends Base {}

    public static class Shadow extends Base {
        public int shadowed;
    }

    /** javac stores the outer instance before the super call. */
    public class Inner {
        public int k;

        public Inner() {
            k = 5;
        }

        public int outerI() {
            return i;
        }
    }

    public long run() {
        long acc = 0;
        try {
            i = 3;
            acc += i;
            j = 1L << 40;
            acc += j;
            if (acc > 0) throw new IllegalStateException("caught");
        } catch (IllegalStateException e) {
            d = -2.5;
            acc += (long) (d * 2);
        } finally {
            sd = 0.75;
            acc += (long) (sd * 4);
        }
        synchronized (this) {
            f = 1.25f;
            acc += (long) (f * 4);
        }
        for (int k = 0; k < 3; k++) {
            switch (k) {
                case 0: s = (short) -7; break;
                case 1: b = (byte) -2; break;
                default: c = 'x'; break;
            }
            acc += s + b + c;
        }
        z = acc > 0;
        if (z) acc++;
        o = Integer.valueOf(41);
        str = "text";
        acc += str.length() + ((Integer) o);
        arr = new int[] {1, 2};
        acc += arr.length;
        si = 5;
        si += 2;
        acc += si;
        sj = Long.MIN_VALUE + 1;
        acc ^= sj;
        sstr = "static";
        acc += sstr.length();
        Sub sub = new Sub();
        sub.inherited = 11;
        acc += sub.inherited;
        Shadow shadow = new Shadow();
        shadow.shadowed = 13;
        ((Base) shadow).shadowed = 17;
        acc += shadow.shadowed * 100L + ((Base) shadow).shadowed;
        return acc;
    }
}

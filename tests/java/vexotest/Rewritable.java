package vexotest;

/** Methods with switches, handlers, loops and locks, for the class file rewriter's tests. */
public class Rewritable {
    int state;

    public Rewritable() {
        state = 1;
    }

    public int switches(int n) {
        int r;
        switch (n) {
            case 1: r = 10; break;
            case 2: r = 20; break;
            case 3: r = 30; break;
            default: r = 0;
        }
        switch (n * 1000) {
            case 1000: return r + 1;
            case 70000: return r + 7;
            default: return r;
        }
    }

    public synchronized int risky(int n) {
        try {
            if (n < 0) throw new IllegalStateException("below zero");
            int sum = 0;
            for (int i = 0; i < n; i++) sum += i;
            return sum;
        } catch (IllegalStateException e) {
            return -1;
        } finally {
            state++;
        }
    }

    /** A value under construction across a branch: its stack map frame names the `new`. */
    public Object make(boolean yes) {
        return new StringBuilder(yes ? "yes" : "no").append(state);
    }

    public static int count(int n) {
        int c = 0;
        while (n > 0) {
            c++;
            n >>= 1;
        }
        return c;
    }
}

package vexotest;

/** Methods with loops, handlers, locks, switches and wide values, for the code insertion tests. */
public class Insertable {
    static int finished;
    int total;
    long big;
    double ratio = 1.5;
    String name;

    public Insertable() {
        this(1, "one");
    }

    /** Code before this(...): a branch while `this` is still uninitialized. */
    public Insertable(int x) {
        this(x > 0 ? x : -x, "made");
    }

    public Insertable(int x, String s) {
        super();
        total = x;
        name = s;
    }

    public int loop(int n) {
        for (int i = 0; i < n; i++) {
            total += i;
        }
        return total;
    }

    public int guarded(int n) {
        try {
            if (n < 0) throw new IllegalArgumentException("below zero");
            total = n;
            return n * 2;
        } catch (IllegalArgumentException e) {
            total = -1;
            return -1;
        } finally {
            finished++;
        }
    }

    public synchronized int locked(int n) {
        total = n;
        return total * 2;
    }

    public int block(int n) {
        synchronized (this) {
            total += n;
        }
        return total;
    }

    public int switches(int n) {
        switch (n) {
            case 0: total = 5; break;
            case 1: total = 7; break;
            case 2: case 3: total = 9; break;
            default: total = 0;
        }
        switch (n * 1000) {
            case 1000: return total + 1;
            case 70000: return total + 7;
            default: return total;
        }
    }

    public long wide(long a, double d) {
        big += a;
        ratio = ratio * d + a;
        return big + (long) ratio;
    }

    /** A value under construction across a branch: its stack map frames name the `new`. */
    public Object make(boolean yes) {
        return new StringBuilder(yes ? "yes" : "no").append(total);
    }
}

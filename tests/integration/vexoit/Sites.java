package vexoit;

/**
 * Field accesses at places a test knows: each access shares its line with a call of
 * {@link #here}, which says what line that is.
 */
class Sited {
    int value;
    static int total;
    static int setAt, addAt, totalAt;

    static int here() {
        return new Throwable().getStackTrace()[1].getLineNumber();
    }

    void set(int v) {
        value = v; setAt = here();
    }

    void add(int v) {
        value = value + v; addAt = here();
        total = total + 1; totalAt = here();
    }
}

class SubSited extends Sited {
    static int twiceAt;

    int twice() {
        int twice = value * 2; twiceAt = here();
        return twice;
    }
}

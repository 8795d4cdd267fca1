package vexoit;

/** Fields of each access level, each reached from the code its level admits. */
public class Reach {
    private int secret;
    int neighbourly;
    protected int inherited;
    public int count;

    /** A nestmate: reads and writes the private field directly (no accessor since Java 11). */
    static final class Inner {
        static int touch(Reach r, int value) {
            r.secret = value;
            return r.secret;
        }
    }
}

/** Another class of the package. */
final class ReachNeighbour {
    static int touch(Reach r, int value) {
        r.neighbourly = value;
        return r.neighbourly;
    }
}

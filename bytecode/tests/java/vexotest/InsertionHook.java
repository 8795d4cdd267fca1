package vexotest;

/** What code inserted by the bytecode engine's tests calls: a counter per id. */
public final class InsertionHook {
    public static final int[] counts = new int[8];

    private InsertionHook() {}

    public static void hit(int id) {
        counts[id]++;
    }
}

package vexobench;

/** The method the attach benchmark traces, in a class of its own: rewriting it leaves the loop that calls it alone. */
final class Work {
    private Work() {}

    static int work(int x) {
        return x * 31 + 7;
    }
}

package sess;

/**
 * Exactly N calls of hit() on main, a pause long enough for them to be delivered, then eight
 * daemon threads calling hit() without end while main pauses again and the program exits
 * mid-stream.
 */
public final class Hits {
    static volatile long sink;

    static void hit(int k) {
        sink += k;
    }

    public static void main(String[] args) throws Exception {
        int n = Integer.parseInt(args[0]);
        for (int k = 0; k < n; k++) hit(k);
        Thread.sleep(300);
        for (int t = 0; t < 8; t++) {
            Thread thread = new Thread(() -> {
                for (int k = 0; ; k++) hit(k);
            });
            thread.setDaemon(true);
            thread.start();
        }
        Thread.sleep(200);
        System.out.println("done");
    }
}

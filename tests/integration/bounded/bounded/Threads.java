package bounded;

/**
 * THREADS threads, each calling a small static method CALLS times, as fast as they can; with
 * SECONDS, for that long instead (CALLS calls at a time), keeping a little churn alive.
 */
public final class Threads {
    static volatile int sink;

    static void hit(int x) {
        sink = x;
    }

    public static void main(String[] args) throws InterruptedException {
        int threads = Integer.parseInt(args[0]);
        int calls = Integer.parseInt(args[1]);
        long until = args.length > 2 ? System.nanoTime() + (long) (Double.parseDouble(args[2]) * 1e9) : 0;
        Thread[] all = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            all[t] = new Thread(() -> {
                do {
                    for (int i = 0; i < calls; i++) hit(i);
                } while (until != 0 && System.nanoTime() < until);
            }, "hitter-" + t);
            all[t].start();
        }
        for (Thread t : all) t.join();
        System.out.println("done " + threads * (long) calls);
    }
}

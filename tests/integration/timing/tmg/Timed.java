package tmg;

import java.io.File;

/**
 * Calls whose number the program counts itself and prints as "made NAME N [thrown T]": a
 * recursion, calls that throw, two threads, constructors, and pauses of chosen lengths (nap:
 * 1 ms, 30 ms, 1 ms then a throw, 30 ms then a throw). With "loop FILE" it calls
 * tick() every millisecond until FILE exists.
 */
public final class Timed {
    static int fibCalls, checkCalls, checkThrown, nodeCalls, pauseCalls, napCalls, napThrown;
    static final int[] workCalls = new int[2];

    static int fib(int n) {
        fibCalls++;
        return n < 2 ? n : fib(n - 1) + fib(n - 2);
    }

    static void check(int i) {
        checkCalls++;
        if (i % 3 == 0) {
            checkThrown++;
            throw new IllegalStateException("multiple of three: " + i);
        }
    }

    static long work(int k) {
        long s = 0;
        for (int i = 0; i < k; i++) s += i * (long) k;
        return s;
    }

    static void pause(long millis) throws InterruptedException {
        pauseCalls++;
        Thread.sleep(millis);
    }

    static void tick() {}

    static final class Node {
        Node() {
            nodeCalls++;
        }

        /** Sleeps, then throws when asked to. */
        int nap(long millis, boolean fail) throws InterruptedException {
            napCalls++;
            Thread.sleep(millis);
            if (fail) {
                napThrown++;
                throw new IllegalStateException("failed after " + millis + " ms");
            }
            return (int) millis;
        }
    }

    public static void main(String[] args) throws Exception {
        if (args.length == 2 && args[0].equals("loop")) {
            File stop = new File(args[1]);
            while (!stop.exists()) {
                tick();
                Thread.sleep(1);
            }
            return;
        }
        System.out.println("fib " + fib(10));
        for (int i = 0; i < 30; i++) {
            try {
                check(i);
            } catch (IllegalStateException expected) {
                // counted by the program
            }
        }
        Thread[] threads = new Thread[2];
        for (int t = 0; t < 2; t++) {
            final int me = t;
            threads[t] = new Thread(() -> {
                for (int i = 0; i < 1000 + me * 500; i++) {
                    work(i % 50);
                    workCalls[me]++;
                }
            });
            threads[t].start();
        }
        for (Thread t : threads) t.join();
        for (int i = 0; i < 4; i++) new Node();
        Node n = new Node();
        for (long[] nap : new long[][] {{1, 0}, {30, 0}, {1, 1}, {30, 1}}) {
            try {
                n.nap(nap[0], nap[1] != 0);
            } catch (IllegalStateException expected) {
                // counted by the program
            }
        }
        long[] pauses = {1, 1, 40, 1, 1, 40, 1, 40};
        for (long p : pauses) pause(p);
        System.out.println("made tmg.Timed.fib(I)I " + fibCalls);
        System.out.println("made tmg.Timed.check(I)V " + checkCalls + " thrown " + checkThrown);
        System.out.println("made tmg.Timed.work(I)J " + (workCalls[0] + workCalls[1]));
        System.out.println("made tmg.Timed$Node.<init>()V " + nodeCalls);
        System.out.println("made tmg.Timed.pause(J)V " + pauseCalls);
        System.out.println("made tmg.Timed$Node.nap(JZ)I " + napCalls + " thrown " + napThrown);
    }
}

package vexobench;

import com.vexo.TracePoints;

/**
 * What a frame that runs code from before its field was armed costs while it lasts: one loop
 * frame on a thread of its own times N rounds before the field is armed, N rounds while its old
 * frame is watched, and, after that frame returned, N rounds in a fresh call (the hook); a second
 * thread times the same rounds in frames of its own meanwhile (never old). Each round does a
 * little arithmetic through a call; every 1024th round assigns the traced field.
 *   java -agentpath:libvexo.so -cp ... vexobench.OldFramesBench N
 * Prints "RESULT name ns/round" lines.
 */
public final class OldFramesBench {
    int touched;
    static volatile int step;
    static volatile int reached;
    static volatile long sink;
    static final double[] old = new double[2];
    static double fresh;

    public static void main(String[] args) throws Exception {
        int n = Integer.parseInt(args[0]);
        BenchMain.Tracing t = BenchMain.Tracing.start();
        OldFramesBench x = new OldFramesBench();
        Thread loop = new Thread(() -> {
            long v = loopInOneFrame(x, n);
            reached = 3;
            await(3);
            fresh = rounds(x, n, v);
        }, "old-frame");
        loop.start();
        double[] other = new double[3];
        for (int s = 0; s < 2; s++) {
            while (reached < s) Thread.sleep(1);
            if (s == 1) t.arm(BenchMain.fieldPoint("vexobench.OldFramesBench", "touched", TracePoints.VALUE_INT));
            step = s + 1;
            other[s] = Other.rounds(n);
            while (reached < s + 2) Thread.sleep(1);
        }
        Thread.sleep(200);  // the old frame has returned; its watch ends
        step = 3;
        other[2] = Other.rounds(n);
        loop.join();
        String[] names = {"before-arming", "old-frame-watched", "after-return"};
        for (int s = 0; s < 3; s++) {
            System.out.printf("RESULT %s-loop %.2f ns/round%n", names[s], s < 2 ? old[s] : fresh);
            System.out.printf("RESULT %s-other-thread %.2f ns/round%n", names[s], other[s]);
        }
    }

    static void await(int s) {
        while (step < s) Thread.onSpinWait();
    }

    /** Stages 1 and 2 in this one frame: N rounds each, timed. */
    static long loopInOneFrame(OldFramesBench x, int n) {
        long v = 0;
        reached = 0;
        for (int s = 0; s < 2; s++) {
            await(s + 1);
            long start = System.nanoTime();
            for (int r = 0; r < n; r++) {
                v += Other.work(r);
                if ((r & 1023) == 0) x.touched = r;
            }
            old[s] = (System.nanoTime() - start) / (double) n;
            reached = s + 2;
        }
        return v;
    }

    static double rounds(OldFramesBench x, int n, long v) {
        long start = System.nanoTime();
        for (int r = 0; r < n; r++) {
            v += Other.work(r);
            if ((r & 1023) == 0) x.touched = r;
        }
        sink = v;
        return (System.nanoTime() - start) / (double) n;
    }

    /** The same rounds in a class that does not name the field. */
    static final class Other {
        static int work(int r) {
            int h = r;
            for (int k = 0; k < 8; k++) h = h * 31 + k;
            return h;
        }

        static double rounds(int n) {
            long start = System.nanoTime();
            long v = 0;
            for (int r = 0; r < n; r++) v += work(r);
            sink = v;
            return (System.nanoTime() - start) / (double) n;
        }
    }
}

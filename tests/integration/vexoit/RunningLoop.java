package vexoit;

/**
 * A loop that is already running when its field is armed, on a thread of its own, driven stage
 * by stage: main raises {@link #step}, the loop answers through {@link #reached}.
 */
final class RunningLoop {
    static volatile int step;
    static volatile int reached;

    private RunningLoop() {}

    static void await(int s) {
        while (step < s) Thread.onSpinWait();
    }

    /** Stages 1 to `stages` in this one frame: `perStage` assignments of x.i each, counting up. */
    static int inOneFrame(Fields x, int perStage, int stages) {
        int v = 0;
        reached = 1;
        for (int s = 1; s <= stages; s++) {
            await(s);
            for (int k = 0; k < perStage; k++) x.i = v++;
            reached = s + 1;
        }
        return v;
    }

    /** A call begun after arming: its code calls the hook. */
    static void fresh(Fields x, int from, int n) {
        for (int k = 0; k < n; k++) x.i = from + k;
    }
}

/** The loop's thread, in a class that does not name the field, so its own frame is not old. */
final class LoopDriver implements Runnable {
    final Fields x;
    final int perStage;
    final int stages;

    LoopDriver(Fields x, int perStage, int stages) {
        this.x = x;
        this.perStage = perStage;
        this.stages = stages;
    }

    @Override
    public void run() {
        int next = RunningLoop.inOneFrame(x, perStage, stages);
        RunningLoop.reached = 100;
        RunningLoop.await(100);
        RunningLoop.fresh(x, next, perStage);
        RunningLoop.reached = 101;
    }
}

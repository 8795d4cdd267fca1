package att;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * A program that runs until told to stop, for a tracer to attach to: each round calls
 * Counter.hit(round) once and assigns Counter.last once, then prints "round N" and sleeps
 * (args[1] ms). It ends when the file args[0] exists. When the file args[0].load exists, it loads
 * the class Late without linking it, once, and says so by the file args[0].loaded.
 */
public final class Target {
    public static void main(String[] args) throws Exception {
        Path stop = Paths.get(args[0]);
        long pause = Long.parseLong(args[1]);
        Counter counter = new Counter();
        Path load = Paths.get(args[0] + ".load");
        boolean loaded = false;
        for (int round = 1; !Files.exists(stop); round++) {
            if (!loaded && Files.exists(load)) {
                Target.class.getClassLoader().loadClass("att.Late");
                Files.createFile(Paths.get(args[0] + ".loaded"));
                loaded = true;
            }
            counter.hit(round);
            System.out.println("round " + round);
            Thread.sleep(pause);
        }
        System.out.println("stopped after " + counter.last);
    }
}

/** Loaded while a tracer is attached, and never linked. */
final class Late {
    static int twice(int n) {
        return 2 * n;
    }
}

final class Counter {
    int last;

    void hit(int round) {
        last = round;
    }
}

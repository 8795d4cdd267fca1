package att;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * A program that runs until told to stop, for a tracer to attach to: each round calls
 * Counter.hit(round) once and assigns Counter.last once, then prints "round N" and sleeps
 * (args[1] ms). It ends when the file args[0] exists.
 */
public final class Target {
    public static void main(String[] args) throws Exception {
        Path stop = Paths.get(args[0]);
        long pause = Long.parseLong(args[1]);
        Counter counter = new Counter();
        for (int round = 1; !Files.exists(stop); round++) {
            counter.hit(round);
            System.out.println("round " + round);
            Thread.sleep(pause);
        }
        System.out.println("stopped after " + counter.last);
    }
}

final class Counter {
    int last;

    void hit(int round) {
        last = round;
    }
}

package vexoit;

import static vexoit.Check.test;

import com.vexo.NativeApi;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.util.ArrayList;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;

/** Lists replaced again and again while other threads keep hitting their trace points. */
public class ReactivationTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        Check.run("ReactivationTest", test("ReplacingListsUnderLoad", ReactivationTest::underLoad));
    }

    static void underLoad() throws Exception {
        AtomicBoolean stop = new AtomicBoolean();
        // The hitters stand still while a collection runs: otherwise they may fill the limit
        // again between the reset and the mark, and the mark's event is rightly not recorded.
        AtomicBoolean hold = new AtomicBoolean();
        AtomicInteger held = new AtomicInteger();
        AtomicLong laps = new AtomicLong();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            Thread thread = new Thread(() -> {
                Shape shape = new Hexagon();
                Stone stone = new Stone();
                long sum = 0;
                while (!stop.get()) {
                    if (hold.get()) {
                        held.incrementAndGet();
                        while (hold.get()) Thread.yield();
                        held.decrementAndGet();
                    }
                    sum += shape.area() + stone.area();
                    laps.incrementAndGet();
                }
                if (sum < 0) System.out.println(sum);
            });
            thread.setDaemon(true);  // a failed check ends the program
            thread.start();
            threads.add(thread);
        }
        Map<TracePoint, Class<?>> expectedSubject = new IdentityHashMap<>();
        int rounds = 0;
        long until = System.nanoTime() + 2_000_000_000L;
        int[] counts = new int[2];
        while (System.nanoTime() < until || rounds < 20) {
            TracePoint shapes = Agent.method("vexoit.Shape", "area", "()I");
            TracePoint stones = Agent.method("vexoit.Stone", "area", "()I");
            expectedSubject.put(shapes, Hexagon.class);
            expectedSubject.put(stones, Stone.class);
            if (rounds % 2 == 0) Agent.activate(20_000, shapes, stones);
            else Agent.activate(20_000, stones);
            Thread.sleep(5);
            rounds++;
            if (rounds % 10 == 1) {
                // The hits may well have reached the limit; the reset lets the mark through.
                hold.set(true);
                while (held.get() < threads.size()) Thread.yield();
                NativeApi.nativeOnResetEventList();
                check(Agent.collect(), expectedSubject, counts);
                // Both points are armed (an even round) and the limit is fresh: the laps run
                // now record both, however soon the stones' lists filled it in other rounds.
                final long from = laps.get();
                hold.set(false);
                while (laps.get() < from + threads.size()) Thread.yield();
            }
        }
        stop.set(true);
        for (Thread t : threads) t.join();
        NativeApi.nativeOnResetEventList();
        check(Agent.collect(), expectedSubject, counts);
        Agent.activate();
        System.out.println(rounds + " activations, " + counts[0] + " Shape and " + counts[1] + " Stone events");
        Check.that(counts[0] > 0 && counts[1] > 0, "both trace points recorded");
    }

    static void check(List<TraceMethodEvent> events, Map<TracePoint, Class<?>> expectedSubject, int[] counts) {
        for (TraceMethodEvent e : events) {
            Class<?> expected = expectedSubject.get(e.m_TracePoint);
            Check.that(expected != null, "every event names a trace point of some list");
            Check.that(e.m_Subject != null && e.m_Subject.getClass() == expected,
                    "the subject is of the trace point's class");
            counts[expected == Hexagon.class ? 0 : 1]++;
        }
    }
}

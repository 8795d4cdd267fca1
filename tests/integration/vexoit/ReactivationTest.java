package vexoit;

import static vexoit.Check.test;

import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.util.ArrayList;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.atomic.AtomicBoolean;

/** Lists replaced again and again while other threads keep hitting their trace points. */
public class ReactivationTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        Check.run("ReactivationTest", test("ReplacingListsUnderLoad", ReactivationTest::underLoad));
    }

    static void underLoad() throws Exception {
        AtomicBoolean stop = new AtomicBoolean();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            Thread thread = new Thread(() -> {
                Shape shape = new Hexagon();
                Stone stone = new Stone();
                long sum = 0;
                while (!stop.get()) sum += shape.area() + stone.area();
                if (sum < 0) System.out.println(sum);
            });
            thread.start();
            threads.add(thread);
        }
        Map<TracePoint, Class<?>> expectedSubject = new IdentityHashMap<>();
        int rounds = 0;
        long until = System.nanoTime() + 2_000_000_000L;
        List<TraceMethodEvent> events = new ArrayList<>();
        while (System.nanoTime() < until || rounds < 20) {
            TracePoint shapes = Agent.method("vexoit.Shape", "area", "()I");
            TracePoint stones = Agent.method("vexoit.Stone", "area", "()I");
            expectedSubject.put(shapes, Hexagon.class);
            expectedSubject.put(stones, Stone.class);
            if (rounds % 2 == 0) Agent.activate(shapes, stones);
            else Agent.activate(stones);
            Thread.sleep(5);
            rounds++;
            if (rounds % 10 == 0) events.addAll(Agent.collect());
        }
        stop.set(true);
        for (Thread t : threads) t.join();
        events.addAll(Agent.collect());
        Agent.activate();

        int shapeEvents = 0;
        int stoneEvents = 0;
        for (TraceMethodEvent e : events) {
            Class<?> expected = expectedSubject.get(e.m_TracePoint);
            Check.that(expected != null, "every event names a trace point of some list");
            Check.that(e.m_Subject != null && e.m_Subject.getClass() == expected,
                    "the subject is of the trace point's class");
            if (expected == Hexagon.class) shapeEvents++;
            else stoneEvents++;
        }
        System.out.println(rounds + " activations, " + shapeEvents + " Shape and " + stoneEvents + " Stone events");
        Check.that(shapeEvents > 0 && stoneEvents > 0, "both trace points recorded");
    }
}

package vexoit;

import static vexoit.Check.test;

import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;
import java.util.ArrayDeque;
import java.util.Arrays;
import java.util.Deque;
import java.util.List;

/**
 * Method trace points that ask for arguments and exits; thread and time on every event. The
 * argument says the road: on "breakpoints" entries and arguments are recorded, exits never.
 */
public class CallDetailsTest {
    static boolean exits;

    public static void main(String[] args) throws Exception {
        exits = !(args.length > 0 && args[0].equals("breakpoints"));
        Agent.start();
        Check.run("CallDetailsTest",
                test("ArgumentsOfEveryKind", CallDetailsTest::arguments),
                test("ReturnsOfEveryKind", CallDetailsTest::returns),
                test("ExceptionsLeavingOrCaught", CallDetailsTest::exceptions),
                test("RecursionPairsEntriesAndExits", CallDetailsTest::recursion),
                test("TwoThreadsOnOneTracePoint", CallDetailsTest::twoThreads),
                test("ConstructorArguments", CallDetailsTest::constructor),
                test("BitsOffGiveTheEventsOfBefore", CallDetailsTest::bitsOff));
    }

    static TracePoint call(String name, String descriptor, int bits) {
        return Agent.point(TracePoints.STATIC | bits, "vexoit.Calls", null, name, descriptor);
    }

    static List<TraceMethodEvent> run(Runnable body, TracePoint... points) {
        Agent.activate(points);
        for (TracePoint p : points) Check.that(Agent.armed(p), p.m_strMethodOrFieldName + " armed");
        body.run();
        return Agent.collect();
    }

    static void arguments() {
        TracePoint every = call("every", "(ZBCSIJFDLjava/lang/Object;[ILjava/lang/String;)Ljava/lang/String;",
                TracePoints.ARGUMENTS);
        TracePoint mix = Agent.point(TracePoints.ARGUMENTS, "vexoit.Calls", null, "mix", "(JID)J");
        Object o = new Object();
        int[] a = {1, 2};
        Calls calls = new Calls();
        List<TraceMethodEvent> events = run(() -> {
            Calls.every(true, (byte) -1, 'x', (short) -2, 123456, Long.MIN_VALUE, 1.5f, Math.PI, o, a, null);
            calls.mix(1L << 40, -5, 2.75);
        }, every, mix);
        Check.equal(2, events.size(), "two entries, no exits asked for");
        Object[] got = events.get(0).m_Arguments;
        Check.that(got != null && got.length == 11, "eleven arguments");
        Check.equal(Arrays.asList(true, (byte) -1, 'x', (short) -2, 123456, Long.MIN_VALUE, 1.5f, Math.PI),
                Arrays.asList(got).subList(0, 8), "the primitives, boxed in their own classes");
        Check.that(got[8] == o && got[9] == a && got[10] == null, "the references themselves, and null");
        Check.that(events.get(1).m_Subject == calls, "the receiver");
        Check.equal(Arrays.asList(1L << 40, -5, 2.75), Arrays.asList(events.get(1).m_Arguments), "long and double slots");
        Check.that(events.get(1).m_Arguments[1] == Integer.valueOf(-5), "a small int boxed as valueOf boxes it");
    }

    static void returns() {
        String[][] methods = {{"z", "()Z"}, {"b", "()B"}, {"c", "()C"}, {"s", "()S"}, {"i", "()I"}, {"j", "()J"},
                              {"f", "()F"}, {"d", "()D"}, {"o", "(Ljava/lang/Object;)Ljava/lang/Object;"}, {"v", "()V"}};
        TracePoint[] points = new TracePoint[methods.length];
        for (int k = 0; k < methods.length; k++) points[k] = call(methods[k][0], methods[k][1], TracePoints.EXIT);
        Object back = new Object();
        long before = System.nanoTime();
        List<TraceMethodEvent> events = run(() -> {
            Calls.z(); Calls.b(); Calls.c(); Calls.s(); Calls.i(); Calls.j(); Calls.f(); Calls.d(); Calls.o(back);
            Calls.v();
        }, points);
        long after = System.nanoTime();
        for (TracePoint p : points) {
            Check.equal(exits, (p.m_iFlags & TracePoints.EXIT) != 0, "the exit bit written back as the road records");
        }
        if (!exits) {
            Check.equal(methods.length, events.size(), "entries only on this road");
            return;
        }
        Check.equal(2 * methods.length, events.size(), "an entry and an exit per call");
        Object[] expected = {true, (byte) -3, 'q', (short) 300, -40000, Long.MAX_VALUE, 0.5f, -1.25, back, null};
        for (int k = 0; k < methods.length; k++) {
            TraceMethodEvent entry = events.get(2 * k);
            TraceMethodExitEvent exit = (TraceMethodExitEvent) events.get(2 * k + 1);
            Check.that(!(entry instanceof TraceMethodExitEvent) && entry.m_TracePoint == points[k]
                    && exit.m_TracePoint == points[k], methods[k][0] + ": its entry, then its exit");
            if (k == 8) Check.that(exit.m_ReturnValue == back, "the object returned");
            else Check.equal(expected[k], exit.m_ReturnValue, methods[k][0] + " returned");
            if (k == 1) Check.that(exit.m_ReturnValue == Byte.valueOf((byte) -3), "a byte boxed as valueOf boxes it");
            Check.that(!exit.m_bThrown && exit.m_Exception == null, "a normal return");
            Check.that(exit.m_lDuration >= 0 && exit.m_lTime - entry.m_lTime >= exit.m_lDuration / 2,
                    "a duration within the stretch between the events");
            Check.that(entry.m_lTime >= before && exit.m_lTime <= after && exit.m_lTime >= entry.m_lTime,
                    "times on System.nanoTime's clock, in order");
            Check.that(entry.m_Thread == Thread.currentThread() && exit.m_Thread == Thread.currentThread(),
                    "this thread");
            Check.that(entry.m_Arguments == null, "no arguments asked for");
        }
    }

    static void exceptions() {
        int bits = TracePoints.EXIT;
        TracePoint thrower = call("thrower", "()I", bits);
        TracePoint caught = call("caughtInside", "()I", bits);
        TracePoint rethrower = call("rethrower", "()I", bits);
        TracePoint callee = call("throughCallee", "()I", bits);
        List<TraceMethodEvent> events = run(() -> {
            Check.equal(7, Calls.caughtInside(), "caught inside");
            for (Runnable r : new Runnable[] {Calls::rethrower, Calls::throughCallee}) {
                try {
                    r.run();
                    throw new AssertionError("no exception");
                } catch (IllegalStateException e) {
                    Check.that(e == Calls.THROWN, "the program's own exception, rethrown unchanged");
                }
            }
        }, thrower, caught, rethrower, callee);
        if (!exits) {
            Check.equal(6, events.size(), "entries only on this road");
            return;
        }
        // caughtInside > thrower (throws) < returns 7; rethrower > thrower < throws; throughCallee > thrower < throws
        TracePoint[] order = {caught, thrower, thrower, caught, rethrower, thrower, thrower, rethrower, callee,
                              thrower, thrower, callee};
        Check.equal(order.length, events.size(), "entries and exits");
        for (int k = 0; k < order.length; k++) {
            TraceMethodEvent e = events.get(k);
            Check.that(e.m_TracePoint == order[k], "event " + k + " of the expected trace point");
        }
        TraceMethodExitEvent caughtExit = (TraceMethodExitEvent) events.get(3);
        Check.that(!caughtExit.m_bThrown && Integer.valueOf(7).equals(caughtExit.m_ReturnValue), "caught: returned 7");
        for (int k : new int[] {2, 6, 7, 10, 11}) {
            TraceMethodExitEvent exit = (TraceMethodExitEvent) events.get(k);
            Check.that(exit.m_bThrown && exit.m_Exception == Calls.THROWN && exit.m_ReturnValue == null,
                    "exit " + k + " threw the very exception");
        }
    }

    static void recursion() {
        TracePoint fact = call("fact", "(I)I", TracePoints.ARGUMENTS | TracePoints.EXIT);
        List<TraceMethodEvent> events = run(() -> Check.equal(120, Calls.fact(5), "5!"), fact);
        if (!exits) {
            Check.equal(5, events.size(), "entries only on this road");
            return;
        }
        Check.equal(10, events.size(), "five entries, five exits");
        Deque<Integer> open = new ArrayDeque<>();
        for (TraceMethodEvent e : events) {
            if (e instanceof TraceMethodExitEvent) {
                int n = open.pop();
                int f = 1;
                for (int m = 2; m <= n; m++) f *= m;
                Check.equal(f, ((TraceMethodExitEvent) e).m_ReturnValue, "fact(" + n + ")");
            } else {
                open.push((Integer) e.m_Arguments[0]);
            }
        }
        Check.that(open.isEmpty(), "every entry closed");
    }

    static void twoThreads() throws Exception {
        TracePoint fact = call("fact", "(I)I", TracePoints.ARGUMENTS | TracePoints.EXIT);
        Thread[] threads = new Thread[2];
        List<TraceMethodEvent> events = run(() -> {
            for (int t = 0; t < 2; t++) {
                final int n = t + 1;  // fact(1) and fact(2): one and two calls a round
                threads[t] = new Thread(() -> {
                    for (int k = 0; k < 200; k++) Calls.fact(n);
                });
                threads[t].start();
            }
            try {
                for (Thread t : threads) t.join();
            } catch (InterruptedException e) {
                throw new AssertionError(e);
            }
        }, fact);
        for (int t = 0; t < 2; t++) {
            int depth = 0;
            int calls = 0;
            for (TraceMethodEvent e : events) {
                if (e.m_Thread != threads[t]) continue;
                if (e instanceof TraceMethodExitEvent) {
                    depth--;
                } else {
                    depth++;
                    calls++;
                }
                Check.that(depth >= 0 && depth <= t + 1, "calls nest within each thread");
                if (!exits) depth = 0;
            }
            Check.equal(200 * (t + 1), calls, "the entries of thread " + t);
        }
    }

    static Calls.Point made;

    static void constructor() {
        TracePoint init = Agent.point(TracePoints.ARGUMENTS, "vexoit.Calls$Point", null, "<init>", "(II)V");
        List<TraceMethodEvent> events = run(() -> new Calls.Point(3, 4), init);
        Check.equal(1, events.size(), "the constructor's entry");
        Check.equal(Arrays.asList(3, 4), Arrays.asList(events.get(0).m_Arguments), "its arguments");

        init.m_iFlags |= TracePoints.EXIT;
        events = run(() -> made = new Calls.Point(5, 6), init);
        Check.equal(exits ? 2 : 1, events.size(), "the entry, and the exit where it is recorded");
        Check.equal(Arrays.asList(5, 6), Arrays.asList(events.get(0).m_Arguments), "its arguments");
        if (exits) {
            TraceMethodExitEvent exit = (TraceMethodExitEvent) events.get(1);
            Check.that(exit.m_Subject == made && !exit.m_bThrown && exit.m_ReturnValue == null,
                    "the exit, with the object made");
        }
    }

    static void bitsOff() {
        TracePoint plain = call("fact", "(I)I", 0);
        TracePoint field = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        long before = System.nanoTime();
        List<TraceMethodEvent> events = run(() -> {
            Calls.fact(3);
            new Fields().i = 4;
        }, plain, field);
        long after = System.nanoTime();
        Check.equal(4, events.size(), "three entries and an assignment, nothing else");
        for (TraceMethodEvent e : events) {
            Check.that(!(e instanceof TraceMethodExitEvent) && e.m_Arguments == null, "nothing asked for, nothing added");
            Check.that(e.m_Thread == Thread.currentThread() && e.m_lTime >= before && e.m_lTime <= after,
                    "thread and time on every event");
        }
    }
}

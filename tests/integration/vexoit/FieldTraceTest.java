package vexoit;

import static vexoit.Check.test;

import com.vexo.TraceFieldDoubleEvent;
import com.vexo.TraceFieldEvent;
import com.vexo.TraceFieldFloatEvent;
import com.vexo.TraceFieldIntEvent;
import com.vexo.TraceFieldObjectEvent;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;
import java.util.List;

/** Field access and modification watches for every value kind, with the values read and assigned. */
public class FieldTraceTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        Check.run("FieldTraceTest",
                test("EveryValueKindReadAndAssigned", FieldTraceTest::everyKind),
                test("ObjectValues", FieldTraceTest::objectValues),
                test("StaticField", FieldTraceTest::staticField),
                test("AccessSites", FieldTraceTest::accessSites),
                test("SubclassInstancesAcceptedSuperclassRejected", FieldTraceTest::subclasses),
                test("WatchesComeOffWithTheList", FieldTraceTest::watchesComeOff),
                test("FieldsOfUnrelatedClassesAtOneOffsetKeptApart", FieldTraceTest::sameOffset),
                test("OneFieldThroughTwoSubclassesTheFirstDecides", FieldTraceTest::oneFieldTwoNames),
                test("ArmedAndTouchedInOneRunningFrame", FieldTraceTest::inOneFrame),
                test("LoopRunningWhenArmedRemovedRearmedAndReturned", FieldTraceTest::runningLoop));
    }

    /** An assignment then a read of the same value: [assigned v, read v]. */
    static void expectPair(List<TraceMethodEvent> events, TracePoint p, Object subject, Object value) {
        int seen = 0;
        Long firstBits = null;
        for (TraceMethodEvent e : events) {
            if (e.m_TracePoint != p) continue;
            if (e instanceof TraceFieldIntEvent) {
                // The value read and the value assigned carry the same bytes, nothing beyond
                // the field's own width.
                long bits = ((TraceFieldIntEvent) e).m_lValue;
                if (firstBits == null) firstBits = bits;
                Check.equal(firstBits, bits, p.m_strMethodOrFieldName + ": the same bits assigned and read");
            }
            Check.that(e instanceof TraceFieldEvent, p.m_strMethodOrFieldName + ": a field event");
            Check.that(e.m_Subject == subject, p.m_strMethodOrFieldName + ": the subject");
            Check.equal(seen == 0, ((TraceFieldEvent) e).m_bAssigned, p.m_strMethodOrFieldName + ": assigned first, then read");
            Check.equal(value, valueOf(e, p), p.m_strMethodOrFieldName + " value of event " + seen);
            seen++;
        }
        Check.equal(2, seen, p.m_strMethodOrFieldName + ": events");
    }

    static Object valueOf(TraceMethodEvent e, TracePoint p) {
        int kind = p.m_iFlags & TracePoints.VALUE_KIND_MASK;
        if (e instanceof TraceFieldIntEvent) {
            long v = ((TraceFieldIntEvent) e).m_lValue;
            switch (kind) {
                case TracePoints.VALUE_INT: return (int) v;
                case TracePoints.VALUE_SHORT: return (short) v;
                case TracePoints.VALUE_BYTE: return (byte) v;
                case TracePoints.VALUE_BOOLEAN: return v != 0;  // the whole long: no stray bytes
                case TracePoints.VALUE_CHAR: return (char) v;
                default: return v;
            }
        }
        if (e instanceof TraceFieldFloatEvent) return ((TraceFieldFloatEvent) e).m_fValue;
        if (e instanceof TraceFieldDoubleEvent) return ((TraceFieldDoubleEvent) e).m_dValue;
        if (e instanceof TraceFieldObjectEvent) return ((TraceFieldObjectEvent) e).m_Value;
        throw new AssertionError("not a value event: " + e.getClass());
    }

    // The accesses of each test run in methods of their own, called after the trace points are
    // armed: an instrumented field's sites take effect in calls that begin after arming.
    static long touchEveryKind(Fields x) {
        long sink = 0;
        x.i = -1; sink += x.i;
        x.j = Long.MIN_VALUE + 7; sink += x.j;
        x.f = 1.5f; sink += (long) x.f;
        x.d = -2.25; sink += (long) x.d;
        x.s = (short) -300; sink += x.s;
        x.b = (byte) -5; sink += x.b;
        x.z = true; sink += x.z ? 1 : 0;
        x.c = '\u00e9'; sink += x.c;
        return sink;
    }

    static TracePoint[] everyKindPoints() {
        return new TracePoint[] {
            Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT),
            Agent.field("vexoit.Fields", "j", "J", TracePoints.VALUE_LONG),
            Agent.field("vexoit.Fields", "f", "F", TracePoints.VALUE_FLOAT),
            Agent.field("vexoit.Fields", "d", "D", TracePoints.VALUE_DOUBLE),
            Agent.field("vexoit.Fields", "s", "S", TracePoints.VALUE_SHORT),
            Agent.field("vexoit.Fields", "b", "B", TracePoints.VALUE_BYTE),
            Agent.field("vexoit.Fields", "z", "Z", TracePoints.VALUE_BOOLEAN),
            Agent.field("vexoit.Fields", "c", "C", TracePoints.VALUE_CHAR),
            Agent.field("vexoit.Fields", "o", "Ljava/lang/Object;", TracePoints.VALUE_OBJECT),
            Agent.field("vexoit.Fields", "counter", "I", TracePoints.VALUE_INT | TracePoints.STATIC),
        };
    }

    /**
     * The frame that arms goes on with the code it had, which calls no hook: every access it
     * makes after arming is still seen, once.
     */
    static void inOneFrame() {
        TracePoint[] p = everyKindPoints();
        Fields x = new Fields();
        MoreFields y = new MoreFields();
        Object value = new StringBuilder("held");
        Agent.activate(p);
        x.i = -1; int seen = x.i; y.i = 7;
        x.j = Long.MIN_VALUE + 7; long sink = x.j;
        x.f = 1.5f; sink += (long) x.f;
        x.d = -2.25; sink += (long) x.d;
        x.s = (short) -300; sink += x.s;
        x.b = (byte) -5; sink += x.b;
        x.z = true; sink += x.z ? 1 : 0;
        x.c = '\u00e9'; sink += x.c;
        x.o = value; Object read = x.o;
        Fields.counter = 41; Fields.counter = Fields.counter + 1;
        List<TraceMethodEvent> events = Agent.collect();
        Check.that(seen == -1 && sink != 0 && read == value, "the program's reads");
        Check.equal(3, Agent.count(events, p[0]), "i: assigned, read, assigned through the subclass");
        List<TraceMethodEvent> onI = new java.util.ArrayList<>();
        for (TraceMethodEvent e : events) if (e.m_TracePoint == p[0]) onI.add(e);
        Check.that(onI.get(0).m_Subject == x && onI.get(2).m_Subject == y, "i's subjects in order");
        Check.equal(7, valueOf(onI.get(2), p[0]), "the subclass's assignment");
        expectPair(events.subList(0, 2), p[0], x, -1);
        expectKinds(events, p, x);
        expectPair(events, p[8], x, value);
        Check.equal(3, Agent.count(events, p[9]), "the static field: assigned, read, assigned");
        Check.equal(3 + 8 * 2 + 3, events.size(), "every access once");
        Agent.activate();
    }

    /**
     * A loop running on another thread when its field is armed: its accesses in the old frame
     * are seen, none while the trace point is removed, again once it is armed anew, and the calls
     * after the old frame returned are seen through the hook alone: exact counts, in order.
     */
    static void runningLoop() throws Exception {
        final int n = 2000;
        TracePoint i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        Fields x = new Fields();
        RunningLoop.step = 0;
        RunningLoop.reached = 0;
        Thread t = new Thread(new LoopDriver(x, n, 3), "running-loop");
        t.start();
        awaitReached(1);
        Agent.activate(i);
        RunningLoop.step = 1;  // values 0 .. n-1, seen
        awaitReached(2);
        Agent.activate();
        RunningLoop.step = 2;  // n .. 2n-1, not traced
        awaitReached(3);
        TracePoint again = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        Agent.activate(again);
        RunningLoop.step = 3;  // 2n .. 3n-1, seen
        awaitReached(100);
        Thread.sleep(200);     // the old frame has returned: its watch ends
        RunningLoop.step = 100;  // 3n .. 4n-1, through the hook
        awaitReached(101);
        t.join();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3 * n, events.size(), "every assignment of the traced stretches, once");
        for (int k = 0; k < events.size(); k++) {
            TraceMethodEvent e = events.get(k);
            int expected = k < n ? k : k + n;
            Check.that(e.m_TracePoint == (k < n ? i : again) && e.m_Subject == x && ((TraceFieldEvent) e).m_bAssigned,
                    "an assignment of x.i");
            Check.equal(expected, valueOf(e, i), "value " + k + " in order");
        }
        Agent.activate();
    }

    static void awaitReached(int s) throws InterruptedException {
        long end = System.nanoTime() + 30_000_000_000L;
        while (RunningLoop.reached < s) {
            Check.that(System.nanoTime() < end, "the loop reached stage " + s + " within 30 s");
            Thread.sleep(1);
        }
    }

    static void everyKind() {
        TracePoint[] p = java.util.Arrays.copyOf(everyKindPoints(), 8);
        Agent.activate(p);
        for (TracePoint q : p) Check.that(Agent.armed(q), q.m_strMethodOrFieldName + " armed");
        Fields x = new Fields();
        Check.that(touchEveryKind(x) != 0, "the reads happened");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(16, events.size(), "two events per field");
        expectPair(events, p[0], x, -1);
        expectKinds(events, p, x);
    }

    /** The pairs of every kind but i's, as touchEveryKind makes them. */
    static void expectKinds(List<TraceMethodEvent> events, TracePoint[] p, Fields x) {
        expectPair(events, p[1], x, Long.MIN_VALUE + 7);
        expectPair(events, p[2], x, 1.5f);
        expectPair(events, p[3], x, -2.25);
        expectPair(events, p[4], x, (short) -300);
        expectPair(events, p[5], x, (byte) -5);
        expectPair(events, p[6], x, true);
        expectPair(events, p[7], x, '\u00e9');
    }

    static Object assignReadClear(Fields x, Object value) {
        x.o = value;
        Object read = x.o;
        x.o = null;
        return read;
    }

    static void objectValues() {
        TracePoint o = Agent.field("vexoit.Fields", "o", "Ljava/lang/Object;", TracePoints.VALUE_OBJECT);
        Agent.activate(o);
        Fields x = new Fields();
        Object value = new StringBuilder("held");
        Check.that(assignReadClear(x, value) == value, "the program's read");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3, events.size(), "assigned, read, assigned null");
        Check.that(((TraceFieldObjectEvent) events.get(0)).m_Value == value, "the assigned object itself");
        Check.that(((TraceFieldObjectEvent) events.get(1)).m_Value == value, "the object read");
        Check.that(((TraceFieldObjectEvent) events.get(2)).m_Value == null, "null assigned");
        Check.that(((TraceFieldEvent) events.get(2)).m_bAssigned, "the last one is an assignment");
    }

    static void countTwice() {
        Fields.counter = 41;
        Fields.counter = Fields.counter + 1;
    }

    static void staticField() {
        TracePoint counter = Agent.field("vexoit.Fields", "counter", "I", TracePoints.VALUE_INT | TracePoints.STATIC);
        Agent.activate(counter);
        Check.that(Agent.armed(counter), "static field armed");
        countTwice();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3, events.size(), "assigned, read, assigned");
        Check.equal(41, valueOf(events.get(0), counter), "first assignment");
        Check.equal(41, valueOf(events.get(1), counter), "the read");
        Check.equal(42, valueOf(events.get(2), counter), "second assignment");
        for (TraceMethodEvent e : events) Check.that(e.m_Subject == null, "no subject for a static field");
    }

    static void expectSite(TraceMethodEvent e, String className, String method, int line, String what) {
        StackTraceElement site = ((TraceFieldEvent) e).m_Site;
        Check.that(site != null, what + ": a site");
        Check.equal(className + "." + method + "(Sites.java:" + line + ")",
                site.getClassName() + "." + site.getMethodName() + "(" + site.getFileName() + ":" + site.getLineNumber() + ")",
                what);
    }

    /**
     * Where each access happened: two methods assigning one field, a subclass's method reading
     * the field it inherits, a static field read and assigned.
     */
    static void accessSites() {
        TracePoint value = Agent.field("vexoit.Sited", "value", "I", TracePoints.VALUE_INT);
        TracePoint total = Agent.field("vexoit.Sited", "total", "I", TracePoints.VALUE_INT | TracePoints.STATIC);
        Agent.activate(value, total);
        SubSited s = new SubSited();
        s.set(5);
        s.add(2);
        Check.equal(14, s.twice(), "the program's result");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(6, events.size(), "set, add's read and assignment, total's read and assignment, twice's read");
        expectSite(events.get(0), "vexoit.Sited", "set", Sited.setAt, "set's assignment");
        expectSite(events.get(1), "vexoit.Sited", "add", Sited.addAt, "add's read");
        expectSite(events.get(2), "vexoit.Sited", "add", Sited.addAt, "add's assignment");
        expectSite(events.get(3), "vexoit.Sited", "add", Sited.totalAt, "the static field's read");
        expectSite(events.get(4), "vexoit.Sited", "add", Sited.totalAt, "the static field's assignment");
        expectSite(events.get(5), "vexoit.SubSited", "twice", SubSited.twiceAt, "the subclass's read");
        Check.that(Sited.setAt != Sited.addAt, "two lines");
        Agent.activate();
    }

    static void assignBaseAndSub(Fields base, MoreFields sub) {
        sub.i = 3;
        base.i = 4;
        base.j = 5;
        sub.j = 6;
    }

    static void subclasses() {
        TracePoint onBase = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        TracePoint onSub = Agent.field("vexoit.MoreFields", "j", "J", TracePoints.VALUE_LONG);
        Agent.activate(onBase, onSub);
        Fields base = new Fields();
        MoreFields sub = new MoreFields();
        assignBaseAndSub(base, sub);
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3, events.size(), "both i writes and the subclass's j write");
        Check.equal(2, Agent.count(events, onBase), "i on the base trace point, any receiver");
        Check.equal(1, Agent.count(events, onSub), "j only for the subclass instance");
        for (TraceMethodEvent e : events) {
            if (e.m_TracePoint == onSub) {
                Check.that(e.m_Subject == sub, "the subclass instance");
                Check.equal(6L, valueOf(e, onSub), "its value");
            }
        }
    }

    static int assignAndRead(Fields x, int value) {
        x.i = value;
        return x.i;
    }

    static void watchesComeOff() {
        TracePoint i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        Agent.activate(i);
        Agent.activate();
        Fields x = new Fields();
        Check.equal(9, assignAndRead(x, 9), "the program's read");
        Check.equal(0, Agent.collect().size(), "no events once the watch is gone");
    }

    static int assignLeftRight(Left left, Right right) {
        left.x = 1;
        right.y = 2;
        return left.x + right.y;
    }

    static void sameOffset() {
        TracePoint x = Agent.field("vexoit.Left", "x", "I", TracePoints.VALUE_INT);
        TracePoint y = Agent.field("vexoit.Right", "y", "I", TracePoints.VALUE_INT);
        Agent.activate(x, y);
        Left left = new Left();
        Right right = new Right();
        Check.equal(3, assignLeftRight(left, right), "the program's reads");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(4, events.size(), "an assignment and a read of each field");
        expectPair(events, x, left, 1);
        expectPair(events, y, right, 2);
    }

    static void assignMoreOther(MoreFields more, OtherFields other) {
        more.i = 7;
        other.i = 8;
    }

    static void oneFieldTwoNames() {
        TracePoint first = Agent.field("vexoit.MoreFields", "i", "I", TracePoints.VALUE_INT);
        TracePoint second = Agent.field("vexoit.OtherFields", "i", "I", TracePoints.VALUE_INT);
        Agent.activate(first, second);
        MoreFields more = new MoreFields();
        OtherFields other = new OtherFields();
        assignMoreOther(more, other);
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(1, events.size(), "only the first entry's class is recorded");
        Check.that(events.get(0).m_TracePoint == first && events.get(0).m_Subject == more,
                "the first trace point, its instance");
    }
}

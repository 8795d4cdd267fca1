package vexoit;

import static vexoit.Check.test;

import com.vexo.TraceFieldEvent;
import com.vexo.TraceFieldIntEvent;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;
import java.util.List;
import vexoit.other.ReachSub;

/**
 * Field sites wherever the field's access admits them: a nestmate, another class of the package,
 * a subclass in another package; and a method whose instrumented code grows beyond 32767 bytes
 * (its loop's backward branch no longer fits sixteen bits).
 */
public class FieldReachTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        Check.run("FieldReachTest",
                test("PrivateFieldFromANestmate", () -> pair("secret", r -> Reach.Inner.touch(r, 5), new Reach(), 5)),
                test("PackageFieldFromAnotherClassOfThePackage",
                        () -> pair("neighbourly", r -> ReachNeighbour.touch(r, 6), new Reach(), 6)),
                test("ProtectedFieldFromASubclassInAnotherPackage",
                        () -> pair("inherited", r -> ((ReachSub) r).touch(7), new ReachSub(), 7)),
                test("MethodBeyond32767BytesAfterInstrumentation", FieldReachTest::longMethod));
    }

    interface Touch {
        int touch(Reach r);
    }

    static void pair(String name, Touch touch, Reach subject, int value) {
        TracePoint p = Agent.field("vexoit.Reach", name, "I", TracePoints.VALUE_INT);
        Agent.activate(p);
        Check.that(Agent.armed(p), name + " armed");
        Check.equal(value, touch.touch(subject), "the program's read");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(2, events.size(), "an assignment and a read");
        for (int k = 0; k < 2; k++) {
            TraceFieldIntEvent e = (TraceFieldIntEvent) events.get(k);
            Check.that(e.m_TracePoint == p && e.m_Subject == subject, "the trace point and the object");
            Check.equal((long) value, e.m_lValue, "the value");
            Check.equal(k == 0, ((TraceFieldEvent) e).m_bAssigned, "assigned first, then read");
        }
    }

    static void longMethod() {
        TracePoint p = Agent.field("vexoit.Reach", "count", "I", TracePoints.VALUE_INT);
        Agent.activate(p);
        Reach r = new Reach();
        int rounds = 2;
        LongMethod.run(r, rounds);
        int increments = rounds * LongMethod.INCREMENTS;
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(increments, r.count, "the method computes what it did");
        Check.equal(2 * increments, events.size(), "a read and an assignment per increment");
        for (int k = 0; k < increments; k++) {
            TraceFieldIntEvent read = (TraceFieldIntEvent) events.get(2 * k);
            TraceFieldIntEvent write = (TraceFieldIntEvent) events.get(2 * k + 1);
            if (read.m_bAssigned || read.m_lValue != k || !write.m_bAssigned || write.m_lValue != k + 1) {
                StringBuilder b = new StringBuilder();
                for (int q = Math.max(0, 2 * k - 6); q < Math.min(events.size(), 2 * k + 8); q++) {
                    TraceFieldIntEvent e = (TraceFieldIntEvent) events.get(q);
                    b.append(e.m_bAssigned ? " w" : " r").append(e.m_lValue);
                }
                throw new AssertionError("increment " + k + ": read " + read.m_lValue + ", assigned "
                        + write.m_lValue + ";" + b);
            }
        }
    }
}

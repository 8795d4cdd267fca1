package vexoit;

import static vexoit.Check.test;

import com.vexo.NativeApi;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.util.List;

/** The recording limit, the overflow flag, and the reset that lets recording go on. */
public class LimitTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        Check.run("LimitTest",
                test("LimitStopsRecordingAndSetsOverflow", LimitTest::limit),
                test("ZeroLimitRecordsNothing", LimitTest::zeroLimit));
    }

    static void limit() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(5, area);
        Shape shape = new Shape();
        for (int i = 0; i < 10; i++) shape.area();
        // The limit also holds the mark back until the list is reset.
        NativeApi.nativeOnResetEventList();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(5, events.size(), "events up to the limit");
        Check.that(Agent.overflowSeen, "the overflow flag was delivered");

        NativeApi.nativeOnResetEventList();
        for (int i = 0; i < 3; i++) shape.area();
        events = Agent.collect();
        Check.equal(3, events.size(), "recording resumes after the reset");
        Check.that(!Agent.overflowSeen, "no overflow below the limit");
    }

    static void zeroLimit() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(0, area);
        new Shape().area();
        Agent.mark();
        Agent.activate(100, area);  // lifts the limit for the mark of the collection
        NativeApi.nativeOnResetEventList();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(0, events.size(), "nothing recorded under a zero limit");
        Check.that(Agent.overflowSeen, "overflow reported");
    }
}

package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.ReturnObjectArray;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;
import java.util.List;

/**
 * The agent loaded as a plain library, without -agentpath: the VM no longer grants breakpoints
 * or field watches, but method entry and field accesses still work by instrumentation
 * (retransformation is granted late), and so does the class listing.
 */
public class LateLoadTest {
    public static void main(String[] args) throws Exception {
        Check.run("LateLoadTest", test("LateLoadOffersWhatTheVmGrants", LateLoadTest::lateLoad));
    }

    // Called after arming: an instrumented field's sites take effect in calls that begin then.
    static int assignArea(Fields x, Shape shape) {
        x.i = shape.area();
        return x.i;
    }

    static void lateLoad() {
        NativeApi.load();
        InitializeInfo info = Agent.start();
        Check.equal(1, info.m_iJVMDIVersion, "the bridge's debug interface");
        Check.that(info.m_bDebugCanWatchFieldAccessOK && info.m_bDebugCanWatchFieldModificationsOK,
                "fields watched by instrumentation after start-up");

        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        TracePoint i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        Agent.activate(area, i);
        Fields x = new Fields();
        Shape shape = new Shape();
        Check.equal(0, assignArea(x, shape), "the program runs on");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3, events.size(), "the method entry, the assignment and the read, by instrumentation");
        Check.that(events.get(0).m_TracePoint == area && events.get(0).m_Subject == shape, "the entry of area");
        Check.that(events.get(1).m_TracePoint == i && events.get(1).m_Subject == x, "the assignment of i");
        Check.that(events.get(2).m_TracePoint == i && events.get(2).m_Subject == x, "the read of i");
        Agent.activate();

        // Armed while this frame runs code that assigns the field: without watches its
        // accesses cannot be seen, and standard error says so (once).
        i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        Agent.activate(i);
        x.i = 5;
        Check.equal(0, Agent.collect().size(), "the old frame's assignment is not seen");
        Agent.activate();

        // A second initialisation neither connects again nor repeats the message.
        Check.that(NativeApi.nativeInitialize(new InitializeInfo()), "second nativeInitialize");

        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        Check.that(result.m_Objects instanceof Object[] && result.m_iActualCount > 300, "classes listed");
    }
}

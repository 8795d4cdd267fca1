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
 * or field watches, so field trace points stay silent; method entry still works by
 * instrumentation (retransformation is granted late), and so does the class listing.
 */
public class LateLoadTest {
    public static void main(String[] args) throws Exception {
        Check.run("LateLoadTest", test("LateLoadOffersWhatTheVmGrants", LateLoadTest::lateLoad));
    }

    static void lateLoad() {
        NativeApi.load();
        InitializeInfo info = Agent.start();
        Check.equal(1, info.m_iJVMDIVersion, "the bridge's debug interface");
        Check.that(!info.m_bDebugCanWatchFieldAccessOK && !info.m_bDebugCanWatchFieldModificationsOK,
                "no field watch capability after start-up");

        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        TracePoint i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        Agent.activate(area, i);
        Fields x = new Fields();
        Shape shape = new Shape();
        x.i = shape.area();
        Check.equal(0, x.i, "the program runs on");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(1, events.size(), "the method entry, by instrumentation; no field event");
        Check.that(events.get(0).m_TracePoint == area && events.get(0).m_Subject == shape, "the entry of area");
        Agent.activate();

        // A second initialisation neither connects again nor repeats the message.
        Check.that(NativeApi.nativeInitialize(new InitializeInfo()), "second nativeInitialize");

        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        Check.that(result.m_Objects instanceof Object[] && result.m_iActualCount > 300, "classes listed");
    }
}

package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.ReturnObjectArray;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;

/**
 * The agent loaded as a plain library, without -agentpath: the VM no longer grants breakpoints
 * or field watches, so trace points stay silent, while the class listing still works.
 */
public class LateLoadTest {
    public static void main(String[] args) throws Exception {
        Check.run("LateLoadTest", test("LateLoadOffersWhatTheVmGrants", LateLoadTest::lateLoad));
    }

    static void lateLoad() {
        NativeApi.load();
        InitializeInfo info = new InitializeInfo();
        Check.that(NativeApi.nativeInitialize(info), "nativeInitialize succeeded");
        Check.equal(1, info.m_iJVMDIVersion, "the bridge's debug interface");
        Check.that(!info.m_bDebugCanWatchFieldAccessOK && !info.m_bDebugCanWatchFieldModificationsOK,
                "no field watch capability after start-up");
        NativeApi.nativeSetEventTreePanel(new Agent.Panel());

        TracePoints list = new TracePoints();
        list.m_iMaxNumTraces = 100;
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        TracePoint i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        list.m_TracePoints = new TracePoint[] {area, i};
        NativeApi.nativeActivateTracePoints(list);
        Fields x = new Fields();
        x.i = new Shape().area();
        Check.equal(0, x.i, "the program runs on");
        list.m_TracePoints = new TracePoint[0];
        NativeApi.nativeActivateTracePoints(list);

        // A second initialisation neither connects again nor repeats the message.
        Check.that(NativeApi.nativeInitialize(new InitializeInfo()), "second nativeInitialize");

        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        Check.that(result.m_Objects instanceof Object[] && result.m_iActualCount > 300, "classes listed");
    }
}

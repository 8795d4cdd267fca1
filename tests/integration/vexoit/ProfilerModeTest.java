package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.ReturnObjectArray;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.util.List;

/**
 * Profiler mode (the agent option nojvmdi): the profiler interface served over JVMTI, method
 * entries by instrumentation or (with the option breakpoints) by JVMTI method entry events.
 */
public class ProfilerModeTest {
    public static void main(String[] args) throws Exception {
        InitializeInfo info = Agent.start();
        Check.equal(11, info.m_iJVMPIVersion, "JVMPI 1.1");
        Check.equal(0, info.m_iJVMDIVersion, "no JVMDI (nojvmdi)");
        Check.that(!info.m_bDebugEventHookOK, "no debug hook");
        Check.that(info.m_bProfileEventHookOK, "all six profiler events accepted");
        Check.run("ProfilerModeTest",
                test("MethodEntriesOfTheClassAndItsSubclasses", ProfilerModeTest::methodEntries),
                test("ClassListingFromAHeapDump", ProfilerModeTest::classListing),
                test("SlotHandlesConvertBackToTheirObjects", ProfilerModeTest::conversion),
                test("ACancelFromAnotherThreadEndsTheListing", ProfilerModeTest::cancel),
                test("OnlyATracePointsHitPastTheLimitSetsOverflow", ProfilerModeTest::overflow),
                test("ClassLoadsRaiseTheModificationCount", ProfilerModeTest::modificationCount),
                test("CollectedObjectsLeaveTheObjectTable", ProfilerModeTest::collected),
                test("TheRoadTaken", () -> InstrumentationTest.roadTaken(args[0])));
    }

    static void methodEntries() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(area);
        Check.that(Agent.armed(area), "armed");
        Shape shape = new Shape();
        Hexagon hexagon = new Hexagon();  // two levels below Shape
        Stone stone = new Stone();
        shape.area();
        stone.area();
        hexagon.area();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(2, events.size(), "Shape and Hexagon entries, not Stone's");
        Check.that(events.get(0).m_Subject == shape, "the Shape itself");
        Check.that(events.get(1).m_Subject == hexagon, "the Hexagon itself");
        Agent.activate();
    }

    static void overflow() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(1, area);
        NativeApi.nativeOnResetEventList();  // what earlier tests recorded counts against the limit
        Shape shape = new Shape();
        shape.area();  // the one recorded
        Stone stone = new Stone();
        for (int i = 0; i < 10; i++) stone.area();  // no trace point's method
        NativeApi.nativeOnResetEventList();  // lets the mark through
        Check.equal(1, Agent.collect().size(), "the hit within the limit");
        Check.that(!Agent.overflowSeen, "no overflow from methods no trace point names");
        Agent.activate(1, area);
        NativeApi.nativeOnResetEventList();
        shape.area();
        shape.area();  // past the limit
        NativeApi.nativeOnResetEventList();
        Check.equal(1, Agent.collect().size(), "the hit within the limit");
        Check.that(Agent.overflowSeen, "overflow from the trace point's hit past the limit");
        Agent.activate();
    }

    static void classListing() {
        new Polygon();
        ReturnObjectArray result = new ReturnObjectArray();
        int before = NativeApi.nativeGetClassesModificationCount();
        NativeApi.nativeGetClasses(result);
        Check.that(result.m_Objects instanceof byte[], "a byte array of names");
        String[] names = new String((byte[]) result.m_Objects, java.nio.charset.StandardCharsets.ISO_8859_1).split("\0");
        // A class's name comes again when the walk asks for it as a super class of a class
        // dumped before it; every class record names a class of its own.
        List<String> list = java.util.Arrays.asList(names);
        Check.equal(new java.util.HashSet<>(list).size(), result.m_iActualCount, "one class record per class");
        for (String n : new String[] {"java.lang.Object", "java.lang.String", "vexoit.Polygon", "vexoit.Shape"}) {
            Check.that(list.contains(n), n + " is listed");
        }
        Check.that(result.m_iModificationCount >= before + names.length, "the modification count rose with the loads");
    }

    static void cancel() throws Exception {
        ReturnObjectArray full = new ReturnObjectArray();
        NativeApi.nativeGetClasses(full);
        java.util.concurrent.atomic.AtomicBoolean done = new java.util.concurrent.atomic.AtomicBoolean();
        Thread canceller = new Thread(() -> {
            while (!done.get()) NativeApi.nativeGetProgress(true, 100);
        });
        canceller.start();
        ReturnObjectArray cancelled = new ReturnObjectArray();
        NativeApi.nativeGetClasses(cancelled);
        done.set(true);
        canceller.join();
        NativeApi.nativeGetProgress(false, 100);
        Check.that(cancelled.m_iActualCount < full.m_iActualCount,
                "the cancelled walk counted fewer classes (" + cancelled.m_iActualCount + " of " + full.m_iActualCount + ")");
        ReturnObjectArray again = new ReturnObjectArray();
        NativeApi.nativeGetClasses(again);
        Check.that(again.m_iActualCount > cancelled.m_iActualCount && again.m_iActualCount >= full.m_iActualCount * 9 / 10,
                "a listing after the cancel is whole again (" + again.m_iActualCount + " of " + full.m_iActualCount + ")");
    }

    static void modificationCount() throws Exception {
        int before = NativeApi.nativeGetClassesModificationCount();
        // A class of its own loader: loading it is a class load the profiler reports.
        String jar = Shape.class.getProtectionDomain().getCodeSource().getLocation().getPath();
        ClassLoader loader = new java.net.URLClassLoader(new java.net.URL[] {new java.io.File(jar).toURI().toURL()}, null);
        Class.forName("vexoit.Polygon", true, loader);
        int after = NativeApi.nativeGetClassesModificationCount();
        Check.that(after >= before + 2, "Shape and Polygon loaded again: " + before + " -> " + after);
        // Unloaded with their loader: HotSpot reports that through its extension event.
        loader = null;
        int unloaded = after;
        for (int round = 0; round < 50 && unloaded == after; round++) {
            System.gc();
            Thread.sleep(20);
            unloaded = NativeApi.nativeGetClassesModificationCount();
        }
        Check.that(unloaded >= after + 2, "the two classes unloaded: " + after + " -> " + unloaded);
    }

    static void collected() throws Exception {
        TracePoint area = Agent.method("vexoit.Stone", "area", "()I");
        Agent.activate(area);
        new Stone().area();  // enters it in the object table; nothing else holds it
        Check.equal(1, Agent.collect().size(), "one entry");
        Agent.activate();
        int[] handles = new int[0xffff * 8];
        for (int i = 0; i < handles.length; i++) handles[i] = ((i / 0xffff) << 16) | (i % 0xffff);
        Check.that(stones(handles) >= 1, "the Stone is in the table");
        for (int round = 0; round < 50 && stones(handles) > 0; round++) {
            System.gc();
            Thread.sleep(20);
        }
        Check.equal(0, stones(handles), "the collected Stones left the table");
    }

    /** How many slot handles convert to a Stone. */
    static int stones(int[] handles) {
        Object[] objects = new Object[handles.length];
        NativeApi.nativeConvertObjectIDs(handles, 0, handles.length, objects, 0);
        int n = 0;
        for (Object o : objects) if (o instanceof Stone) n++;
        return n;
    }

    static void conversion() {
        // The recorded subject is in the object table: some slot handle converts back to it.
        TracePoint area = Agent.method("vexoit.Stone", "area", "()I");
        Agent.activate(area);
        Stone stone = new Stone();
        stone.area();
        Check.equal(1, Agent.collect().size(), "one entry");
        Agent.activate();
        int found = 0;
        for (int block = 0; block < 8 && found == 0; block++) {
            int[] handles = new int[0xffff];
            for (int i = 0; i < handles.length; i++) handles[i] = (block << 16) | i;
            Object[] objects = new Object[handles.length];
            if (!NativeApi.nativeConvertObjectIDs(handles, 0, handles.length, objects, 0)) break;
            for (int i = 0; i < objects.length; i++) {
                if (objects[i] == stone) found = handles[i];
            }
        }
        Check.that(found != 0, "the Stone's slot handle converts to the Stone");
    }
}

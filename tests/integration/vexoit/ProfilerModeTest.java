package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.ReturnObjectArray;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.util.List;

/** Profiler mode (the agent option nojvmdi): the profiler interface served over JVMTI. */
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
                test("SlotHandlesConvertBackToTheirObjects", ProfilerModeTest::conversion));
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

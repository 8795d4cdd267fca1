package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.ReturnObjectArray;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.io.File;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.util.List;
import java.util.zip.Deflater;
import java.util.zip.Inflater;
import javax.management.MBeanInfo;
import javax.management.MBeanServer;
import javax.management.ObjectName;

/**
 * Profiler mode with the JDK's own native code at work: natives that hold many local references
 * while they allocate (the diagnostic command MBean, thread dumps, reflection, directory
 * listings) raise the profiler's allocation and class events in the middle of their JNI calls.
 * Judged by -Xcheck:jni through run_java.sh: the events must not disturb the natives' frames.
 */
public class ProfilerJniTest {
    public static void main(String[] args) throws Exception {
        InitializeInfo info = Agent.start();
        Check.that(info.m_bProfileEventHookOK, "all six profiler events accepted");
        Check.run("ProfilerJniTest",
                test("TheEventsAreOn", ProfilerJniTest::eventsOn),
                test("ThePlatformMBeanServer", ProfilerJniTest::platformMBeanServer),
                test("ThreadDumpsReflectionListingsAndZip", ProfilerJniTest::jdkNatives),
                test("AClassOfTwentyInterfaces", ProfilerJniTest::manyInterfaces),
                test("TracingStillWorksAfterwards", ProfilerJniTest::tracingAfterwards));
    }

    /** A listing from a heap dump switches every profiler event on for the rest of the run. */
    static void eventsOn() {
        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        Check.that(result.m_iActualCount > 100, "a class listing (" + result.m_iActualCount + " classes)");
    }

    static void platformMBeanServer() throws Exception {
        MBeanServer server = ManagementFactory.getPlatformMBeanServer();
        Check.that(server.getMBeanCount() > 10, "platform MBeans registered: " + server.getMBeanCount());
        // Its MBean info comes from a native that builds one object per diagnostic command.
        MBeanInfo commands = server.getMBeanInfo(new ObjectName("com.sun.management:type=DiagnosticCommand"));
        boolean histogram = false;
        for (javax.management.MBeanOperationInfo op : commands.getOperations()) {
            histogram |= op.getName().equals("gcClassHistogram");
        }
        Check.that(histogram, "the diagnostic commands include gcClassHistogram");
        String help = (String) server.invoke(new ObjectName("com.sun.management:type=DiagnosticCommand"),
                "help", new Object[] {new String[0]}, new String[] {String[].class.getName()});
        Check.that(help.contains("GC.class_histogram"), "the help command lists GC.class_histogram");
    }

    static void jdkNatives() throws Exception {
        ThreadInfo[] threads = ManagementFactory.getThreadMXBean().dumpAllThreads(true, true);
        boolean main = false;
        for (ThreadInfo t : threads) main |= t.getThreadName().equals("main") && t.getStackTrace().length > 0;
        Check.that(main, "the thread dump has the main thread with its stack");

        Check.that(java.util.HashMap.class.getDeclaredMethods().length > 20, "HashMap's methods by reflection");
        Check.that(ManagementFactory.getRuntimeMXBean().getInputArguments().contains("-Xcheck:jni"),
                "the VM's arguments include -Xcheck:jni");

        String[] lib = new File(System.getProperty("java.home"), "lib").list();
        Check.that(lib != null && java.util.Arrays.asList(lib).contains("modules"), "java.home/lib lists the modules file");

        byte[] text = new byte[64 * 1024];
        for (int i = 0; i < text.length; i++) text[i] = (byte) ("profiler".charAt(i % 8));
        Deflater deflater = new Deflater();
        deflater.setInput(text);
        deflater.finish();
        byte[] packed = new byte[text.length];
        int packedLength = deflater.deflate(packed);
        deflater.end();
        Inflater inflater = new Inflater();
        inflater.setInput(packed, 0, packedLength);
        byte[] back = new byte[text.length];
        int backLength = inflater.inflate(back);
        inflater.end();
        Check.that(packedLength < text.length / 10 && backLength == text.length
                && java.util.Arrays.equals(text, back), "a round trip through zip");
    }

    /** An allocation's class facts take a reference per interface of its class. */
    static void manyInterfaces() {
        Class<?>[] interfaces = {Runnable.class, Comparable.class, CharSequence.class, Cloneable.class,
            java.io.Serializable.class, AutoCloseable.class, Iterable.class, Appendable.class, Readable.class,
            java.util.function.Supplier.class, java.util.function.Consumer.class, java.util.function.Function.class,
            java.util.function.Predicate.class, java.util.function.IntSupplier.class, java.util.RandomAccess.class,
            java.util.EventListener.class, java.io.Flushable.class, java.lang.reflect.InvocationHandler.class,
            java.util.concurrent.Callable.class, java.io.Closeable.class};
        Object proxy = java.lang.reflect.Proxy.newProxyInstance(ProfilerJniTest.class.getClassLoader(), interfaces,
                (self, method, arguments) -> method.getName().equals("length") ? 20 : null);
        Check.equal(20, ((CharSequence) proxy).length(), "the proxy answers");
        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        String names = new String((byte[]) result.m_Objects, java.nio.charset.StandardCharsets.ISO_8859_1);
        Check.that(java.util.Arrays.asList(names.split("\0")).contains(proxy.getClass().getName()),
                "the proxy class " + proxy.getClass().getName() + " is listed");
    }

    static void tracingAfterwards() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(area);
        Hexagon hexagon = new Hexagon();
        hexagon.area();
        Agent.collectOne(hexagon, "one entry, the Hexagon itself");
        Agent.activate();
    }
}

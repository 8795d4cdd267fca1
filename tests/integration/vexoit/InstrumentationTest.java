package vexoit;

import static vexoit.Check.test;

import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.io.InputStream;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.List;
import java.util.function.IntUnaryOperator;

/**
 * Method entry traced on either road (instrumentation or breakpoints) changes nothing the
 * program does: exceptions, locks, recursion, switches, interface methods, lambdas, class files
 * of older versions.
 */
public class InstrumentationTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        String road = args[0];
        String[] jars = java.util.Arrays.copyOfRange(args, 1, args.length);
        Check.run("InstrumentationTest",
                test("SynchronizedRecursiveAndSwitchingMethods", InstrumentationTest::plainMethods),
                test("ExceptionsThrownAndCaught", InstrumentationTest::exceptions),
                test("DefaultAndPrivateInterfaceMethods", InstrumentationTest::interfaceMethods),
                test("LambdaBodies", InstrumentationTest::lambdas),
                test("ClassFilesOfOlderVersions", () -> olderVersions(jars)),
                test("DisarmingRestoresTheMethods", InstrumentationTest::disarming),
                test("TheRoadTaken", () -> roadTaken(road)));
    }

    static void plainMethods() {
        TracePoint locked = Agent.method("vexoit.Behaviour", "locked", "(I)I");
        TracePoint fib = Agent.method("vexoit.Behaviour", "fib", "(I)I");
        TracePoint switches = Agent.method("vexotest.Rewritable", "switches", "(I)I");
        Agent.activate(locked, fib, switches);
        Behaviour b = new Behaviour();
        vexotest.Rewritable r = new vexotest.Rewritable();
        Check.equal(3, b.locked(3), "synchronized result");
        Check.equal(55, b.fib(10), "recursive result");
        Check.equal(11, r.switches(1), "switch 1");
        Check.equal(7, r.switches(70), "switch 70");
        Check.equal(30, r.switches(3), "switch 3");
        Check.that(!Thread.holdsLock(b), "the lock was released");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(1, Agent.count(events, locked), "synchronized entries");
        Check.equal(177, Agent.count(events, fib), "recursive entries (fib(10) makes 177 calls)");
        Check.equal(3, Agent.count(events, switches), "switch entries");
        for (TraceMethodEvent e : events) {
            Check.that(e.m_Subject == (e.m_TracePoint == switches ? (Object) r : b), "the receiver");
        }
    }

    static void exceptions() {
        TracePoint risky = Agent.method("vexoit.Behaviour", "risky", "(I)I");
        TracePoint thrower = Agent.method("vexoit.Behaviour", "thrower", "(I)I");
        Agent.activate(risky, thrower);
        Behaviour b = new Behaviour();
        Check.equal(8, b.risky(4), "normal path");
        Check.equal(-1, b.risky(-4), "caught path");
        Check.equal(2, b.state, "finally ran twice");
        try {
            b.thrower(5);
            throw new AssertionError("thrower returned");
        } catch (UnsupportedOperationException expected) {
            Check.equal("always 5", expected.getMessage(), "the exception's message");
            Check.equal("thrower", expected.getStackTrace()[0].getMethodName(), "thrown from the method itself");
        }
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(2, Agent.count(events, risky), "risky entries");
        Check.equal(1, Agent.count(events, thrower), "thrower entries");
    }

    static void interfaceMethods() {
        TracePoint greet = Agent.method("vexoit.Friendly", "greet", "(Ljava/lang/String;)Ljava/lang/String;");
        TracePoint prefix = Agent.method("vexoit.Greeter", "prefix", "()Ljava/lang/String;");
        Agent.activate(greet, prefix);
        Check.that(Agent.armed(greet) && Agent.armed(prefix), "both armed");
        Friendly f = new Friendly();
        Check.equal("hello, you", f.greet("you"), "the default method's result");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(1, Agent.count(events, greet), "default method entry");
        Check.equal(1, Agent.count(events, prefix), "private interface method entry");
        for (TraceMethodEvent e : events) Check.that(e.m_Subject == f, "the implementing object");
    }

    static void lambdas() throws Exception {
        String body = null;
        for (Method m : Behaviour.class.getDeclaredMethods()) {
            if (m.getName().startsWith("lambda$adder$")) body = m.getName();
        }
        Check.that(body != null, "the lambda's body method exists");
        TracePoint lambda = Agent.staticMethod("vexoit.Behaviour", body, "(II)I");
        Agent.activate(lambda);
        IntUnaryOperator add = Behaviour.adder(5);
        Check.equal(12, add.applyAsInt(7), "the lambda's result");
        Check.equal(1, Agent.collect().size(), "the lambda body's entry");
    }

    /** args: the jars of Legacy compiled for Java 7, 8 and 11; a Java 6 copy is made of the first. */
    static void olderVersions(String[] jars) throws Exception {
        Check.equal(3, jars.length, "three legacy jars given");
        // The results to expect: the same class in a loader of its own, never traced.
        Class<?> plain = Class.forName("vexolegacy.Legacy", true,
                new URLClassLoader(new URL[] {new java.io.File(jars[0]).toURI().toURL()}, null));
        Method plainWork = plain.getMethod("work", int.class);
        Object expected = plainWork.invoke(plain.getConstructor().newInstance(), 10);
        for (int i = 0; i <= jars.length; i++) {
            ClassLoader loader = i < jars.length
                    ? new URLClassLoader(new URL[] {new java.io.File(jars[i]).toURI().toURL()}, null)
                    : java6Loader(jars[0]);
            Class<?> legacy = Class.forName("vexolegacy.Legacy", true, loader);
            Object instance = legacy.getConstructor().newInstance();
            TracePoint work = Agent.methodOf(instance, "work", "(I)I");
            Agent.activate(work);
            Check.that(Agent.armed(work), "armed for " + loader);
            Method m = legacy.getMethod("work", int.class);
            Check.equal(expected, m.invoke(instance, 10), "the traced method's result");
            Check.equal(-1, m.invoke(instance, -3), "the caught exception's path");
            List<TraceMethodEvent> events = Agent.collect();
            Check.equal(2, Agent.count(events, work), "entries of the traced instance only (class file " + version(legacy) + ")");
        }
    }

    static int version(Class<?> c) throws Exception {
        try (InputStream in = c.getResourceAsStream("Legacy.class")) {
            return in == null ? -1 : in.readAllBytes()[7];
        }
    }

    /** Legacy, as a Java 6 class file: the Java 7 file with its major version set to 50. */
    static ClassLoader java6Loader(String jar) throws Exception {
        byte[] bytes;
        try (URLClassLoader source = new URLClassLoader(new URL[] {new java.io.File(jar).toURI().toURL()}, null);
             InputStream in = source.getResourceAsStream("vexolegacy/Legacy.class")) {
            bytes = in.readAllBytes();
        }
        bytes[7] = 50;
        byte[] java6 = bytes;
        return new ClassLoader(null) {
            @Override
            protected Class<?> findClass(String name) throws ClassNotFoundException {
                if (!name.equals("vexolegacy.Legacy")) throw new ClassNotFoundException(name);
                return defineClass(name, java6, 0, java6.length);
            }
        };
    }

    /** The entry hook's class exists (in the boot loader) only once a method was instrumented. */
    static void roadTaken(String road) {
        boolean hook;
        try {
            Class.forName("com.vexo.internal.EntryHook", false, null);
            hook = true;
        } catch (ClassNotFoundException e) {
            hook = false;
        }
        Check.equal(road.equals("instrumented"), hook, "the entry hook's presence on the " + road + " road");
    }

    static void disarming() {
        TracePoint fib = Agent.method("vexoit.Behaviour", "fib", "(I)I");
        Agent.activate(fib);
        Agent.activate();
        Check.equal(55, new Behaviour().fib(10), "result after disarming");
        Check.equal(0, Agent.collect().size(), "no entries after disarming");
    }
}

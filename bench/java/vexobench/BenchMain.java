package vexobench;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.RecordedData;
import com.vexo.TracePoints;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicLong;

/**
 * One benchmark configuration per JVM, chosen by the first argument:
 *   workload [R]         the workload's time per round (run it with and without the agent)
 *   workload-watched [R] the same with a field watch armed on a field it never touches
 *   workload-unwatched [R] the same after that watch was armed and removed again
 *                        (R rounds per timed loop, default 20M)
 *   method N             N hits on a method trace point, recorded and delivered
 *   method-threads N T   T threads making N hits each on one method trace point: hits per second
 *   field N              N assignments of a watched field, recorded and delivered
 *   call N WHAT [charge|around] N calls of Account.move(J, Account)J (or Account.charge(J, I)J,
 *                        or move to another of 64 accounts each call) traced for WHAT: entry,
 *                        args, exit or args-exit (recorded and delivered), in ns per call
 *                        (-Dvexo.warm=W: W calls delivered before the clock starts, default 100)
 *   calls N R KIND...    the same for each KIND (WHAT, or WHAT-charge, WHAT-around) in turn, R
 *                        rounds in one JVM, each round starting one kind later
 *   timed N R            N calls of Account.move untraced, then N with its trace point timed (TIMING),
 *                        then N with exits of at least 1 s only (every call shorter, counted), each
 *                        after N calls to compile them, R rounds in this JVM, in ns per call
 *   plain-move N         the same calls untraced
 *   refused N            N calls of Workload.Base.step on a Base untraced, then with a trace point
 *                        on Workload.Derived.step (every receiver refused), in ns per call
 *   plain N              the same N calls untraced (the base the two above are compared with)
 *   weak-floor N         the Java-side floor of holding another object each call weakly: N
 *                        java.lang.ref.WeakReference objects made and kept until a simulated
 *                        delivery drops them (every 65,536), beside the same stores of the objects
 *                        themselves, in ns per object (collections included)
 *   jdi-target N         N calls of the method a JDI client traces (see JdiClient)
 *   workload-agent-started [R]  the workload with the agent initialised and a consumer waiting
 *   workload-after-object-listing [R]  the same after one object listing in debug mode
 *   allocations [R]      time per allocation of a small object (R per timed loop, default 20M)
 *   allocations-agent-started [R]  the same with the agent initialised and a consumer waiting
 *   allocations-after-object-listing [R]  the same after one object listing in debug mode
 *   load N               N classes defined by a class loader of the program and linked, in ns
 *   load-methods N       the same, each class with four empty static methods
 *                        per class (with and without a session waiting for other classes)
 *   attach-target N FILE N empty classes loaded, then calls of Work.work(int) in a loop, printing
 *                        "rate R" (calls per second) every 250 ms until FILE exists
 *   listing MB           MB megabytes of live objects, then the class listing from a heap dump
 *                        (profiler mode) twice, and jcmd GC.class_histogram on the same heap
 * Prints a line a figure: name, value and unit.
 */
public final class BenchMain {
    static final int ROUNDS = 20_000_000;
    static volatile long sink;

    public static void main(String[] args) throws Exception {
        String mode = args[0];
        int n = args.length > 1 ? Integer.parseInt(args[1]) : 0;
        switch (mode) {
            case "workload": report("workload", workload(n > 0 ? n : ROUNDS), "ns/round"); break;
            case "workload-watched": {
                Tracing t = Tracing.start();
                t.arm(fieldPoint("vexobench.Workload$Elsewhere", "untouched", TracePoints.VALUE_INT | TracePoints.STATIC));
                report("workload-watched", workload(n > 0 ? n : ROUNDS), "ns/round");
                break;
            }
            case "workload-unwatched": {
                Tracing t = Tracing.start();
                t.arm(fieldPoint("vexobench.Workload$Elsewhere", "untouched", TracePoints.VALUE_INT | TracePoints.STATIC));
                t.disarm();
                report("workload-unwatched", workload(n > 0 ? n : ROUNDS), "ns/round");
                break;
            }
            case "workload-agent-started":
                Tracing.start();
                report("workload-agent-started", workload(n > 0 ? n : ROUNDS), "ns/round");
                break;
            case "allocations-agent-started":
                Tracing.start();
                report("allocations-agent-started", allocations(n > 0 ? n : ROUNDS), "ns/object");
                break;
            case "workload-after-object-listing":
                listObjects();
                report("workload-after-object-listing", workload(n > 0 ? n : ROUNDS), "ns/round");
                break;
            case "allocations": report("allocations", allocations(n > 0 ? n : ROUNDS), "ns/object"); break;
            case "allocations-after-object-listing":
                listObjects();
                report("allocations-after-object-listing", allocations(n > 0 ? n : ROUNDS), "ns/object");
                break;
            case "load": report("load", load(n), "ns/class"); break;
            case "load-methods": report("load-methods", load(n, true), "ns/class"); break;
            case "attach-target": attachTarget(n, java.nio.file.Paths.get(args[2])); break;
            case "method": {
                Tracing t = Tracing.start();
                t.arm(depositPoint());
                report("method-hit", t.timeHits(n, BenchMain::calls), "ns/hit");
                break;
            }
            case "method-threads": {
                int threads = Integer.parseInt(args[2]);
                Tracing t = Tracing.start();
                t.arm(depositPoint());
                double nsPerHit = t.timeHits(n * threads, total -> inThreads(threads, total / threads));
                report("method-hits-per-second-" + threads + "-threads", 1e9 / nsPerHit, "hits/s");
                report("method-calls-per-second-" + threads + "-threads", 1e9 * n * threads / t.recordedNs,
                       "calls/s (the calls alone, before delivery ends)");
                break;
            }
            case "refused": {
                Tracing t = Tracing.start();
                report("refused-untraced", timeSteps(n), "ns/call");
                TracePoints.TracePoint p = new TracePoints.TracePoint();
                p.m_strClass = "vexobench.Workload$Derived";
                p.m_strMethodOrFieldName = "step";
                p.m_strMethodOrFieldSignature = "(J)J";
                t.arm(p);
                report("refused-traced", timeSteps(n), "ns/call");
                t.disarm();
                break;
            }
            case "field": {
                Tracing t = Tracing.start();
                t.arm(fieldPoint("vexobench.Workload$Account", "balance", TracePoints.VALUE_LONG));
                report("field-hit", t.timeHits(n, BenchMain::assignments), "ns/hit");
                break;
            }
            case "call": {  // call N entry|args|exit|args-exit [charge|around]
                Tracing t = Tracing.start();
                timeCalls(t, n, args[2] + (args.length > 3 ? "-" + args[3] : ""));
                break;
            }
            case "calls": {  // calls N ROUNDS KIND...: each kind in turn, ROUNDS times, in this JVM
                Tracing t = Tracing.start();
                int rounds = Integer.parseInt(args[2]);
                String[] kinds = Arrays.copyOfRange(args, 3, args.length);
                for (int r = 0; r < rounds; r++) {
                    for (int k = 0; k < kinds.length; k++) timeCalls(t, n, kinds[(k + r) % kinds.length]);
                }
                break;
            }
            case "timed": {  // timed N ROUNDS: move untraced and timed (TIMING), in turn, in this JVM
                Tracing t = Tracing.start();
                int rounds = Integer.parseInt(args[2]);
                for (int r = 0; r < rounds; r++) {
                    moves(n);
                    long start = System.nanoTime();
                    moves(n);
                    report("untimed-move", (System.nanoTime() - start) / (double) n, "ns/call");
                    TracePoints.TracePoint p = depositPoint();
                    p.m_strMethodOrFieldName = "move";
                    p.m_strMethodOrFieldSignature = "(JLvexobench/Workload$Account;)J";
                    p.m_iFlags = TracePoints.TIMING;
                    t.arm(p);
                    if ((p.m_iFlags & TracePoints.TIMING) == 0) throw new IllegalStateException("not timed");
                    moves(n);  // compiled again with the hooks
                    start = System.nanoTime();
                    moves(n);
                    report("timed-move", (System.nanoTime() - start) / (double) n, "ns/call");
                    t.disarm();
                    // Exits of at least a second only: every call shorter, only counted.
                    p = depositPoint();
                    p.m_strMethodOrFieldName = "move";
                    p.m_strMethodOrFieldSignature = "(JLvexobench/Workload$Account;)J";
                    p.m_iFlags = TracePoints.EXIT;
                    p.m_lMinNanos = 1_000_000_000L;
                    t.arm(p);
                    moves(n);
                    start = System.nanoTime();
                    moves(n);
                    report("short-move", (System.nanoTime() - start) / (double) n, "ns/call");
                    t.disarm();
                }
                break;
            }
            case "plain-move": {
                moves(n);
                long start = System.nanoTime();
                moves(n);
                report("plain-move", (System.nanoTime() - start) / (double) n, "ns/call");
                break;
            }
            case "plain": {
                calls(n);
                long start = System.nanoTime();
                calls(n);
                report("plain-call", (System.nanoTime() - start) / (double) n, "ns/call");
                break;
            }
            case "weak-floor": {
                for (int i = 0; i < 3; i++) {
                    keepObjects(n, false);
                    keepObjects(n, true);
                }
                report("weak-floor-plain", keepObjects(n, false), "ns/object");
                report("weak-floor-weak-reference", keepObjects(n, true), "ns/object");
                break;
            }
            case "jdi-target": {
                calls(1000);  // the client's breakpoint is set before this runs
                long start = System.nanoTime();
                calls(n);
                report("jdi-hit", (System.nanoTime() - start) / (double) n, "ns/hit");
                break;
            }
            case "listing": listing(n); break;
            default: throw new IllegalArgumentException(mode);
        }
    }

    /** The program bench/run_attach_bench.sh attaches to. */
    static void attachTarget(int classes, java.nio.file.Path stop) throws Exception {
        load(classes);
        System.out.println("ready");
        long calls = 0, since = System.nanoTime();
        while (!java.nio.file.Files.exists(stop)) {
            for (int i = 0; i < 10_000; i++) sink += Work.work(i);
            calls += 10_000;
            long now = System.nanoTime();
            if (now - since >= 250_000_000L) {
                System.out.println("rate " + Math.round(calls * 1e9 / (now - since)));
                calls = 0;
                since = now;
            }
        }
    }

    /** Defines and links {@code n} empty classes gen.C0, gen.C1, ...; the time per class. */
    static double load(int n) throws Exception {
        return load(n, false);
    }

    /** As {@link #load(int)}, the classes with four static methods m0 to m3 when {@code methods}. */
    static double load(int n, boolean methods) throws Exception {
        final class Definer extends ClassLoader {
            Class<?> define(String name, byte[] bytes) {
                return defineClass(name, bytes, 0, bytes.length);
            }
        }
        Definer loader = new Definer();
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) {
            String name = "gen.C" + i;
            Class<?> c = loader.define(name, methods ? classWithMethods(name.replace('.', '/')) : emptyClass(name.replace('.', '/')));
            Class.forName(name, true, loader);  // linked and prepared
            sink += c.hashCode();
        }
        return (System.nanoTime() - start) / (double) n;
    }

    /** The class file of an empty public class {@code internalName} extending Object. */
    static byte[] emptyClass(String internalName) throws java.io.IOException {
        return classFile(internalName, 0);
    }

    /** The class file of a public class {@code internalName} with four empty static methods m0 to m3 ()V. */
    static byte[] classWithMethods(String internalName) throws java.io.IOException {
        return classFile(internalName, 4);
    }

    /** A public class {@code internalName} extending Object with {@code methods} empty static methods m0... ()V. */
    static byte[] classFile(String internalName, int methods) throws java.io.IOException {
        java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
        java.io.DataOutputStream out = new java.io.DataOutputStream(bytes);
        out.writeInt(0xCAFEBABE);
        out.writeShort(0);
        out.writeShort(52);
        // constant pool: the class, Object, then the methods' names, "()V" and "Code" (5 + methods...)
        out.writeShort(methods == 0 ? 5 : 7 + methods);
        out.writeByte(1);
        out.writeUTF(internalName);
        out.writeByte(7);
        out.writeShort(1);
        out.writeByte(1);
        out.writeUTF("java/lang/Object");
        out.writeByte(7);
        out.writeShort(3);
        for (int m = 0; m < methods; m++) {
            out.writeByte(1);
            out.writeUTF("m" + m);
        }
        final int descriptor = 5 + methods, code = 6 + methods;
        if (methods > 0) {
            out.writeByte(1);
            out.writeUTF("()V");
            out.writeByte(1);
            out.writeUTF("Code");
        }
        out.writeShort(0x21);  // public super
        out.writeShort(2);
        out.writeShort(4);
        out.writeShort(0);  // interfaces, fields
        out.writeShort(0);
        out.writeShort(methods);
        for (int m = 0; m < methods; m++) {
            out.writeShort(0x09);  // public static
            out.writeShort(5 + m);
            out.writeShort(descriptor);
            out.writeShort(1);
            out.writeShort(code);  // Code: no stack, no locals, "return"
            out.writeInt(13);
            out.writeShort(0);
            out.writeShort(0);
            out.writeInt(1);
            out.writeByte(0xB1);
            out.writeShort(0);
            out.writeShort(0);
        }
        out.writeShort(0);  // attributes
        return bytes.toByteArray();
    }

    /**
     * n calls of Account.move(J, Account)J, or Account.charge(J, I)J (KIND ending in -charge), or
     * move to another of 64 accounts each call (-around), or move called
     * through 20 compiled frames (-deep), traced for the entry alone, its arguments, its exit, both, or the entry with its
     * stack (16 frames, or the property vexo.stackDepth; KIND starting entry, args, exit, args-exit or stack): recorded and
     * delivered, then disarmed.
     */
    static void timeCalls(Tracing t, int n, String kind) throws InterruptedException {
        String[] parts = kind.split("-(?=charge$|around$|deep$)");
        int bits = 0;
        switch (parts[0]) {
            case "entry": break;
            case "args": bits = TracePoints.ARGUMENTS; break;
            case "exit": bits = TracePoints.EXIT; break;
            case "args-exit": bits = TracePoints.ARGUMENTS | TracePoints.EXIT; break;
            case "stack": bits = TracePoints.STACK; break;
            default: throw new IllegalArgumentException(kind);
        }
        int perCall = (bits & TracePoints.EXIT) != 0 ? 2 : 1;
        boolean charge = parts.length > 1 && parts[1].equals("charge");
        boolean around = parts.length > 1 && parts[1].equals("around");
        boolean deep = parts.length > 1 && parts[1].equals("deep");
        TracePoints.TracePoint p = depositPoint();
        p.m_strMethodOrFieldName = charge ? "charge" : "move";
        p.m_strMethodOrFieldSignature = charge ? "(JI)J" : "(JLvexobench/Workload$Account;)J";
        p.m_iFlags = bits;
        p.m_iStackDepth = Integer.getInteger("vexo.stackDepth", 16);
        t.arm(p);
        java.util.function.IntConsumer calls =
                charge ? BenchMain::charges : around ? BenchMain::movesAround : deep ? n2 -> deepMoves(20, n2) : BenchMain::moves;
        report("call-" + kind, perCall * t.timeHits(n * perCall, total -> calls.accept(total / perCall)), "ns/call");
        report("calls-" + kind, t.recordedNs / (double) n, "ns/call (the calls alone, before delivery ends)");
        report("calling-cpu-" + kind, t.callingCpuNs / (double) n, "ns/call (CPU time of the calling thread)");
        report("consumer-cpu-" + kind, t.consumerCpuNs / (double) (n * perCall), "ns/event (CPU time of the consumer)");
        t.disarm();
    }

    static void report(String name, double value, String unit) {
        System.out.printf("RESULT %s %.3f %s%n", name, value, unit);
    }

    /** The best of seven timed runs after a warm-up, in ns per round. */
    static double workload(int rounds) {
        Workload w = new Workload();
        for (int i = 0; i < 3; i++) sink += w.run(rounds);
        double[] times = new double[7];
        for (int i = 0; i < times.length; i++) {
            long start = System.nanoTime();
            sink += w.run(rounds);
            times[i] = (System.nanoTime() - start) / (double) rounds;
        }
        Arrays.sort(times);
        return times[0];
    }

    /** The best of seven timed loops of `rounds` small allocations, in ns per object. */
    static double allocations(int rounds) {
        double[] times = new double[8];
        for (int t = 0; t < times.length; t++) {
            long start = System.nanoTime();
            long sum = 0;
            for (int i = 0; i < rounds; i++) {
                Node n = new Node();
                n.value = i;
                live0 = n;
                sum += n.value;
            }
            sink += sum;
            times[t] = (System.nanoTime() - start) / (double) rounds;
        }
        Arrays.sort(times, 1, times.length);  // the first loop is the warm-up
        return times[1];
    }

    static volatile Object live0;

    /** One object listing, as a user interface in debug mode may ask for (the agent started). */
    static void listObjects() {
        Tracing.start();
        com.vexo.ReturnObjectArray result = new com.vexo.ReturnObjectArray();
        NativeApi.nativeGetObjects(null, result);
        sink += result.m_iActualCount;
    }

    static void calls(int n) {
        Workload.Account a = new Workload.Account();
        for (int i = 0; i < n; i++) a.deposit(1);
        sink += a.balance;
    }

    static final class Node {
        long value;
        Node next;
    }

    static Object[] live;

    /** About `megabytes` of live objects: small instances and long arrays, half the bytes each. */
    static void fill(int megabytes) {
        long bytes = megabytes * 1024L * 1024L;
        int nodes = (int) (bytes / 2 / 32);
        int arrays = (int) (bytes / 2 / 144);
        live = new Object[nodes + arrays];
        Node previous = null;
        for (int i = 0; i < nodes; i++) {
            Node n = new Node();
            n.value = i;
            n.next = previous;
            previous = n;
            live[i] = n;
        }
        for (int i = 0; i < arrays; i++) live[nodes + i] = new long[16];
    }

    static void listing(int megabytes) throws Exception {
        Tracing.start();
        fill(megabytes);
        System.gc();
        // What the report of a listing runs is run once before the first: Java's first string
        // concatenation and formatting load some 300 classes, which would otherwise be timed with
        // the first listing and listed by the second alone.
        String[] labels = {"listing-first-" + megabytes + "MB", "listing-second-" + megabytes + "MB"};
        sink += String.format("RESULT %s %.3f %s%n", labels[0], 0.0, "ms (" + sink + " classes)").length();
        for (String label : labels) {
            long start = System.nanoTime();
            com.vexo.ReturnObjectArray result = new com.vexo.ReturnObjectArray();
            NativeApi.nativeGetClasses(result);
            double ms = (System.nanoTime() - start) / 1e6;
            report(label, ms, "ms (" + result.m_iActualCount + " classes)");
            if (result.m_iActualCount < 100) throw new IllegalStateException("no listing: " + result.m_iActualCount);
        }
        long start = System.nanoTime();
        Process jcmd = new ProcessBuilder(System.getProperty("java.home") + "/bin/jcmd",
                Long.toString(ProcessHandle.current().pid()), "GC.class_histogram")
                .redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        jcmd.waitFor();
        report("jcmd-class-histogram-" + megabytes + "MB", (System.nanoTime() - start) / 1e6, "ms");
        sink += live.length;
    }

    static void inThreads(int threads, int callsEach) {
        Thread[] all = new Thread[threads];
        for (int i = 0; i < threads; i++) {
            all[i] = new Thread(() -> calls(callsEach));
            all[i].start();
        }
        for (Thread t : all) {
            try {
                t.join();
            } catch (InterruptedException e) {
                throw new IllegalStateException(e);
            }
        }
    }

    /** The best of 5 rounds of n calls of Base.step, in ns per call. */
    static double timeSteps(int n) {
        Workload.Base base = new Workload.Base();
        double best = Double.MAX_VALUE;
        for (int round = 0; round < 5; round++) {
            long start = System.nanoTime();
            for (int i = 0; i < n; i++) sink += base.step(i);
            best = Math.min(best, (System.nanoTime() - start) / (double) n);
        }
        return best;
    }

    static void moves(int n) {
        Workload.Account a = new Workload.Account();
        Workload.Account b = new Workload.Account();
        long sum = 0;
        for (int i = 0; i < n; i++) sum += a.move(1, b);
        sink += sum;
    }

    /** n of 64 objects in turn kept in a bank-like array, weakly or not, in ns per object. */
    static double keepObjects(int n, boolean weakly) {
        Object[] objects = new Object[64];
        for (int i = 0; i < objects.length; i++) objects[i] = new Workload.Account();
        Object[] bank = new Object[1 << 16];
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) {
            Object o = objects[i & 63];
            bank[i & (bank.length - 1)] = weakly ? new java.lang.ref.WeakReference<Object>(o) : o;
            if ((i & (bank.length - 1)) == bank.length - 1) bank = new Object[bank.length];
        }
        double ns = (System.nanoTime() - start) / (double) n;
        live = bank;
        return ns;
    }

    /** n moves, each called through `frames` compiled frames: a stack of 16 frames is full. */
    static void deepMoves(int frames, int n) {
        Workload.Account a = new Workload.Account();
        Workload.Account b = new Workload.Account();
        long sum = 0;
        for (int i = 0; i < n; i++) sum += deepMove(frames, a, b);
        sink += sum;
    }

    static long deepMove(int frames, Workload.Account a, Workload.Account b) {
        return frames == 0 ? a.move(1, b) : deepMove(frames - 1, a, b) + 1;
    }

    static void movesAround(int n) {
        Workload.Account a = new Workload.Account();
        Workload.Account[] to = new Workload.Account[64];
        for (int i = 0; i < to.length; i++) to[i] = new Workload.Account();
        long sum = 0;
        for (int i = 0; i < n; i++) sum += a.move(1, to[i & 63]);
        sink += sum;
    }

    static void charges(int n) {
        Workload.Account a = new Workload.Account();
        long sum = 0;
        for (int i = 0; i < n; i++) sum += a.charge(i, 3);
        sink += sum;
    }

    static void assignments(int n) {
        Workload.Account a = new Workload.Account();
        for (int i = 0; i < n; i++) a.balance = i;
        sink += a.balance;
    }

    /** The traced method: Account.deposit, the workload's most frequent call. */
    static TracePoints.TracePoint depositPoint() {
        TracePoints.TracePoint p = new TracePoints.TracePoint();
        p.m_strClass = "vexobench.Workload$Account";
        p.m_strMethodOrFieldName = "deposit";
        p.m_strMethodOrFieldSignature = "(J)V";
        return p;
    }

    static TracePoints.TracePoint fieldPoint(String className, String name, int flags) {
        TracePoints.TracePoint p = new TracePoints.TracePoint();
        p.m_iFlags = TracePoints.FIELD | flags;
        p.m_strClass = className;
        p.m_strMethodOrFieldName = name;
        p.m_strMethodOrFieldSignature = (flags & TracePoints.VALUE_KIND_MASK) == TracePoints.VALUE_LONG ? "J" : "I";
        return p;
    }

    /** The agent with a consumer thread that counts delivered events. */
    static final class Tracing {
        final AtomicLong delivered = new AtomicLong();
        Thread consumer;

        static Tracing start() {
            Tracing t = new Tracing();
            InitializeInfo info = new InitializeInfo();
            if (!NativeApi.nativeInitialize(info) || (!info.m_bDebugEventHookOK && info.m_iJVMPIVersion == 0)) {
                throw new IllegalStateException("start the JVM with -agentpath:libvexo.so");
            }
            NativeApi.nativeSetEventTreePanel(new Panel());
            Thread consumer = new Thread(() -> {
                while (true) {
                    RecordedData data = new RecordedData();
                    NativeApi.nativeGetRecordedData(data);
                    t.delivered.addAndGet(data.m_Events.length);
                }
            });
            consumer.setDaemon(true);
            consumer.start();
            t.consumer = consumer;
            return t;
        }

        void arm(TracePoints.TracePoint p) {
            TracePoints list = new TracePoints();
            list.m_iMaxNumTraces = Integer.MAX_VALUE;
            list.m_TracePoints = new TracePoints.TracePoint[] {p};
            NativeApi.nativeActivateTracePoints(list);
            if ((p.m_iFlags & TracePoints.ARMED) == 0) throw new IllegalStateException("not armed");
        }

        void disarm() {
            TracePoints list = new TracePoints();
            list.m_iMaxNumTraces = Integer.MAX_VALUE;
            list.m_TracePoints = new TracePoints.TracePoint[0];
            NativeApi.nativeActivateTracePoints(list);
        }

        /** How long the calls of the last timeHits took, without waiting for their delivery. */
        long recordedNs;
        /** The CPU time the calling thread spent in them, and the consumer in delivering them. */
        long callingCpuNs;
        long consumerCpuNs;

        /** ns per hit for n hits, from the first call until the last event was delivered. */
        double timeHits(int n, java.util.function.IntConsumer hits) throws InterruptedException {
            // Warm-up, delivered before the clock starts. As many hits as the timed ones grow the
            // banks to the size those need, so the clock sees no first touch of their memory.
            int warm = Integer.getInteger("vexo.warm", 100);
            long before = delivered.get();
            hits.accept(warm);
            while (delivered.get() - before < warm) Thread.sleep(1);
            java.lang.management.ThreadMXBean cpu = java.lang.management.ManagementFactory.getThreadMXBean();
            long consumerStart = cpu.getThreadCpuTime(consumer.getId());
            long callingStart = cpu.getCurrentThreadCpuTime();
            long start = System.nanoTime();
            hits.accept(n);
            recordedNs = System.nanoTime() - start;
            callingCpuNs = cpu.getCurrentThreadCpuTime() - callingStart;
            // Waiting without spinning leaves both cores of a small machine to the delivery.
            while (delivered.get() - before < (long) warm + n) java.util.concurrent.locks.LockSupport.parkNanos(20_000);
            consumerCpuNs = cpu.getThreadCpuTime(consumer.getId()) - consumerStart;
            return (System.nanoTime() - start) / (double) n;
        }
    }

    public static final class Panel {
        public void displayEvent(Object event) {}
    }
}

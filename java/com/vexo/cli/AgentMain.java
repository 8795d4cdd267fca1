package com.vexo.cli;

import com.vexo.NativeApi;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import java.util.WeakHashMap;

/**
 * The tracer inside the program: started by the agent when the VM has started, before the
 * program's main class loads, with the agent's option string. It arms the trace points in the
 * classes loaded so far and, as the agent hands them over, in every class that loads later, in
 * any class loader, before any of its code runs; it prints every recorded event and, at exit,
 * a summary. Its threads are daemons and its own work is never recorded.
 */
public final class AgentMain {
    /** The most trace points one session arms; a pattern that would arm more is refused. */
    static final int MAX_TRACE_POINTS = 20_000;

    private static volatile AgentMain current;

    private final AgentOptions options;
    private final TraceSession session;
    private final PrintStream out;
    private final EventPrinter printer;
    private final ClassArming arming;
    private final ReportLog log;  // null without --html and --trace-events
    private final long startedMs = System.currentTimeMillis();
    private volatile boolean closing;
    private final java.util.concurrent.atomic.AtomicBoolean ended = new java.util.concurrent.atomic.AtomicBoolean();
    private final boolean attached;
    private Thread summaryHook;
    // The calls of the timed trace points, when some are asked for.
    private final TimingTable timing;
    // Classes already offered (a class may come both from the start's scan and from the agent).
    private final Set<Class<?>> offered = Collections.synchronizedSet(Collections.newSetFromMap(new WeakHashMap<>()));

    private AgentMain(AgentOptions options, TraceSession session, PrintStream out, EventPrinter printer, ReportLog log) {
        this.options = options;
        this.log = log;
        attached = options.connect != null;
        this.session = session;
        this.out = out;
        this.printer = printer;
        arming = new ClassArming(options.patterns, options.requested, MAX_TRACE_POINTS, options.profiler);
        arming.stackDepth = options.stackDepth;
        int asked = options.requested;
        boolean thresholds = false;
        for (PointPattern p : options.patterns) {
            asked |= p.requested;
            thresholds |= p.minNanos > 0;
        }
        timing = (asked & com.vexo.TracePoints.TIMING) != 0 || thresholds ? new TimingTable() : null;
    }

    /** Called by the agent, once, on the thread that starts the VM. Never throws. */
    public static void start(String optionString) {
        try {
            AgentOptions options = AgentOptions.parse(optionString);
            current = open(options, null);
            current.begin();
        } catch (TraceSetupException e) {
            refuse(e.getMessage(), optionString);
        } catch (Throwable e) {
            refuse("the session could not start: " + e, optionString);
        }
    }

    private static void refuse(String message, String optionString) {
        System.err.println("vexo-trace: " + message);
        System.err.flush();
        boolean strict = optionString != null && ("," + optionString + ",").contains(",strict,");
        if (strict) Runtime.getRuntime().halt(2);
    }

    /** Called by the agent on the thread that prepares a class it may want, before the class's code runs. */
    public static void prepared(Class<?> c) {
        AgentMain m = current;
        if (m == null || m.closing) return;
        try {
            m.offer(c);
        } catch (Throwable e) {
            m.note("the session failed on " + c.getName() + ": " + e);
        }
    }

    /**
     * Called by the agent when it is loaded into a running VM, on the attach mechanism's thread:
     * starts the session on a thread of its own and returns. The session talks only to the
     * command that attached (the local socket the option connect= names): the program's standard
     * output and error stay untouched.
     */
    public static void attach(String optionString) {
        new OwnThread(() -> attached(optionString), "vexo-attach", true).start();
    }

    private static void attached(String optionString) {
        String path = null;
        for (String word : optionString == null ? new String[0] : optionString.split(",")) {
            if (word.startsWith("connect=")) path = word.substring("connect=".length());
        }
        if (path == null) return;  // nobody to tell
        try (java.nio.channels.SocketChannel channel = java.nio.channels.SocketChannel.open(
                java.net.UnixDomainSocketAddress.of(path))) {
            PrintStream out = new PrintStream(ChannelStreams.out(channel), true, "UTF-8");
            AgentMain m;
            synchronized (AgentMain.class) {
                if (current != null && !current.ended.get()) {
                    out.println("vexo-trace: this VM is being traced already");
                    return;
                }
                try {
                    m = open(AgentOptions.parse(optionString), out);
                } catch (TraceSetupException e) {
                    out.println("vexo-trace: " + e.getMessage());
                    return;
                }
                current = m;
            }
            m.begin();
            // Until the command says stop, or goes away.
            java.io.BufferedReader control = new java.io.BufferedReader(new java.io.InputStreamReader(
                    ChannelStreams.in(channel), java.nio.charset.StandardCharsets.UTF_8));
            String line;
            do {
                line = control.readLine();
            } while (line != null && !line.equals("stop"));
            m.detach();
        } catch (Throwable e) {
            AgentMain m = current;
            if (m != null && !m.ended.get()) m.detach();  // the command is gone: leave the program as it was
        }
    }

    /** A session whose events go to {@code channel}, or, when it is null, where the options say. */
    private static AgentMain open(AgentOptions options, PrintStream channel) throws TraceSetupException {
        TraceSession session = TraceSession.open();
        if (options.profiler ? !session.inProfilerMode() : !session.canTrace()) {
            throw new TraceSetupException(options.profiler
                    ? "profiler mode needs the agent's word nojvmdi beside profiler"
                    : "the agent cannot arm trace points in this VM");
        }
        PrintStream out = System.err;
        if (channel != null) {
            out = channel;
        } else if (options.output != null) {
            try {
                out = new PrintStream(new FileOutputStream(options.output), true, "UTF-8");
            } catch (IOException e) {
                throw new TraceSetupException("cannot write " + options.output + ": " + e.getMessage());
            }
        } else if (options.stdout) {
            out = System.out;
        }
        String micros = channel != null || options.output != null || canWriteMicroSign(out == System.out) ? "\u00b5s" : "us";
        // A quarter of the buffer for the entries waiting for their exits (an event and its line).
        int mostWaiting = (int) Math.min(1 << 20, ((long) options.bufferMegabytes << 20) / 4 / TraceSession.EVENT_BYTES);
        long origin = System.nanoTime();
        ReportLog log = options.html != null || options.traceEvents != null ? new ReportLog(origin, ReportLog.DEFAULT) : null;
        EventPrinter printer = new EventPrinter(session::targetOf, new ArrayList<>(), out, options.json,
                new EventFormatter.Columns(options.threads, options.times, origin, micros), mostWaiting, log);
        return new AgentMain(options, session, out, printer, log);
    }

    private void begin() {
        if (options.profiler) sayProfilerMode();
        session.ownThreads();
        session.bound(options.bufferMegabytes);
        AgentNatives.fillEvents(true);
        session.startConsumer(printer);
        session.activate(new ArrayList<>(), options.limit);
        // The limit counts this session's events: an earlier session's (its end mark, after
        // attach) are not among them.
        NativeApi.nativeOnResetEventList();
        summaryHook = new OwnThread(this::finish, "vexo-summary", true);
        Runtime.getRuntime().addShutdownHook(summaryHook);
        if (options.digests) printDigests("digest");
        if (timing != null && options.intervalSeconds > 0) new OwnThread(this::printIntervals, "vexo-timing", true).start();
        // Whatever handing a class over needs is loaded and initialised before the first class is.
        try {
            ClassArming.warmUp(options.patterns);
        } catch (TraceSetupException | RuntimeException e) {
            note("the session could not warm up: " + e);
        }
        AgentNatives.warmUp();
        // First the agent waits, then the loaded classes are scanned: a class that loads in
        // between comes both ways, and is armed once.
        AgentNatives.armAtLoad(arming.loadPatterns());
        AgentNatives.waitFor(arming.prefixes());
        Class<?>[] loaded = AgentNatives.loadedClasses();
        if (loaded == null) loaded = new Class<?>[0];
        for (Class<?> c : loaded) {
            if (arming.isSupertype(c)) registerSupertype(c);
        }
        // The classes loaded so far are armed together (their rewriting is one VM operation).
        List<Target> found = new ArrayList<>();
        long start = System.nanoTime();
        for (Class<?> c : loaded) {
            if (eligible(c) && offered.add(c)) found.addAll(arming.targetsOf(c));
        }
        arm(found, start);
        // Said at once: a method that was running when its field was armed and whose accesses
        // are not seen until it returns (no field watch after attach).
        for (String note : takeOldFrames()) {
            out.println(options.json ? "{\"note\":" + EventFormatter.quote(note) + "}" : "note: " + note);
        }
    }

    /**
     * Profiler mode in one line (on standard error, or to the command that attached): what it
     * records, and that the arguments and exits asked for are not (also a note in the summary).
     */
    private void sayProfilerMode() {
        List<String> askers = new ArrayList<>();
        // Stacks are recorded in profiler mode too.
        final int notInProfilerMode = com.vexo.TracePoints.ARGUMENTS | com.vexo.TracePoints.EXIT;
        int asked = options.requested & notInProfilerMode;
        if ((options.requested & com.vexo.TracePoints.ARGUMENTS) != 0) askers.add("args");
        if ((options.requested & com.vexo.TracePoints.EXIT) != 0) askers.add("exits");
        if ((options.requested & com.vexo.TracePoints.TIMING) != 0) askers.add("timing");
        for (PointPattern p : options.patterns) {
            if ((p.requested & notInProfilerMode) != 0) askers.add(p.text);
            asked |= p.requested & notInProfilerMode;
        }
        String line = "profiler mode: method entries through the profiler interface, objects by stable identifiers;"
                + " no field trace points";
        if ((asked & com.vexo.TracePoints.TIMING) != 0) {
            String note = "the calls are not timed in profiler mode (timing asked for by "
                    + String.join(", ", askers) + "): their entries are recorded as events";
            arming.note(note);
            line += "; " + note;
            asked &= ~com.vexo.TracePoints.TIMING;
        }
        if (asked != 0) {
            boolean args = (asked & com.vexo.TracePoints.ARGUMENTS) != 0, exits = (asked & com.vexo.TracePoints.EXIT) != 0;
            String note = "the " + (args && exits ? "arguments and exits" : args ? "arguments" : "exits") + " asked for ("
                    + String.join(", ", askers) + ") are not recorded in profiler mode";
            arming.note(note);
            line += "; " + note;
        }
        PrintStream says = attached ? out : System.err;
        says.println("vexo-trace: " + line);
        says.flush();
    }

    /** The agent's lines on running methods that keep code from before arming, kept as notes. */
    private List<String> takeOldFrames() {
        String[] notes = AgentNatives.oldFrames();
        List<String> list = notes == null ? new ArrayList<>() : java.util.Arrays.asList(notes);
        for (String note : list) arming.note(note);
        return list;
    }

    private static boolean eligible(Class<?> c) {
        return !c.isArray() && !c.isPrimitive() && !c.getName().startsWith("com.vexo.");
    }

    private void arm(List<Target> found, long start) {
        if (found.isEmpty()) return;
        for (Target t : found) printer.add(t);
        arming.armed(found, session.add(found), attached);
        arming.took(System.nanoTime() - start);
    }

    /**
     * With the option digests: a line "WORD class digest" for every class of the program's own
     * loaders (sorted), the digest over its methods' current bytecodes; said before anything is
     * armed and again after detach, the lines tell that every class was restored.
     */
    private void printDigests(String word) {
        ClassLoader platform = ClassLoader.getPlatformClassLoader();
        java.util.TreeMap<String, String> lines = new java.util.TreeMap<>();
        Class<?>[] loaded = AgentNatives.loadedClasses();
        for (Class<?> c : loaded == null ? new Class<?>[0] : loaded) {
            ClassLoader l = c.getClassLoader();
            if (l == null || l == platform || !eligible(c) || c.isHidden()) continue;
            lines.put(c.getName() + "@" + Integer.toHexString(System.identityHashCode(c)), AgentNatives.bytecodeDigest(c));
        }
        for (java.util.Map.Entry<String, String> e : lines.entrySet()) out.println(word + " " + e.getKey() + " " + e.getValue());
    }

    private void registerSupertype(Class<?> c) {
        if (arming.addSupertype(c)) AgentNatives.waitForSubtypes(c);
    }

    private void offer(Class<?> c) {
        if (!eligible(c) || !offered.add(c)) return;
        if (arming.isSupertype(c)) registerSupertype(c);
        long start = System.nanoTime();
        arm(arming.targetsOf(c), start);
    }

    private void note(String message) {
        arming.note(message);
    }

    /** With an interval: the timing table of each, until the session closes. */
    private void printIntervals() {
        long every = Math.max(1, (long) (options.intervalSeconds * 1e9));
        long next = System.nanoTime() + every;
        while (!closing) {
            long wait = next - System.nanoTime();
            if (wait > 0) {
                try {
                    Thread.sleep(wait / 1_000_000, (int) (wait % 1_000_000));
                } catch (InterruptedException e) {
                    return;
                }
                continue;
            }
            next += every;
            if (closing) return;
            List<TimingTable.Row> rows = TimingTable.timed(timing.take(arming.targets()));
            int n = timing.nextInterval();
            String title = String.format(java.util.Locale.ROOT, ", interval %d (%s s)", n, seconds(options.intervalSeconds));
            out.print(options.json ? TimingTable.json(rows, n, timing.takeUnattributed())
                    : TimingTable.text(rows, title, printer.micros(), timing.takeUnattributed()));
            out.flush();
        }
    }

    private static String seconds(double s) {
        return s == Math.rint(s) ? Long.toString((long) s) : Double.toString(s);
    }

    /** At exit: everything recorded before it is printed, then the summary. */
    private void finish() {
        if (!ended.compareAndSet(false, true)) return;
        closing = true;
        takeOldFrames();
        boolean complete;
        try {
            complete = session.drain(10_000);
        } catch (InterruptedException e) {
            complete = false;
        }
        report(complete);
    }

    /**
     * The end of a session after attach: nothing more is armed, every class it rewrote is
     * restored, everything recorded is printed with the summary, and its threads end. The agent
     * stays loaded, idle, for the next attach.
     */
    private void detach() {
        if (!ended.compareAndSet(false, true)) return;
        closing = true;
        AgentNatives.endWaits();
        takeOldFrames();
        try {
            Runtime.getRuntime().removeShutdownHook(summaryHook);
        } catch (IllegalStateException exiting) {
            // the VM is ending: the hook would find the session ended
        }
        boolean complete;
        try {
            complete = session.stop(10_000);
        } catch (InterruptedException e) {
            complete = false;
        }
        if (options.digests) printDigests("restored");
        report(complete);
    }

    private void report(boolean complete) {
        printer.printWaiting();
        printer.close();
        List<Target> targets = arming.targets();
        List<TimingTable.Row> timed = timing == null ? null : timing.totals(targets);
        // The calls shorter than their trace point's threshold join its call statistics.
        for (TimingTable.Row r : timed == null ? new ArrayList<TimingTable.Row>() : timed) {
            if (r.target.hasTiming() || r.target.minNanos() == 0) continue;
            printer.addCounted(r.target, r.c[TimingTable.CALLS], r.c[TimingTable.THROWN], r.c[TimingTable.TOTAL_NS],
                    r.c[TimingTable.MAX_NS]);
        }
        if (!options.patterns.isEmpty()) out.print(Summary.of(targets, printer, arming, options, complete));
        if (timing != null) {
            List<TimingTable.Row> rows = TimingTable.timed(timed);
            long lost = timing.allUnattributed();
            if (!rows.isEmpty() || lost > 0) out.print(options.json ? TimingTable.json(rows, 0, lost)
                    : TimingTable.text(rows, " (calls counted and timed, not recorded)", printer.micros(), lost));
        }
        if (options.classes) out.print(Summary.classListing(session, options.json));
        out.flush();
        if (log != null) writeReports(targets, complete);
    }

    /**
     * The report page and the trace-events file, after the trace's own output: a file that cannot
     * be written is said in one line (on standard error, or to the command that attached), and
     * nothing else changes.
     */
    private void writeReports(List<Target> targets, boolean complete) {
        ReportHeader header = new ReportHeader();
        header.program = System.getProperty("sun.java.command");
        header.jvm = System.getProperty("java.vm.name") + " " + System.getProperty("java.runtime.version");
        header.startedMs = startedMs;
        header.jar = options.jar;
        header.durationNs = System.nanoTime() - log.origin();
        header.pid = ProcessHandle.current().pid();
        header.attached = attached;
        List<String> failures;
        try {
            header.summaryJson = Summary.of(targets, printer, arming, options, complete, true);
            failures = ReportFiles.write(options, log, header);
        } catch (RuntimeException | OutOfMemoryError e) {
            failures = new ArrayList<>();
            failures.add("cannot write the report files: " + e);
        }
        for (String f : failures) {
            if (attached) {
                out.println(ChannelStreams.NOTICE + f);
                out.flush();
            } else {
                System.err.println("vexo-trace: " + f);
                System.err.flush();
            }
        }
    }

    /** Whether the stream's encoding has the micro sign (else durations say "us"). */
    private static boolean canWriteMicroSign(boolean stdout) {
        String name = System.getProperty(stdout ? "stdout.encoding" : "stderr.encoding",
                System.getProperty(stdout ? "sun.stdout.encoding" : "sun.stderr.encoding"));
        try {
            Charset cs = name != null ? Charset.forName(name) : Charset.defaultCharset();
            return cs.newEncoder().canEncode('\u00b5');
        } catch (RuntimeException e) {
            return false;
        }
    }
}

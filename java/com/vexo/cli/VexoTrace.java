package com.vexo.cli;

import com.vexo.TracePoints;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.jar.JarFile;

/**
 * The command-line tracer: arms the trace points, runs the program's main class in this VM,
 * prints every recorded event and a summary at exit. Started by the vexo-trace script, which
 * puts the agent on the command line with -agentpath.
 */
public final class VexoTrace {
    static final String USAGE = String.join("\n",
            "usage: vexo-trace [OPTIONS] -- [JAVA OPTIONS] MAINCLASS [ARGS...]",
            "       vexo-trace [OPTIONS] -- [JAVA OPTIONS] -jar JARFILE [ARGS...]",
            "options:",
            "  --method CLASS.METHOD[(DESCRIPTOR)][@args|@exits|@args,exits]",
            "                                       trace entries of a method (every overload without a descriptor),",
            "                                       with the arguments, with every exit (return value or exception,",
            "                                       duration: one line per call), or both",
            "  --field CLASS.FIELD                  trace reads and assignments of a field",
            "  --args                               record the arguments of every method trace point",
            "  --exits                              record the exits of every method trace point",
            "  --threads                            show the thread on every line",
            "  --times                              show on every line the ms since the trace started",
            "  --limit N                            record at most N events (default 1000000)",
            "  --json                               print JSON lines instead of text",
            "  --output FILE                        print events to FILE instead of standard output",
            "  --profiler                           profiler mode: method trace points through the profiler interface",
            "  --classes                            list the loaded classes when the program ends",
            "with no arguments at all, traces the bundled demo program");

    private final List<String> methods = new ArrayList<>();
    private final List<String> fields = new ArrayList<>();
    private int limit = 1_000_000;
    private boolean json;
    private boolean profiler;
    private boolean classes;
    private int requested;
    private boolean threads;
    private boolean times;
    private String output;
    private String mainClass;
    private String jar;
    private String[] programArgs = new String[0];

    private PrintStream out = System.out;
    private List<Target> targets;
    private TraceSession session;
    private EventPrinter printer;

    public static void main(String[] args) {
        VexoTrace tracer = new VexoTrace();
        TraceSession session;
        try {
            tracer.parse(args);
            session = tracer.start();
        } catch (TraceSetupException e) {
            System.err.println("vexo-trace: " + e.getMessage());
            System.exit(2);
            return;
        }
        tracer.run(session);
    }

    void parse(String[] args) throws TraceSetupException {
        int i = 0;
        for (; i < args.length && !args[i].equals("--"); i++) {
            switch (args[i]) {
                case "--method": methods.add(value(args, ++i, "--method")); break;
                case "--field": fields.add(value(args, ++i, "--field")); break;
                case "--json": json = true; break;
                case "--profiler": profiler = true; break;
                case "--classes": classes = true; break;
                case "--args": requested |= TracePoints.ARGUMENTS; break;
                case "--exits": requested |= TracePoints.EXIT; break;
                case "--threads": threads = true; break;
                case "--times": times = true; break;
                case "--output": output = value(args, ++i, "--output"); break;
                case "--jar": jar = value(args, ++i, "--jar"); break;
                case "--limit":
                    String n = value(args, ++i, "--limit");
                    try {
                        limit = Integer.parseInt(n);
                    } catch (NumberFormatException e) {
                        throw new TraceSetupException("--limit needs a whole number, not '" + n + "'");
                    }
                    if (limit < 0) throw new TraceSetupException("--limit must not be negative");
                    break;
                case "--help": case "-h":
                    System.out.println(USAGE);
                    System.exit(0);
                    break;
                default:
                    throw new TraceSetupException("unknown option '" + args[i] + "'\n" + USAGE);
            }
        }
        int rest = i + 1;
        if (jar == null) {
            if (rest >= args.length) throw new TraceSetupException("no main class given\n" + USAGE);
            mainClass = args[rest++];
        }
        programArgs = Arrays.copyOfRange(args, Math.min(rest, args.length), args.length);
        if (methods.isEmpty() && fields.isEmpty() && !classes) {
            throw new TraceSetupException("no trace point given (--method or --field), nor --classes\n" + USAGE);
        }
        if (profiler && !fields.isEmpty()) {
            throw new TraceSetupException("field trace points need debug mode: drop --profiler for --field");
        }
    }

    private static String value(String[] args, int i, String option) throws TraceSetupException {
        if (i >= args.length || args[i].equals("--")) throw new TraceSetupException(option + " needs a value");
        return args[i];
    }

    TraceSession start() throws TraceSetupException {
        if (jar != null) mainClass = mainClassOf(jar);
        TargetParser parser = new TargetParser(ClassLoader.getSystemClassLoader());
        targets = new ArrayList<>();
        for (String m : methods) {
            for (Target t : parser.method(m)) {
                t.request(requested);
                targets.add(t);
            }
        }
        for (String f : fields) targets.add(parser.field(f));
        session = TraceSession.open();
        if (profiler ? !session.inProfilerMode() : !session.canTrace()) {
            throw new TraceSetupException("the agent cannot arm trace points in this VM: start it at VM start-up "
                    + "(java -agentpath:/path/to/libvexo.so), as the vexo-trace script does");
        }
        if (output != null) {
            try {
                out = new PrintStream(new FileOutputStream(output), true, "UTF-8");
            } catch (IOException e) {
                throw new TraceSetupException("cannot write " + output + ": " + e.getMessage());
            }
        }
        String micros = output != null || canWriteMicroSign() ? "\u00b5s" : "us";
        printer = new EventPrinter(session::targetOf, targets, out, json,
                new EventFormatter.Columns(threads, times, System.nanoTime(), micros));
        session.startConsumer(printer);
        session.activate(targets, limit);
        for (Target t : targets) {
            if (!t.isArmed()) throw new TraceSetupException("the agent could not arm " + t.label);
        }
        return session;
    }

    private static String mainClassOf(String jarPath) throws TraceSetupException {
        try (JarFile jar = new JarFile(jarPath)) {
            String main = jar.getManifest() == null ? null : jar.getManifest().getMainAttributes().getValue("Main-Class");
            if (main == null) throw new TraceSetupException(jarPath + " names no Main-Class in its manifest");
            return main.trim();
        } catch (IOException e) {
            throw new TraceSetupException("cannot read " + jarPath + ": " + e.getMessage());
        }
    }

    /** Whether standard output's encoding has the micro sign (else durations say "us"). */
    private static boolean canWriteMicroSign() {
        String name = System.getProperty("stdout.encoding", System.getProperty("sun.stdout.encoding"));
        try {
            Charset cs = name != null ? Charset.forName(name) : Charset.defaultCharset();
            return cs.newEncoder().canEncode('\u00b5');
        } catch (RuntimeException e) {
            return false;
        }
    }

    private void run(TraceSession session) {
        Runtime.getRuntime().addShutdownHook(new Thread(() -> finish(session), "vexo-summary"));
        Method main;
        try {
            Class<?> c = Class.forName(mainClass, false, ClassLoader.getSystemClassLoader());
            main = c.getMethod("main", String[].class);
            if (!Modifier.isStatic(main.getModifiers())) throw new NoSuchMethodException();
        } catch (ClassNotFoundException | LinkageError e) {
            System.err.println("vexo-trace: main class " + mainClass + " not found on the class path");
            System.exit(2);
            return;
        } catch (NoSuchMethodException e) {
            System.err.println("vexo-trace: " + mainClass + " has no static main(String[])");
            System.exit(2);
            return;
        }
        try {
            main.invoke(null, (Object) programArgs);
        } catch (InvocationTargetException e) {
            System.err.print("Exception in thread \"main\" ");
            e.getCause().printStackTrace();
            System.exit(1);
        } catch (IllegalAccessException e) {
            System.err.println("vexo-trace: cannot call " + mainClass + ".main: " + e.getMessage());
            System.exit(2);
        }
    }

    private void finish(TraceSession session) {
        boolean complete;
        try {
            complete = session.drain(10_000);
        } catch (InterruptedException e) {
            complete = false;
        }
        printer.printWaiting();
        if (!targets.isEmpty()) out.print(summary(complete));
        if (classes) out.print(classListing(session));
        out.flush();
    }

    /** The loaded classes, sorted, one per line, then their number. */
    private String classListing(TraceSession session) {
        TraceSession.ClassListing listing = session.listClasses();
        StringBuilder b = new StringBuilder();
        if (json) {
            b.append("{\"classes\":[");
            for (int i = 0; i < listing.names.size(); i++) {
                b.append(i == 0 ? "" : ",").append(EventFormatter.quote(listing.names.get(i)));
            }
            return b.append("],\"count\":").append(listing.count).append(",\"modificationCount\":")
                    .append(listing.modificationCount).append("}\n").toString();
        }
        b.append("--- vexo-trace classes: ").append(listing.count).append(" loaded (")
                .append(listing.fromHeapDump ? "from a heap dump" : "from the debug interface")
                .append("), modification count ").append(listing.modificationCount).append('\n');
        for (String name : listing.names) b.append(name).append('\n');
        return b.toString();
    }

    String summary(boolean complete) {
        StringBuilder b = new StringBuilder();
        long total = 0;
        for (Target t : targets) total += printer.counts(t)[EventPrinter.EVENTS];
        boolean overflow = printer.overflow();
        if (json) {
            b.append("{\"summary\":{\"events\":").append(total).append(",\"overflow\":").append(overflow)
                    .append(",\"limit\":").append(limit).append(",\"complete\":").append(complete).append(",\"tracePoints\":{");
            for (int i = 0; i < targets.size(); i++) {
                Target t = targets.get(i);
                b.append(i == 0 ? "" : ",").append(EventFormatter.quote(t.label)).append(':')
                        .append(printer.counts(t)[EventPrinter.EVENTS]);
            }
            b.append('}');
            if (printer.exitsSeen()) {
                b.append(",\"calls\":{");
                String comma = "";
                for (Target t : targets) {
                    if (!t.hasExits()) continue;
                    long[] c = printer.counts(t);
                    b.append(comma).append(EventFormatter.quote(t.label)).append(":{\"calls\":").append(c[EventPrinter.CALLS])
                            .append(",\"thrown\":").append(c[EventPrinter.THROWN])
                            .append(",\"totalNs\":").append(c[EventPrinter.TOTAL_NS])
                            .append(",\"meanNs\":").append(mean(c))
                            .append(",\"maxNs\":").append(c[EventPrinter.MAX_NS]).append('}');
                    comma = ",";
                }
                b.append('}');
            }
            return b.append("}}\n").toString();
        }
        b.append("--- vexo-trace summary: ").append(total).append(total == 1 ? " event\n" : " events\n");
        for (Target t : targets) {
            b.append(String.format("%10d  %s%n", printer.counts(t)[EventPrinter.EVENTS], t.label));
        }
        if (printer.exitsSeen()) b.append(callTable());
        if (overflow) {
            b.append("overflow: the recording limit of ").append(limit).append(" events was reached; later hits were not recorded\n");
        }
        if (!complete) b.append("incomplete: the last events did not arrive in time\n");
        return b.toString();
    }

    /** The calls of the trace points with exits: how many, how many threw, their durations. */
    private String callTable() {
        StringBuilder b = new StringBuilder("--- vexo-trace calls (trace points with exits)\n");
        b.append(String.format("%10s  %6s  %10s  %10s  %10s%n", "calls", "thrown", "total", "mean", "max"));
        String micros = printer.micros();
        for (Target t : targets) {
            if (!t.hasExits()) continue;
            long[] c = printer.counts(t);
            b.append(String.format("%10d  %6d  %10s  %10s  %10s  %s%n", c[EventPrinter.CALLS], c[EventPrinter.THROWN],
                    EventFormatter.duration(c[EventPrinter.TOTAL_NS], micros), EventFormatter.duration(mean(c), micros),
                    EventFormatter.duration(c[EventPrinter.MAX_NS], micros), t.label));
        }
        return b.toString();
    }

    private static long mean(long[] c) {
        return c[EventPrinter.CALLS] == 0 ? 0 : c[EventPrinter.TOTAL_NS] / c[EventPrinter.CALLS];
    }
}

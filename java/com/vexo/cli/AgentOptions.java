package com.vexo.cli;

import com.vexo.TracePoints;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/**
 * The tracer's options as the agent's option string carries them: words separated by commas,
 * each a bare word or {@code name=value}.
 *
 * <pre>
 *   method=CLASS.METHOD[(DESCRIPTOR)][@args|@exits|@args+exits|@exits>1ms|@timing][+stack[=N]]
 *                      a method trace point, written as for vexo-trace's --method
 *   field=CLASS.FIELD[@stack[=N]]  a field trace point
 *   points=FILE        trace points from a file, one a line: "method CLASS.METHOD..." or
 *                      "field CLASS.FIELD"; # starts a comment, anywhere on a line
 *   args, exits        arguments, exits for every method trace point
 *   stack, stack=N     the stack of every event of every trace point, N frames at most (16 by
 *                      default, 256 at most); a trace point's own @stack=N takes precedence
 *   timing             every method trace point's calls counted and timed, not recorded
 *   interval=S         with timing: the timing table of each S seconds as well, and at the end
 *   threads, times     the thread, the time since the start on every line
 *   json               JSON lines
 *   limit=N            record at most N events (1 to 2147483647)
 *   buffer=MB          the memory kept for events not yet written (default 16): a hit that
 *                      finds it full is dropped and counted
 *   output=FILE        events and summary to FILE (else standard error)
 *   html=FILE          at the end, a report page: a timeline, a call tree, field histories
 *   trace-events=FILE  at the end, the events in the Trace Event Format (JSON)
 *   stdout             events and summary to standard output
 *   summary=all        the summary lists every armed trace point (else those with events)
 *   classes            list the loaded classes at exit
 *   profiler           profiler mode (with the agent's word nojvmdi)
 *   strict             a mistake in the options ends the VM with status 2 (for the launcher)
 *   jar=PATH           where the tracer's classes are (read by the agent)
 *   connect=PATH       (attach) the local socket of the command that attached: events and the
 *                      summary go there, and the session ends when it says stop or closes
 *   digests            (attach) say a digest of each class's bytecodes before it is armed and
 *                      after it is restored
 * </pre>
 * The agent's own words (nojvmdi, nojvmpi, breakpoints, watches, and handlings: each class
 * handed to the session marked on standard output) are left to the agent.
 */
final class AgentOptions {
    final List<PointPattern> patterns = new ArrayList<>();
    int limit = 1_000_000;
    int bufferMegabytes = 16;
    int requested;
    int stackDepth;  // with stack=N
    /** With timing: the seconds between the timing tables printed while the program runs (0: at the end only). */
    double intervalSeconds;
    boolean json, threads, times, classes, profiler, stdout, strict, digests, summaryAll;
    String output, connect, html, traceEvents, jar;

    static AgentOptions parse(String options) throws TraceSetupException {
        AgentOptions o = new AgentOptions();
        List<PointPattern> methods = new ArrayList<>();
        List<PointPattern> fields = new ArrayList<>();
        for (String word : options == null ? new String[0] : options.split(",", -1)) {
            int eq = word.indexOf('=');
            String name = eq < 0 ? word : word.substring(0, eq);
            String value = eq < 0 ? null : word.substring(eq + 1);
            switch (name) {
                case "method": methods.add(PointPattern.method(needs(name, value))); break;
                case "field": fields.add(PointPattern.field(needs(name, value))); break;
                case "points": o.readPoints(needs(name, value), methods, fields); break;
                case "args": o.requested |= TracePoints.ARGUMENTS; break;
                case "exits": o.requested |= TracePoints.EXIT; break;
                case "stack":
                    o.requested |= TracePoints.STACK;
                    if (value != null) o.stackDepth = PointPattern.stackDepth(value, "the options");
                    break;
                case "timing": o.requested |= TracePoints.TIMING; break;
                case "interval": o.intervalSeconds = interval(needs(name, value)); break;
                case "threads": o.threads = true; break;
                case "times": o.times = true; break;
                case "json": o.json = true; break;
                case "classes": o.classes = true; break;
                case "profiler": o.profiler = true; break;
                case "stdout": o.stdout = true; break;
                case "strict": o.strict = true; break;
                case "digests": o.digests = true; break;
                case "connect": o.connect = needs(name, value); break;
                case "output": o.output = needs(name, value); break;
                case "html": o.html = needs(name, value); break;
                case "trace-events": o.traceEvents = needs(name, value); break;
                case "summary":
                    if (!"all".equals(value)) throw new TraceSetupException("--summary takes only all, not '" + value + "'");
                    o.summaryAll = true;
                    break;
                case "limit": o.limit = limit(needs(name, value)); break;
                case "buffer":
                    String mb = needs(name, value);
                    try {
                        o.bufferMegabytes = Integer.parseInt(mb);
                    } catch (NumberFormatException e) {
                        o.bufferMegabytes = -1;
                    }
                    if (o.bufferMegabytes < 1 || o.bufferMegabytes > 4096) {
                        throw new TraceSetupException("--buffer needs a number of megabytes from 1 to 4096, not '" + mb + "'");
                    }
                    break;
                case "jar": o.jar = value; break;
                case "nojvmdi": case "nojvmpi": case "breakpoints": case "watches": case "handlings": case "":
                    break;
                default:
                    throw new TraceSetupException("unknown agent option '" + word + "'");
            }
        }
        o.patterns.addAll(methods);
        o.patterns.addAll(fields);
        if (o.patterns.isEmpty() && !o.classes) {
            throw new TraceSetupException("no trace point given (--method, --field or --points), nor --classes");
        }
        int asked = o.requested;
        for (PointPattern p : methods) asked |= p.requested;
        if (o.intervalSeconds > 0 && (asked & TracePoints.TIMING) == 0) {
            throw new TraceSetupException("--interval prints the timing table: it needs --timing or a trace point with @timing");
        }
        if (o.profiler && !fields.isEmpty()) {
            throw new TraceSetupException("field trace points need debug mode: drop --profiler for --field");
        }
        return o;
    }

    private static String needs(String name, String value) throws TraceSetupException {
        if (value == null || value.isEmpty()) throw new TraceSetupException("the agent option " + name + "= needs a value");
        return value;
    }

    /** Seconds, more than 0 and at most a day. */
    private static double interval(String s) throws TraceSetupException {
        double v;
        try {
            v = Double.parseDouble(s);
        } catch (NumberFormatException e) {
            v = -1;
        }
        if (!(v > 0 && v <= 86_400)) throw new TraceSetupException("--interval needs seconds, more than 0 and at most 86400, not '" + s + "'");
        return v;
    }

    /** The recording limit: a whole number from 1 to {@link Integer#MAX_VALUE}. */
    private static int limit(String n) throws TraceSetupException {
        if (!n.matches("[+-]?[0-9]+")) throw new TraceSetupException("--limit needs a whole number, not '" + n + "'");
        java.math.BigInteger value = new java.math.BigInteger(n);
        if (value.signum() <= 0) throw new TraceSetupException("--limit must be at least 1, not " + n);
        if (value.bitLength() > 31) {
            throw new TraceSetupException("--limit must be at most " + Integer.MAX_VALUE + ", not " + n);
        }
        return value.intValue();
    }

    /** The trace points of a file; a mistake there is said with the file and the line, FILE:LINE: ... */
    private void readPoints(String file, List<PointPattern> methods, List<PointPattern> fields) throws TraceSetupException {
        List<String> lines;
        try {
            lines = Files.readAllLines(Paths.get(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new TraceSetupException("cannot read the trace points file " + file + ": " + e.getMessage());
        }
        for (int n = 0; n < lines.size(); n++) {
            String line = lines.get(n);
            int hash = line.indexOf('#');
            if (hash >= 0) line = line.substring(0, hash);
            line = line.trim();
            if (line.isEmpty()) continue;
            String where = file + ":" + (n + 1) + ": ";
            String[] words = line.split("\\s+", 2);
            try {
                if (words.length == 2 && words[0].equals("method")) methods.add(PointPattern.method(words[1]));
                else if (words.length == 2 && words[0].equals("field")) fields.add(PointPattern.field(words[1]));
                else throw new TraceSetupException("bad line '" + line + "' (expected method CLASS.METHOD or field CLASS.FIELD)");
            } catch (TraceSetupException e) {
                throw new TraceSetupException(where + e.getMessage());
            }
        }
    }
}

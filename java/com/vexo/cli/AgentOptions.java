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
 *   method=CLASS.METHOD[(DESCRIPTOR)][@args|@exits|@args+exits]
 *                      a method trace point, written as for vexo-trace's --method
 *   field=CLASS.FIELD  a field trace point
 *   points=FILE        trace points from a file, one a line: "method CLASS.METHOD..." or
 *                      "field CLASS.FIELD"; # starts a comment
 *   args, exits        arguments, exits for every method trace point
 *   threads, times     the thread, the time since the start on every line
 *   json               JSON lines
 *   limit=N            record at most N events
 *   output=FILE        events and summary to FILE (else standard error)
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
    int requested;
    boolean json, threads, times, classes, profiler, stdout, strict, digests, summaryAll;
    String output, connect;

    static AgentOptions parse(String options) throws TraceSetupException {
        AgentOptions o = new AgentOptions();
        List<String> methods = new ArrayList<>();
        List<String> fields = new ArrayList<>();
        for (String word : options == null ? new String[0] : options.split(",", -1)) {
            int eq = word.indexOf('=');
            String name = eq < 0 ? word : word.substring(0, eq);
            String value = eq < 0 ? null : word.substring(eq + 1);
            switch (name) {
                case "method": methods.add(needs(name, value)); break;
                case "field": fields.add(needs(name, value)); break;
                case "points": o.readPoints(needs(name, value), methods, fields); break;
                case "args": o.requested |= TracePoints.ARGUMENTS; break;
                case "exits": o.requested |= TracePoints.EXIT; break;
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
                case "summary":
                    if (!"all".equals(value)) throw new TraceSetupException("--summary takes only all, not '" + value + "'");
                    o.summaryAll = true;
                    break;
                case "limit":
                    String n = needs(name, value);
                    try {
                        o.limit = Integer.parseInt(n);
                    } catch (NumberFormatException e) {
                        throw new TraceSetupException("--limit needs a whole number, not '" + n + "'");
                    }
                    if (o.limit < 0) throw new TraceSetupException("--limit must not be negative");
                    break;
                case "jar": case "nojvmdi": case "nojvmpi": case "breakpoints": case "watches": case "handlings": case "":
                    break;
                default:
                    throw new TraceSetupException("unknown agent option '" + word + "'");
            }
        }
        for (String m : methods) o.patterns.add(PointPattern.method(m));
        for (String f : fields) o.patterns.add(PointPattern.field(f));
        if (o.patterns.isEmpty() && !o.classes) {
            throw new TraceSetupException("no trace point given (--method or --field), nor --classes");
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

    private void readPoints(String file, List<String> methods, List<String> fields) throws TraceSetupException {
        List<String> lines;
        try {
            lines = Files.readAllLines(Paths.get(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new TraceSetupException("cannot read the trace points file " + file + ": " + e.getMessage());
        }
        for (String raw : lines) {
            String line = raw.trim();
            if (line.isEmpty() || line.startsWith("#")) continue;
            String[] words = line.split("\\s+", 2);
            if (words.length == 2 && words[0].equals("method")) methods.add(words[1]);
            else if (words.length == 2 && words[0].equals("field")) fields.add(words[1]);
            else throw new TraceSetupException("bad line in " + file + ": '" + line + "' (expected method CLASS.METHOD or field CLASS.FIELD)");
        }
    }
}

package com.vexo.cli;

import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/** The summary printed at exit, as text or JSON; and the class listing. */
final class Summary {
    private Summary() {}

    static String of(List<Target> armedTargets, EventPrinter printer, ClassArming arming, AgentOptions options,
            boolean complete) {
        return of(armedTargets, printer, arming, options, complete, options.json);
    }

    /** The summary as JSON ({@code json}) or text, whatever the options' output. */
    static String of(List<Target> armedTargets, EventPrinter printer, ClassArming arming, AgentOptions options,
            boolean complete, boolean json) {
        List<Target> targets = byCount(armedTargets, printer, EventPrinter.EVENTS);
        long total = 0, dropped = 0;
        for (Target t : targets) {
            long[] c = printer.counts(t);
            total += c[EventPrinter.EVENTS];
            dropped += c[EventPrinter.DROPPED];
        }
        long undelivered = printer.droppedUnknown();
        boolean overflow = printer.overflow();
        List<String> never = arming.neverMatched();
        Map<String, String> notArmed = arming.notArmed();
        List<String> notes = arming.notes();
        boolean exits = printer.exitsSeen();
        StringBuilder b = new StringBuilder();
        if (json) {
            b.append("{\"summary\":{\"events\":").append(total).append(",\"overflow\":").append(overflow)
                    .append(",\"limit\":").append(options.limit).append(",\"complete\":").append(complete)
                    .append(",\"dropped\":").append(dropped + undelivered)
                    .append(",\"tracePoints\":{");
            for (int i = 0; i < targets.size(); i++) {
                Target t = targets.get(i);
                b.append(i == 0 ? "" : ",").append(EventFormatter.quote(t.label)).append(':')
                        .append(printer.counts(t)[EventPrinter.EVENTS]);
            }
            b.append('}');
            if (dropped > 0) {
                b.append(",\"droppedBy\":{");
                String comma = "";
                for (Target t : targets) {
                    long d = printer.counts(t)[EventPrinter.DROPPED];
                    if (d == 0) continue;
                    b.append(comma).append(EventFormatter.quote(t.label)).append(':').append(d);
                    comma = ",";
                }
                b.append('}');
            }
            if (exits) {
                b.append(",\"calls\":{");
                String comma = "";
                for (Target t : byCount(targets, printer, EventPrinter.TOTAL_NS)) {
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
            jsonList(b, "neverMatched", never);
            if (!notArmed.isEmpty()) {
                b.append(",\"notArmed\":{");
                String comma = "";
                for (Map.Entry<String, String> e : notArmed.entrySet()) {
                    b.append(comma).append(EventFormatter.quote(e.getKey())).append(':').append(EventFormatter.quote(e.getValue()));
                    comma = ",";
                }
                b.append('}');
            }
            jsonList(b, "notes", notes);
            long[] armed = arming.armedCounts();
            if (armed != null) {
                b.append(",\"armed\":{\"tracePoints\":").append(armed[0]).append(",\"classes\":").append(armed[1])
                        .append(",\"ms\":").append(armed[2]).append('}');
            }
            return b.append("}}\n").toString();
        }
        b.append("--- vexo-trace summary: ").append(total).append(total == 1 ? " event\n" : " events\n");
        int quiet = 0;
        for (Target t : targets) {
            long[] c = printer.counts(t);
            if (c[EventPrinter.EVENTS] == 0 && c[EventPrinter.DROPPED] == 0 && !options.summaryAll) {
                quiet++;
                continue;
            }
            b.append(String.format("%10d  %s", c[EventPrinter.EVENTS], t.label));
            if (c[EventPrinter.DROPPED] > 0) b.append(String.format(Locale.ROOT, "  (dropped %,d)", c[EventPrinter.DROPPED]));
            b.append('\n');
        }
        if (quiet > 0) {
            b.append(String.format(Locale.ROOT, "%,d more armed trace point%s had no events%n", quiet,
                    quiet == 1 ? "" : "s"));
        }
        for (String s : never) b.append("never matched: ").append(s).append(" (no class it names was loaded)\n");
        for (Map.Entry<String, String> e : notArmed.entrySet()) {
            b.append("not armed: ").append(e.getKey()).append(": ").append(e.getValue()).append('\n');
        }
        for (String n : notes) b.append("note: ").append(n).append('\n');
        String armed = arming.armingLine();
        if (armed != null) b.append(armed).append('\n');
        if (exits) b.append(callTable(targets, printer));
        if (overflow) {
            b.append("overflow: the recording limit of ").append(options.limit)
                    .append(" events was reached; later hits were not recorded\n");
        }
        if (dropped > 0) {
            b.append(String.format(Locale.ROOT, "dropped %,d events: the tracer fell behind (raise --buffer, or trace fewer points)%n", dropped));
        }
        if (undelivered > 0) {
            b.append(String.format(Locale.ROOT, "dropped %,d events: no memory was left to deliver them%n", undelivered));
        }
        if (printer.printedEarly() > 0) {
            b.append(String.format(Locale.ROOT, "note: %,d entries were printed before their exits came (more calls were open at once than the tracer keeps)%n",
                    printer.printedEarly()));
        }
        if (!complete) {
            long missing = Math.max(0, AgentNatives.recorded() - 1 - total);
            b.append(String.format(Locale.ROOT, "incomplete: %,d recorded events were not written before the trace ended (the output could not keep up)%n",
                    missing));
        }
        return b.toString();
    }

    /** {@code ,"key":["a","b"]}, or nothing for an empty list. */
    private static void jsonList(StringBuilder b, String key, List<String> values) {
        if (values.isEmpty()) return;
        b.append(",\"").append(key).append("\":[");
        for (int i = 0; i < values.size(); i++) b.append(i == 0 ? "" : ",").append(EventFormatter.quote(values.get(i)));
        b.append(']');
    }

    /** The calls of the trace points with exits: how many, how many threw, their durations. */
    private static String callTable(List<Target> targets, EventPrinter printer) {
        StringBuilder b = new StringBuilder("--- vexo-trace calls (trace points with exits)\n");
        b.append(String.format("%10s  %6s  %10s  %10s  %10s%n", "calls", "thrown", "total", "mean", "max"));
        String micros = printer.micros();
        for (Target t : byCount(targets, printer, EventPrinter.TOTAL_NS)) {
            if (!t.hasExits()) continue;
            long[] c = printer.counts(t);
            b.append(String.format("%10d  %6d  %10s  %10s  %10s  %s%n", c[EventPrinter.CALLS], c[EventPrinter.THROWN],
                    EventFormatter.duration(c[EventPrinter.TOTAL_NS], micros), EventFormatter.duration(mean(c), micros),
                    EventFormatter.duration(c[EventPrinter.MAX_NS], micros), t.label));
        }
        return b.toString();
    }

    /** The targets by one of their counts, highest first; ties by label. */
    private static List<Target> byCount(List<Target> targets, EventPrinter printer, int count) {
        List<Target> sorted = new ArrayList<>(targets);
        Map<Target, Long> of = new HashMap<>();
        for (Target t : sorted) of.put(t, printer.counts(t)[count]);
        sorted.sort(Comparator.comparing((Target t) -> -of.get(t)).thenComparing(t -> t.label));
        return sorted;
    }

    private static long mean(long[] c) {
        return c[EventPrinter.CALLS] == 0 ? 0 : c[EventPrinter.TOTAL_NS] / c[EventPrinter.CALLS];
    }

    /** The loaded classes, sorted, one per line, then their number. */
    static String classListing(TraceSession session, boolean json) {
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
}

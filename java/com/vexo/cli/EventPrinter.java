package com.vexo.cli;

import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import java.util.function.Function;

/**
 * Prints deliveries as they arrive, on the consumer thread: each event's line at once, except an
 * entry of a trace point with exits, whose line waits for its exit and then shows the whole call.
 * Counts each trace point's events and, from the exits, its calls and their durations, and hands
 * each line's events to the report files' log when there is one.
 */
final class EventPrinter implements TraceSession.Listener {
    /**
     * Indexes of {@link #counts}: events, calls (exits), exceptions, total and longest duration
     * (ns), events dropped (not recorded: the tracer fell behind).
     */
    static final int EVENTS = 0, CALLS = 1, THROWN = 2, TOTAL_NS = 3, MAX_NS = 4, DROPPED = 5, COUNTS = 6;
    /** Entries waiting for their exits at most, by default. */
    static final int MOST_WAITING = 16_384;

    private final Function<TraceMethodEvent, Target> targetOf;
    private final PrintStream out;
    private final boolean json;
    private final EventFormatter.Columns columns;
    // Targets come as their classes load, on the program's threads: no lock is taken for them.
    private final Map<Target, long[]> counts = new ConcurrentHashMap<>();
    private final CallStacks calls;
    private final ReportLog log;  // null without report files
    private boolean exitsSeen;
    private boolean overflow;
    private long droppedUnknown;  // of no trace point known, or not delivered for want of memory
    private long printedEarly;    // entries printed before their exits came (too many were waiting)
    private boolean closed;

    /** {@code targetOf} finds an event's target (null for events of no target, such as the end mark). */
    EventPrinter(Function<TraceMethodEvent, Target> targetOf, List<Target> targets, PrintStream out, boolean json,
            EventFormatter.Columns columns) {
        this(targetOf, targets, out, json, columns, MOST_WAITING, null);
    }

    /**
     * At most {@code mostWaiting} entries wait for their exits; the oldest beyond are printed as
     * entry lines. Every line's events also go to {@code log}, unless it is null.
     */
    EventPrinter(Function<TraceMethodEvent, Target> targetOf, List<Target> targets, PrintStream out, boolean json,
            EventFormatter.Columns columns, int mostWaiting, ReportLog log) {
        calls = new CallStacks(mostWaiting);
        this.log = log;
        this.targetOf = targetOf;
        this.out = out;
        this.json = json;
        this.columns = columns;
        for (Target t : targets) add(t);
    }

    /** Counts a target's events from now on. */
    void add(Target t) {
        counts.putIfAbsent(t, new long[COUNTS]);
    }

    @Override
    public synchronized void onEvents(TraceMethodEvent[] events, boolean overflowed) {
        // After the delivery that reached the recording limit nothing more was recorded for the
        // program: what comes later was recorded after the limit was lifted for the end mark.
        if (closed || overflow) return;
        if (overflowed) overflow = true;
        StringBuilder lines = this.lines;
        List<TraceMethodEvent> abandoned = new ArrayList<>();
        for (TraceMethodEvent e : events) {
            Target t = targetOf.apply(e);
            if (t == null) continue;
            long[] c = counts.computeIfAbsent(t, k -> new long[COUNTS]);
            c[EVENTS]++;
            if (e instanceof TraceMethodExitEvent) {
                TraceMethodExitEvent exit = (TraceMethodExitEvent) e;
                exitsSeen = true;
                c[CALLS]++;
                if (exit.m_bThrown) c[THROWN]++;
                c[TOTAL_NS] += exit.m_lDuration;
                c[MAX_NS] = Math.max(c[MAX_NS], exit.m_lDuration);
                TraceMethodEvent entry = calls.exit(exit, abandoned);
                for (TraceMethodEvent a : abandoned) line(lines, targetOf.apply(a), a, null);
                abandoned.clear();
                line(lines, t, entry, exit);
            } else if (t.hasExits()) {
                TraceMethodEvent early = calls.enter(e);
                if (early != null) {
                    printedEarly++;
                    line(lines, targetOf.apply(early), early, null);
                }
            } else {
                line(lines, t, e, null);
            }
        }
        write(lines);
    }

    /** Lines are written a few kilobytes at a time: a delivery's text would be one large object. */
    private static final int WRITE_AT = 32 * 1024;
    private final StringBuilder lines = new StringBuilder(WRITE_AT + 1024);

    private void write(StringBuilder lines) {
        out.append(lines);
        out.flush();
        lines.setLength(0);
    }

    private void line(StringBuilder lines, Target t, TraceMethodEvent entry, TraceMethodExitEvent exit) {
        if (t == null) return;
        if (log != null) log.add(t, entry, exit);
        if (json) lines.append(EventFormatter.json(t, entry, exit, columns));
        else EventFormatter.appendText(lines, t, entry, exit, columns);
        lines.append('\n');
        if (lines.length() >= WRITE_AT) write(lines);
    }

    @Override
    public synchronized void onDropped(Target t, long count) {
        if (closed) return;
        if (t == null) droppedUnknown += count;
        else counts.computeIfAbsent(t, k -> new long[COUNTS])[DROPPED] += count;
    }

    /** Events dropped of no known trace point, or not delivered for want of memory. */
    synchronized long droppedUnknown() {
        return droppedUnknown;
    }

    /** Entries printed before their exits came, as more calls were open than the printer keeps. */
    synchronized long printedEarly() {
        return printedEarly;
    }

    /** Takes no more events: what arrives after the summary is not printed. */
    synchronized void close() {
        closed = true;
    }

    /** Prints the entries whose exits never came (the trace stopped first) as entry lines. */
    synchronized void printWaiting() {
        StringBuilder lines = new StringBuilder();
        for (TraceMethodEvent e : calls.takeWaiting()) line(lines, targetOf.apply(e), e, null);
        out.print(lines);
        out.flush();
    }

    /** A copy of a trace point's counts, indexed by {@link #EVENTS} and the others. */
    synchronized long[] counts(Target t) {
        return counts.computeIfAbsent(t, k -> new long[COUNTS]).clone();
    }

    /** Calls the agent only counted (shorter than the trace point's threshold), added to its call statistics. */
    synchronized void addCounted(Target t, long calls, long thrown, long totalNs, long maxNs) {
        long[] c = counts.computeIfAbsent(t, k -> new long[COUNTS]);
        c[CALLS] += calls;
        c[THROWN] += thrown;
        c[TOTAL_NS] += totalNs;
        c[MAX_NS] = Math.max(c[MAX_NS], maxNs);
        if (calls > 0) exitsSeen = true;
    }

    /** Whether any exit arrived: the agent records exits, so the call statistics mean something. */
    synchronized boolean exitsSeen() {
        return exitsSeen;
    }

    /** How durations write microseconds on this output. */
    String micros() {
        return columns.micros;
    }

    synchronized boolean overflow() {
        return overflow;
    }
}

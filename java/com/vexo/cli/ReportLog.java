package com.vexo.cli;

import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.zip.Deflater;
import java.util.zip.DeflaterOutputStream;
import java.util.zip.Inflater;
import java.util.zip.InflaterInputStream;

/**
 * What the report files (--html, --trace-events) are made of: every event the printer writes, as
 * it writes it (a whole call, an entry or an exit alone, a field access), kept as one compact
 * record until the trace ends. Records are varints, deflated as they come, so the program's heap
 * holds a few bytes an event; text (subjects, values that are not numbers) is kept once, in a
 * table of strings. What would exceed a bound is counted instead of kept, and the page says so.
 *
 * <p>A record, each number a varint (zigzag where it may be negative):
 * <pre>
 *   flags     kind (the low 3 bits: CALL, ENTRY, EXIT, READ, ASSIGNED) | THREW | ARGS | RESULT
 *   thread    index into {@link #threadNames()}
 *   point     index into {@link #points()}
 *   subject   index into {@link #strings()}
 *   start     zigzag: ns since the origin, less the previous record's
 *   duration  ns (CALL and EXIT only)
 *   args      a count, then as many values (ARGS only)
 *   value     the result, or the exception when THREW (RESULT only); a field's value (READ, ASSIGNED)
 *   chain     index into {@link #chains()}: the callers of a call from its recorded stack (CHAIN only)
 *   site      index into {@link #strings()}: where a field was accessed, as the text line's "at" (SITE only)
 * </pre>
 * A value is one varint v: {@code v & 3} 0 is a whole number (zigzag {@code v >>> 2}), 1 an index
 * into the strings, 2 one of null, true, false, a float (4 bytes follow, little-endian), a
 * double (8 bytes follow) or a whole number too large for a page's script (the index of its
 * digits in the strings follows) by {@code v >>> 2}. A caller chain is the methods of the stack a
 * call was recorded with, beneath its own frame, outermost first, each a string ("class.method").
 * {@link ReportRecords} reads the records back.
 */
final class ReportLog {
    static final int CALL = 0, ENTRY = 1, EXIT = 2, READ = 3, ASSIGNED = 4;
    static final int KIND = 7, THREW = 8, ARGS = 16, RESULT = 32, CHAIN = 64, SITE = 128;
    /** Distinct caller chains kept; the calls of more are placed by their nesting alone. */
    static final int MOST_CHAINS = 100_000;
    static final int INTEGER = 0, STRING = 1, SPECIAL = 2;
    static final int NULL = 0, TRUE = 1, FALSE = 2, FLOAT = 3, DOUBLE = 4, DIGITS = 5;
    /** The string of a value that was not kept (the table was full). */
    static final int NOT_KEPT = 0;

    /** The bounds of what is kept, beyond which events and values are counted only. */
    static final class Bounds {
        final long events;
        final long deflatedBytes;
        final int strings;
        final long chars;
        final int longestValue;
        final int threads;

        Bounds(long events, long deflatedBytes, int strings, long chars, int longestValue, int threads) {
            this.events = events;
            this.deflatedBytes = deflatedBytes;
            this.strings = strings;
            this.chars = chars;
            this.longestValue = longestValue;
            this.threads = threads;
        }
    }

    /** About 8 MB of heap for a million events of a few trace points, at most some 80 MB. */
    static final Bounds DEFAULT = new Bounds(4_000_000, 48L << 20, 250_000, 8_000_000, 300, 4096);

    /** One trace point as the records name it. */
    static final class Point {
        final String label;
        final boolean field, isStatic, exits, returnsVoid;

        Point(Target t) {
            label = t.label;
            field = t.isField();
            isStatic = t.isStatic();
            exits = t.hasExits();
            returnsVoid = t.returnsVoid();
        }
    }

    private final long origin;
    private final Bounds bounds;
    private final Map<Target, Integer> pointIndex = new IdentityHashMap<>();
    private final List<Point> points = new ArrayList<>();
    // Threads by identity: a program's Thread subclass may redefine equals and hashCode.
    private final Map<Thread, Integer> threadIndex = new IdentityHashMap<>();
    private final List<String> threadNames = new ArrayList<>();
    private final Map<String, Integer> stringIndex = new HashMap<>();
    private final List<String> strings = new ArrayList<>();
    private long chars;
    private final Map<List<Integer>, Integer> chainIndex = new HashMap<>();
    private final List<List<Integer>> chains = new ArrayList<>();
    private long chainsNotKept;
    private int restLane = -1;  // one lane for the events of every thread beyond the bound

    private final ByteArrayOutputStream deflated = new ByteArrayOutputStream(1 << 16);
    private final Deflater deflater = new Deflater(Deflater.BEST_SPEED);
    private final DeflaterOutputStream out = new DeflaterOutputStream(deflated, deflater, 1 << 16);
    private final byte[] buffer = new byte[1 << 16];
    private int at;
    private long previousStart;
    private boolean finished;

    private long kept, records, notKept, valuesNotKept, valuesCut, threadsMerged;
    private String stoppedBecause;

    /** Times are kept as ns since {@code origin} (System.nanoTime when the trace started). */
    ReportLog(long origin, Bounds bounds) {
        this.origin = origin;
        this.bounds = bounds;
        strings.add("\u2026");
    }

    /**
     * One line's events: {@code exit} null for an entry alone or a field access, {@code entry}
     * null for an exit whose entry was not seen. Never throws: the program's heap full, the log
     * stops keeping and says so.
     */
    synchronized void add(Target t, TraceMethodEvent entry, TraceMethodExitEvent exit) {
        int events = entry != null && exit != null ? 2 : 1;
        if (finished || stoppedBecause != null) {
            notKept += events;
            return;
        }
        if (kept + events > bounds.events) {
            stop("the report keeps at most " + bounds.events + " events");
            notKept += events;
            return;
        }
        int recordAt = at;
        long previous = previousStart;
        try {
            record(t, entry, exit);
            kept += events;
            records++;
        } catch (OutOfMemoryError e) {
            at = recordAt;
            previousStart = previous;
            stop("no memory was left to keep them");
            notKept += events;
            return;
        }
        try {
            if (at > buffer.length - 4096) flush();
        } catch (OutOfMemoryError | IOException e) {
            stop("no memory was left to keep them");
        }
        if (deflated.size() > bounds.deflatedBytes) stop("the report keeps at most " + (bounds.deflatedBytes >> 20) + " MB of records");
    }

    private void stop(String why) {
        if (stoppedBecause == null) stoppedBecause = why;
    }

    private void record(Target t, TraceMethodEvent entry, TraceMethodExitEvent exit) {
        TraceMethodEvent first = entry != null ? entry : exit;
        int kind;
        if (t.isField()) kind = EventFormatter.assigned(first) ? ASSIGNED : READ;
        else if (exit == null) kind = ENTRY;
        else kind = entry != null ? CALL : EXIT;
        Object[] args = t.isField() ? null : EventFormatter.arguments(first, exit);
        boolean threw = exit != null && exit.m_bThrown;
        boolean result = t.isField() || (exit != null && (threw || !t.returnsVoid()));
        StackTraceElement site = EventFormatter.site(first);
        int chain = t.isField() ? -1 : chain(EventFormatter.stackOf(first, exit));
        int flags = kind | (threw ? THREW : 0) | (args != null ? ARGS : 0) | (result && !t.isField() ? RESULT : 0)
                | (chain >= 0 ? CHAIN : 0) | (site != null ? SITE : 0);
        long start = EventFormatter.start(first, exit) - origin;
        long duration = exit != null ? exit.m_lDuration : 0;

        varint(flags);
        varint(thread(first.m_Thread));
        varint(point(t));
        varint(string(EventFormatter.subjectText(t, EventFormatter.subjectOf(first, exit))));
        varint(zigzag(start - previousStart));
        previousStart = start;
        if (exit != null) varint(duration);
        if (args != null) {
            varint(args.length);
            for (Object a : args) value(a);
        }
        if (t.isField()) {
            value(EventFormatter.value(t, first));
            if (site != null) varint(string(EventFormatter.frameText(site)));
        } else if (threw) {
            varint(((long) string(EventFormatter.thrownText(exit.m_Exception)) << 2) | STRING);
        } else if (result) {
            value(exit.m_ReturnValue);
        }
        if (chain >= 0) varint(chain);
    }

    /** The index of the callers in {@code stack} (its frames beneath the first), or -1: no stack, or no room. */
    private int chain(StackTraceElement[] stack) {
        if (stack == null || stack.length == 0) return -1;
        List<Integer> callers = new ArrayList<>(stack.length - 1);
        for (int k = stack.length - 1; k >= 1; k--) {
            if (stack[k] != null) callers.add(string(stack[k].getClassName() + "." + stack[k].getMethodName()));
        }
        Integer known = chainIndex.get(callers);
        if (known != null) return known;
        if (chains.size() >= MOST_CHAINS) {
            chainsNotKept++;
            return -1;
        }
        chainIndex.put(callers, chains.size());
        chains.add(callers);
        return chains.size() - 1;
    }

    private void value(Object v) {
        if (v == null) {
            special(NULL);
        } else if (v instanceof Boolean) {
            special((Boolean) v ? TRUE : FALSE);
        } else if (v instanceof Long || v instanceof Integer || v instanceof Short || v instanceof Byte) {
            long n = ((Number) v).longValue();
            // Whole numbers a page's script reads exactly (53 bits); larger ones as their digits.
            if (n > -(1L << 50) && n < 1L << 50) {
                varint(zigzag(n) << 2 | INTEGER);
            } else {
                special(DIGITS);
                varint(string(v.toString()));
            }
        } else if (v instanceof Float) {
            special(FLOAT);
            int bits = Float.floatToRawIntBits((Float) v);
            for (int i = 0; i < 4; i++) buffer[at++] = (byte) (bits >>> (8 * i));
        } else if (v instanceof Double) {
            special(DOUBLE);
            long bits = Double.doubleToRawLongBits((Double) v);
            for (int i = 0; i < 8; i++) buffer[at++] = (byte) (bits >>> (8 * i));
        } else {
            varint((long) string(EventFormatter.valueText(v)) << 2 | STRING);
        }
    }

    private void special(int which) {
        varint(which << 2 | SPECIAL);
    }

    private int point(Target t) {
        Integer i = pointIndex.get(t);
        if (i == null) {
            i = points.size();
            points.add(new Point(t));
            pointIndex.put(t, i);
        }
        return i;
    }

    private int thread(Thread t) {
        Integer i = threadIndex.get(t);
        if (i != null) return i;
        if (threadNames.size() >= bounds.threads) {
            threadsMerged++;
            if (restLane < 0) {
                restLane = threadNames.size();
                threadNames.add("(threads beyond " + bounds.threads + ")");
            }
            return restLane;
        }
        i = threadNames.size();
        threadNames.add(EventFormatter.threadName(t));
        threadIndex.put(t, i);
        return i;
    }

    /** The string's index; {@link #NOT_KEPT} once the table is full. Long text is cut. */
    private int string(String s) {
        if (s.length() > bounds.longestValue) {
            valuesCut++;
            s = s.substring(0, bounds.longestValue) + "\u2026";
        }
        Integer i = stringIndex.get(s);
        if (i != null) return i;
        if (strings.size() >= bounds.strings || chars + s.length() > bounds.chars) {
            valuesNotKept++;
            return NOT_KEPT;
        }
        i = strings.size();
        strings.add(s);
        stringIndex.put(s, i);
        chars += s.length();
        return i;
    }

    private static long zigzag(long n) {
        return (n << 1) ^ (n >> 63);
    }

    private void varint(long v) {
        while ((v & ~0x7fL) != 0) {
            buffer[at++] = (byte) ((v & 0x7f) | 0x80);
            v >>>= 7;
        }
        buffer[at++] = (byte) v;
    }

    private void flush() throws IOException {
        out.write(buffer, 0, at);
        at = 0;
    }

    /** Ends the log: what comes later is counted only. */
    synchronized void finish() {
        if (finished) return;
        finished = true;
        try {
            flush();
            out.finish();
        } catch (IOException | OutOfMemoryError e) {
            stop("no memory was left to keep them");
        }
        deflater.end();
    }

    /** The records, deflated (zlib's format); after {@link #finish}. */
    synchronized byte[] deflatedRecords() {
        return deflated.toByteArray();
    }

    /** Reads the records back, one at a time (after {@link #finish}). */
    synchronized ReportRecords.Reader reader() {
        return new ReportRecords.Reader(new InflaterInputStream(new ByteArrayInputStream(deflated.toByteArray()), new Inflater(), 1 << 16));
    }

    synchronized List<Point> points() {
        return new ArrayList<>(points);
    }

    synchronized List<String> threadNames() {
        return new ArrayList<>(threadNames);
    }

    synchronized List<String> strings() {
        return new ArrayList<>(strings);
    }

    /** The caller chains the records name, each a list of indices into the strings. */
    synchronized List<List<Integer>> chains() {
        return new ArrayList<>(chains);
    }

    /** Calls recorded with a stack whose chain was not kept (beyond {@link #MOST_CHAINS}). */
    synchronized long chainsNotKept() {
        return chainsNotKept;
    }

    /** Records kept; events kept and not kept. */
    synchronized long records() {
        return records;
    }

    synchronized long keptEvents() {
        return kept;
    }

    synchronized long notKeptEvents() {
        return notKept;
    }

    /** Values shown as "…": the table of strings was full. */
    synchronized long valuesNotKept() {
        return valuesNotKept;
    }

    /** Values cut at {@link Bounds#longestValue} characters. */
    synchronized long valuesCut() {
        return valuesCut;
    }

    /** Events of threads beyond the bound, put in one lane. */
    synchronized long threadsMerged() {
        return threadsMerged;
    }

    /** Why events stopped being kept, or null. */
    synchronized String stoppedBecause() {
        return stoppedBecause;
    }

    Bounds bounds() {
        return bounds;
    }

    /** When the trace started, on the events' clock. */
    long origin() {
        return origin;
    }

}

package com.vexo.cli;

import com.vexo.TracePoints;
import java.util.ArrayList;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * The calls of the timed trace points ({@code @timing}), as the agent counts them: taken from
 * the agent at each interval and at the end, and summed over the whole trace.
 */
final class TimingTable {
    static final int CALLS = 0, THROWN = 1, TOTAL_NS = 2, MIN_NS = 3, MAX_NS = 4, UNTIMED = 5, HISTOGRAM = 6;
    static final int BUCKETS = 40;
    static final int COLUMNS = HISTOGRAM + BUCKETS;
    /** The open calls a thread keeps times for; calls entered beyond are counted without one. */
    static final int MOST_OPEN = 4096;

    private final Map<TracePoints.TracePoint, long[]> total = new IdentityHashMap<>();
    private long unattributed, allUnattributed;
    private int intervals;

    /** A row: the target and its columns. */
    static final class Row {
        final Target target;
        final long[] c;

        Row(Target target, long[] c) {
            this.target = target;
            this.c = c;
        }
    }

    /** What the agent counted since the last take, by target, also added to the total. */
    synchronized List<Row> take(List<Target> targets) {
        Map<TracePoints.TracePoint, Target> of = new IdentityHashMap<>();
        for (Target t : targets) of.put(t.point, t);
        List<Row> rows = new ArrayList<>();
        Object[] got = AgentNatives.timing();
        if (got == null || got.length != 2) return rows;
        TracePoints.TracePoint[] points = (TracePoints.TracePoint[]) got[0];
        long[] columns = (long[]) got[1];
        for (int i = 0; i < points.length; i++) {
            long[] c = new long[COLUMNS];
            System.arraycopy(columns, i * COLUMNS, c, 0, COLUMNS);
            long[] sum = total.get(points[i]);
            if (sum == null) {
                total.put(points[i], sum = new long[COLUMNS]);
                sum[MIN_NS] = -1;
            }
            add(sum, c);
            Target t = of.get(points[i]);
            if (t != null) rows.add(new Row(t, c));
        }
        unattributed += columns[columns.length - 1];
        allUnattributed += columns[columns.length - 1];
        return rows;
    }

    private static void add(long[] into, long[] c) {
        for (int k = 0; k < COLUMNS; k++) {
            if (k == MIN_NS) {
                if (c[k] != -1 && (into[k] == -1 || c[k] < into[k])) into[k] = c[k];
            } else if (k == MAX_NS) {
                into[k] = Math.max(into[k], c[k]);
            } else {
                into[k] += c[k];
            }
        }
    }

    /** The rows of the timed trace points (the others' rows are the calls their thresholds left out). */
    static List<Row> timed(List<Row> rows) {
        List<Row> kept = new ArrayList<>();
        for (Row r : rows) {
            if (r.target.hasTiming()) kept.add(r);
        }
        return kept;
    }

    /** The whole trace's rows, after a last take. */
    synchronized List<Row> totals(List<Target> targets) {
        take(targets);
        List<Row> rows = new ArrayList<>();
        for (Target t : targets) {
            long[] c = total.get(t.point);
            if (c != null && c[CALLS] > 0) rows.add(new Row(t, c));
        }
        return rows;
    }

    synchronized int nextInterval() {
        return ++intervals;
    }

    /**
     * The duration below which a share {@code q} of the timed calls fall, from the histogram: within
     * its power-of-two bucket by the call's rank there, and never outside the shortest and longest.
     */
    static long percentile(long[] c, double q) {
        long timed = c[CALLS] - c[UNTIMED];
        if (timed <= 0) return 0;
        long rank = Math.max(1, (long) Math.ceil(q * timed));
        long before = 0;
        for (int b = 0; b < BUCKETS; b++) {
            long n = c[HISTOGRAM + b];
            if (before + n >= rank) {
                double lo = b == 0 ? 0 : Math.pow(2, b), hi = Math.pow(2, b + 1);
                long v = (long) (lo + (hi - lo) * (rank - before - 0.5) / n);
                if (c[MIN_NS] >= 0) v = Math.max(v, c[MIN_NS]);
                return Math.min(v, c[MAX_NS]);
            }
            before += n;
        }
        return c[MAX_NS];
    }

    static long mean(long[] c) {
        long timed = c[CALLS] - c[UNTIMED];
        return timed <= 0 ? 0 : c[TOTAL_NS] / timed;
    }

    private static List<Row> byTotal(List<Row> rows) {
        List<Row> sorted = new ArrayList<>(rows);
        sorted.sort((a, b) -> a.c[TOTAL_NS] != b.c[TOTAL_NS] ? Long.compare(b.c[TOTAL_NS], a.c[TOTAL_NS])
                : a.target.label.compareTo(b.target.label));
        return sorted;
    }

    /** The table as text; {@code title} says which (the whole trace, or an interval). */
    static String text(List<Row> rows, String title, String micros, long unattributed) {
        StringBuilder b = new StringBuilder("--- vexo-trace timing").append(title).append('\n');
        b.append(String.format("%10s  %6s  %10s  %10s  %10s  %10s  %10s  %s%n", "calls", "thrown", "total", "mean", "p50",
                "p99", "max", "method"));
        long untimed = 0;
        for (Row r : byTotal(rows)) {
            long[] c = r.c;
            b.append(String.format("%10d  %6d  %10s  %10s  %10s  %10s  %10s  %s%n", c[CALLS], c[THROWN],
                    EventFormatter.duration(c[TOTAL_NS], micros), EventFormatter.duration(mean(c), micros),
                    EventFormatter.duration(percentile(c, 0.5), micros),
                    EventFormatter.duration(percentile(c, 0.99), micros), EventFormatter.duration(c[MAX_NS], micros),
                    r.target.label));
            untimed += c[UNTIMED];
        }
        if (untimed > 0) {
            b.append(String.format(Locale.ROOT, "note: %,d calls were counted without a duration (more than %d timed calls open on one thread)%n",
                    untimed, MOST_OPEN));
        }
        if (unattributed > 0) {
            b.append(String.format(Locale.ROOT, "note: %,d timed calls were not counted (no memory for their thread's counters)%n",
                    unattributed));
        }
        return b.toString();
    }

    /** The table as one JSON line: {"timing":{LABEL:{...},...}} with "interval":N for an interval. */
    static String json(List<Row> rows, int interval, long unattributed) {
        StringBuilder b = new StringBuilder("{\"timing\":{");
        String comma = "";
        for (Row r : byTotal(rows)) {
            long[] c = r.c;
            b.append(comma).append(EventFormatter.quote(r.target.label)).append(":{\"calls\":").append(c[CALLS])
                    .append(",\"thrown\":").append(c[THROWN]).append(",\"totalNs\":").append(c[TOTAL_NS])
                    .append(",\"meanNs\":").append(mean(c)).append(",\"p50Ns\":").append(percentile(c, 0.5))
                    .append(",\"p99Ns\":").append(percentile(c, 0.99)).append(",\"minNs\":").append(Math.max(0, c[MIN_NS]))
                    .append(",\"maxNs\":").append(c[MAX_NS]);
            if (c[UNTIMED] > 0) b.append(",\"untimed\":").append(c[UNTIMED]);
            b.append('}');
            comma = ",";
        }
        b.append('}');
        if (interval > 0) b.append(",\"interval\":").append(interval);
        if (unattributed > 0) b.append(",\"notCounted\":").append(unattributed);
        return b.append("}\n").toString();
    }

    /** The calls not counted over the whole trace. */
    synchronized long allUnattributed() {
        return allUnattributed;
    }

    synchronized long takeUnattributed() {
        long n = unattributed;
        unattributed = 0;
        return n;
    }
}

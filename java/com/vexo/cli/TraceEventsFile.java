package com.vexo.cli;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.List;

/**
 * The trace in the Trace Event Format (the JSON object form) that chrome://tracing, Perfetto's UI
 * and speedscope open: a complete event ("X") per call with its subject, arguments, result or
 * exception in {@code args} and its duration; an instant event ("i", thread scope) per field access
 * and per entry without its exit; the process's and each thread's name as metadata ("M"). Times
 * are microseconds since the trace started, to the nanosecond.
 */
final class TraceEventsFile {
    private TraceEventsFile() {}

    static void write(OutputStream out, ReportLog log, ReportHeader header) throws IOException {
        List<ReportLog.Point> points = log.points();
        List<String> threads = log.threadNames();
        List<String> strings = log.strings();
        String pid = Long.toString(header.pid);
        StringBuilder b = new StringBuilder(1 << 16);
        b.append("{\"traceEvents\":[\n");
        b.append("{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":").append(pid).append(",\"tid\":0,\"args\":{\"name\":")
                .append(EventFormatter.quote(header.program != null ? header.program : "java")).append("}}");
        for (int i = 0; i < threads.size(); i++) {
            b.append(",\n{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":").append(pid).append(",\"tid\":").append(i + 1)
                    .append(",\"args\":{\"name\":").append(EventFormatter.quote(threads.get(i))).append("}}");
        }
        ReportRecords.Reader reader = log.reader();
        ReportRecords.Record r = new ReportRecords.Record();
        while (reader.next(r)) {
            ReportLog.Point p = points.get(r.point);
            int kind = r.kind();
            boolean complete = kind == ReportLog.CALL || kind == ReportLog.EXIT;
            b.append(",\n{\"name\":").append(EventFormatter.quote(p.label)).append(",\"cat\":\"")
                    .append(p.field ? "field" : complete ? "call" : "entry").append("\",\"ph\":\"")
                    .append(complete ? "X" : "i").append('"');
            if (!complete) b.append(",\"s\":\"t\"");
            b.append(",\"ts\":");
            micros(b, r.start);
            if (complete) {
                b.append(",\"dur\":");
                micros(b, r.duration);
            }
            b.append(",\"pid\":").append(pid).append(",\"tid\":").append(r.thread + 1);
            b.append(",\"args\":{\"subject\":").append(EventFormatter.quote(strings.get(r.subject)));
            if (p.field) {
                b.append(",\"access\":\"").append(kind == ReportLog.ASSIGNED ? "assigned" : "read").append("\",\"value\":");
                value(b, r.value, strings);
                if (r.site >= 0) b.append(",\"site\":").append(EventFormatter.quote(strings.get(r.site)));
            }
            if (r.hasArgs) {
                b.append(",\"args\":[");
                for (int i = 0; i < r.args.size(); i++) {
                    if (i > 0) b.append(',');
                    value(b, r.args.get(i), strings);
                }
                b.append(']');
            }
            if (!p.field && r.hasValue) {
                b.append((r.flags & ReportLog.THREW) != 0 ? ",\"thrown\":" : ",\"return\":");
                value(b, r.value, strings);
            }
            if (kind == ReportLog.EXIT) b.append(",\"entry\":\"not seen\"");
            if (kind == ReportLog.ENTRY && p.exits) b.append(",\"exit\":\"not seen\"");
            b.append("}}");
            if (b.length() > 60_000) {
                out.write(b.toString().getBytes(StandardCharsets.UTF_8));
                b.setLength(0);
            }
        }
        b.append("\n],\"displayTimeUnit\":\"ns\",\"otherData\":{\"program\":")
                .append(EventFormatter.quoteOrNull(header.program)).append(",\"jvm\":").append(EventFormatter.quoteOrNull(header.jvm))
                .append(",\"events\":").append(log.keptEvents()).append(",\"eventsNotKept\":").append(log.notKeptEvents())
                .append("}}\n");
        out.write(b.toString().getBytes(StandardCharsets.UTF_8));
    }

    /** ns as µs with three decimals, exactly. */
    static void micros(StringBuilder b, long ns) {
        if (ns < 0) {
            b.append('-');
            ns = -ns;
        }
        long frac = ns % 1000;
        b.append(ns / 1000).append('.');
        if (frac < 100) b.append('0');
        if (frac < 10) b.append('0');
        b.append(frac);
    }

    private static void value(StringBuilder b, Object v, List<String> strings) {
        if (v instanceof ReportRecords.StringRef) {
            b.append(EventFormatter.quote(strings.get(((ReportRecords.StringRef) v).index)));
        } else if (v instanceof ReportRecords.Digits) {
            b.append(strings.get(((ReportRecords.Digits) v).index));
        } else if (v instanceof Double || v instanceof Float) {
            double d = ((Number) v).doubleValue();
            b.append(Double.isNaN(d) || Double.isInfinite(d) ? EventFormatter.quote(v.toString()) : v.toString());
        } else {
            b.append(v);  // a whole number, true, false or null
        }
    }
}

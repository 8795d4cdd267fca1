package com.vexo.cli;

import static com.vexo.cli.ReportLog.*;

import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.List;

/** The records of a {@link ReportLog} read back, in the format it describes, for the trace-events file. */
final class ReportRecords {
    private ReportRecords() {}

    /** A record read back: the fields of the format above, values as the page shows them. */
    static final class Record {
        int flags, thread, point, subject;
        long start, duration;
        final List<Object> args = new ArrayList<>();
        boolean hasArgs;
        /** The result, exception or field value (a Long, a Double, a String index as {@link StringRef}, ...). */
        Object value;
        boolean hasValue;
        /** The caller chain, an index into the log's chains; -1 when none was recorded. */
        int chain;
        /** Where a field was accessed, an index into the strings; -1 when not recorded. */
        int site;

        int kind() {
            return flags & KIND;
        }
    }

    /** A value that is a string of the table. */
    static final class StringRef {
        final int index;

        StringRef(int index) {
            this.index = index;
        }
    }

    /** A whole number kept as its digits: an index into the strings. */
    static final class Digits {
        final int index;

        Digits(int index) {
            this.index = index;
        }
    }

    /** The records in the order they were written. */
    static final class Reader {
        private final InputStream in;
        private long previousStart;

        Reader(InputStream in) {
            this.in = in;
        }

        /** The next record into {@code r}; false at the end. */
        boolean next(Record r) throws IOException {
            int b = in.read();
            if (b < 0) return false;
            r.flags = (int) varint(b);
            r.thread = (int) varint(in.read());
            r.point = (int) varint(in.read());
            r.subject = (int) varint(in.read());
            long delta = varint(in.read());
            r.start = previousStart + ((delta >>> 1) ^ -(delta & 1));
            previousStart = r.start;
            int kind = r.flags & KIND;
            r.duration = kind == CALL || kind == EXIT ? varint(in.read()) : 0;
            r.args.clear();
            r.hasArgs = (r.flags & ARGS) != 0;
            if (r.hasArgs) {
                long n = varint(in.read());
                for (long i = 0; i < n; i++) r.args.add(value());
            }
            r.hasValue = (r.flags & RESULT) != 0 || kind == READ || kind == ASSIGNED;
            r.value = r.hasValue ? value() : null;
            r.chain = (r.flags & CHAIN) != 0 ? (int) varint(read()) : -1;
            r.site = (r.flags & SITE) != 0 ? (int) varint(read()) : -1;
            return true;
        }

        private Object value() throws IOException {
            long v = varint(in.read());
            switch ((int) (v & 3)) {
                case INTEGER: {
                    long z = v >>> 2;
                    return (z >>> 1) ^ -(z & 1);
                }
                case STRING: return new StringRef((int) (v >>> 2));
                default:
                    switch ((int) (v >>> 2)) {
                        case TRUE: return Boolean.TRUE;
                        case FALSE: return Boolean.FALSE;
                        case FLOAT: return Float.intBitsToFloat((int) bytes(4));
                        case DOUBLE: return Double.longBitsToDouble(bytes(8));
                        case DIGITS: return new Digits((int) varint(read()));
                        default: return null;
                    }
            }
        }

        private long bytes(int n) throws IOException {
            long bits = 0;
            for (int i = 0; i < n; i++) bits |= (long) (read()) << (8 * i);
            return bits;
        }

        private int read() throws IOException {
            int b = in.read();
            if (b < 0) throw new EOFException("a record ends early");
            return b;
        }

        private long varint(int first) throws IOException {
            if (first < 0) throw new EOFException("a record ends early");
            long v = first & 0x7f;
            int shift = 7;
            int b = first;
            while ((b & 0x80) != 0) {
                b = read();
                v |= (long) (b & 0x7f) << shift;
                shift += 7;
            }
            return v;
        }
    }
}

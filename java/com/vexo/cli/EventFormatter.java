package com.vexo.cli;

import com.vexo.TraceFieldDoubleEvent;
import com.vexo.TraceFieldEvent;
import com.vexo.TraceFieldFloatEvent;
import com.vexo.TraceFieldIntEvent;
import com.vexo.TraceFieldObjectEvent;
import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import com.vexo.TracePoints;
import java.util.Locale;

/**
 * One delivered event as a readable line or as a JSON object; a call with its exit as one line.
 *
 * <p>Beyond the trace point and its subject (and a field's access and value), a line shows what
 * the agent recorded when it was asked for it: the arguments, the call's outcome and duration,
 * the thread and the time. A column whose data the agent did not fill is left out, so a line
 * without them is today's line byte for byte.
 */
public final class EventFormatter {
    private EventFormatter() {}

    /** The columns a line shows beyond the trace point's own. */
    public static final class Columns {
        /** The thread on every line (lines of trace points with arguments or exits always show it). */
        final boolean threads;
        /** The time since {@link #origin} on every line. */
        final boolean times;
        /** When the trace started, on the events' clock (System.nanoTime). */
        final long origin;
        /** How microseconds are written: "µs", or "us" where the output cannot encode the sign. */
        final String micros;

        public Columns(boolean threads, boolean times, long origin, String micros) {
            this.threads = threads;
            this.times = times;
            this.origin = origin;
            this.micros = micros;
        }
    }

    /**
     * {@code demo.Account@1b6d3586}, or null for no subject; a lambda by the method that holds its
     * code, {@code app.Main.lambda$main$0@5e00b384}.
     */
    public static String identity(Object o) {
        if (o == null) return null;
        return appendIdentity(new StringBuilder(), o).toString();
    }

    private static final char[] HEX_DIGITS = "0123456789abcdef".toCharArray();

    /** Appends {@link #identity}'s text of {@code o} (not null), as Integer.toHexString writes the hash. */
    static StringBuilder appendIdentity(StringBuilder b, Object o) {
        b.append(SHOWN_NAME.get(o.getClass())).append('@');
        int hash = System.identityHashCode(o);
        int shift = hash == 0 ? 0 : (31 - Integer.numberOfLeadingZeros(hash)) & ~3;
        for (; shift >= 0; shift -= 4) b.append(HEX_DIGITS[(hash >>> shift) & 0xf]);
        return b;
    }

    /** The name a class's objects are shown by, worked out once a class (a trace has millions of lines). */
    private static final ClassValue<String> SHOWN_NAME = new ClassValue<String>() {
        @Override
        protected String computeValue(Class<?> c) {
            String lambda = ValueNames.lambdaTarget(c);
            return lambda != null ? lambda : c.getName();
        }
    };

    /** How many elements of an array a value shows. */
    static final int ARRAY_ELEMENTS = 8;

    /**
     * An array with its first elements, {@code int[3]{1, 2, 3}}, {@code java.lang.Object[10]{...,
     * ...}} past the eighth; the elements as values are shown, an array inside by identity.
     */
    static String arrayText(Object array) {
        int length = java.lang.reflect.Array.getLength(array);
        StringBuilder b = new StringBuilder(arrayType(array.getClass(), length)).append('{');
        for (int i = 0; i < Math.min(length, ARRAY_ELEMENTS); i++) {
            Object element = java.lang.reflect.Array.get(array, i);
            b.append(i == 0 ? "" : ", ").append(element != null && element.getClass().isArray() ? identity(element) : valueText(element));
        }
        if (length > ARRAY_ELEMENTS) b.append(", ...");
        return b.append('}').toString();
    }

    /** {@code int[3]}, {@code java.lang.String[2][]}: the type as a new array of that length is written. */
    static String arrayType(Class<?> type, int length) {
        Class<?> element = type.getComponentType();
        StringBuilder dimensions = new StringBuilder();
        while (element.isArray()) {
            dimensions.append("[]");
            element = element.getComponentType();
        }
        return element.getName() + "[" + length + "]" + dimensions;
    }

    /** A thrown exception, with its message as the exception holds it: {@code java.lang.IllegalStateException@1b6d3586: "thrown"}. */
    static String thrownText(Throwable e) {
        if (e == null) return "(collected)";
        String message = ValueNames.message(e);
        return message != null ? identity(e) + ": " + quote(message) : identity(e);
    }

    /** The value of a field event as a Java value (boxed), by the target's value kind. */
    public static Object value(Target target, TraceMethodEvent event) {
        if (event instanceof TraceFieldIntEvent) {
            long v = ((TraceFieldIntEvent) event).m_lValue;
            switch (target.valueKind()) {
                case TracePoints.VALUE_INT: return (int) v;
                case TracePoints.VALUE_SHORT: return (short) v;
                case TracePoints.VALUE_BYTE: return (byte) v;
                case TracePoints.VALUE_BOOLEAN: return (v & 0xff) != 0;
                case TracePoints.VALUE_CHAR: return (char) v;
                default: return v;
            }
        }
        if (event instanceof TraceFieldFloatEvent) return ((TraceFieldFloatEvent) event).m_fValue;
        if (event instanceof TraceFieldDoubleEvent) return ((TraceFieldDoubleEvent) event).m_dValue;
        if (event instanceof TraceFieldObjectEvent) return ((TraceFieldObjectEvent) event).m_Value;
        return null;
    }

    public static boolean assigned(TraceMethodEvent event) {
        return event instanceof TraceFieldEvent && ((TraceFieldEvent) event).m_bAssigned;
    }

    /** Strings and boxed values as themselves; any other object by identity, never by toString. */
    static String valueText(Object v) {
        if (v == null) return "null";
        if (v instanceof String) return quote((String) v);
        if (v instanceof Character) return quote(v.toString()).replace('"', '\'');
        if (v instanceof Number || v instanceof Boolean) return v.toString();
        if (v.getClass().isArray()) return arrayText(v);
        return identity(v);
    }

    static String subjectText(Target target, TraceMethodEvent event) {
        return appendSubject(new StringBuilder(), target, event).toString();
    }

    private static StringBuilder appendSubject(StringBuilder b, Target target, TraceMethodEvent event) {
        if (target.isStatic()) return b.append("static");
        return event.m_Subject != null ? appendIdentity(b, event.m_Subject) : b.append("(collected)");
    }

    /** The trace point, the subject and a field event's access and value. */
    private static StringBuilder appendHead(StringBuilder b, Target target, TraceMethodEvent event) {
        appendSubject(b.append(target.label).append("  "), target, event);
        if (target.isField()) {
            b.append(assigned(event) ? "  assigned " : "  read     ").append(valueText(value(target, event)));
        }
        return b;
    }

    /**
     * Appends a line of {@code entry} with the columns asked for to {@code b}. With {@code exit} it
     * is the whole call: arguments, {@code -> value}, {@code -> void} or {@code threw class@hash},
     * and the duration. {@code entry} is null for an exit whose entry was not seen; {@code exit} is
     * null for an entry line or a field event.
     */
    static StringBuilder appendText(StringBuilder b, Target target, TraceMethodEvent entry, TraceMethodExitEvent exit,
                                    Columns columns) {
        TraceMethodEvent first = entry != null ? entry : exit;
        appendHead(b, target, subjectOf(first, exit));
        Object[] args = arguments(first, exit);
        if (args != null) {
            b.append("  (");
            for (int i = 0; i < args.length; i++) b.append(i == 0 ? "" : ", ").append(valueText(args[i]));
            b.append(')');
        }
        if (exit != null) {
            b.append("  ");
            if (exit.m_bThrown) {
                b.append("threw ").append(thrownText(exit.m_Exception));
            } else {
                b.append("-> ").append(target.returnsVoid() ? "void" : valueText(exit.m_ReturnValue));
            }
            b.append("  ").append(duration(exit.m_lDuration, columns.micros));
        }
        if (showsThread(target, first, columns)) b.append("  [").append(threadName(first.m_Thread)).append(']');
        if (showsTime(first, exit, columns)) {
            b.append("  ").append(String.format(Locale.ROOT, "%+.3f ms", (start(first, exit) - columns.origin) / 1e6));
        }
        StackTraceElement site = site(first);
        if (site != null) b.append("  at ").append(frameText(site));
        StackTraceElement[] stack = stackOf(first, exit);
        if (stack != null) {
            for (StackTraceElement f : stack) {
                if (f != null) b.append("\n    at ").append(frameText(f));
            }
        }
        return b;
    }

    /** Where a field event happened, when the agent said. */
    static StackTraceElement site(TraceMethodEvent event) {
        return event instanceof TraceFieldEvent ? ((TraceFieldEvent) event).m_Site : null;
    }

    /** The stack recorded at the entry (or, without it, the exit's); null when none was. */
    static StackTraceElement[] stackOf(TraceMethodEvent first, TraceMethodExitEvent exit) {
        if (first.m_Stack != null || exit == null) return first.m_Stack;
        return exit.m_Stack;
    }

    /** A frame as a Java stack trace writes it: {@code demo.Account.deposit(Account.java:12)}. */
    static String frameText(StackTraceElement f) {
        String where = f.isNativeMethod() ? "Native Method"
                : f.getFileName() == null ? "Unknown Source"
                : f.getLineNumber() >= 0 ? f.getFileName() + ":" + f.getLineNumber() : f.getFileName();
        return f.getClassName() + "." + f.getMethodName() + "(" + where + ")";
    }

    /** The JSON object of {@link #appendText}'s line. */
    public static String json(Target target, TraceMethodEvent entry, TraceMethodExitEvent exit, Columns columns) {
        TraceMethodEvent first = entry != null ? entry : exit;
        StringBuilder b = jsonFields(target, subjectOf(first, exit));
        Object[] args = arguments(first, exit);
        if (args != null) {
            b.append(",\"args\":[");
            for (int i = 0; i < args.length; i++) b.append(i == 0 ? "" : ",").append(jsonValue(args[i]));
            b.append(']');
        }
        if (exit != null) {
            if (exit.m_bThrown) {
                b.append(",\"thrown\":").append(jsonThrown(exit.m_Exception));
            } else if (!target.returnsVoid()) {
                b.append(",\"return\":").append(jsonValue(exit.m_ReturnValue));
            }
            b.append(",\"durationNs\":").append(exit.m_lDuration);
        }
        if (showsThread(target, first, columns)) {
            b.append(",\"thread\":").append(first.m_Thread != null ? quote(first.m_Thread.getName()) : "null");
        }
        if (showsTime(first, exit, columns)) b.append(",\"timeNs\":").append(start(first, exit) - columns.origin);
        StackTraceElement site = site(first);
        if (site != null) b.append(",\"site\":").append(jsonFrame(site));
        StackTraceElement[] stack = stackOf(first, exit);
        if (stack != null) {
            b.append(",\"stack\":[");
            String comma = "";
            for (StackTraceElement f : stack) {
                if (f == null) continue;
                b.append(comma).append(jsonFrame(f));
                comma = ",";
            }
            b.append(']');
        }
        return b.append('}').toString();
    }

    /** A frame or a site in JSON: {@code {"class":...,"method":...,"file":...,"line":12}}. */
    static String jsonFrame(StackTraceElement f) {
        return "{\"class\":" + quote(f.getClassName()) + ",\"method\":" + quote(f.getMethodName()) + ",\"file\":"
                + quoteOrNull(f.getFileName()) + ",\"line\":" + f.getLineNumber() + "}";
    }

    /** The event whose subject a call shows: a constructor's entry has none yet, its exit has the object made. */
    static TraceMethodEvent subjectOf(TraceMethodEvent first, TraceMethodExitEvent exit) {
        return first.m_Subject == null && exit != null ? exit : first;
    }

    /** The arguments recorded at the entry (or, without it, any the exit carries); null when none were. */
    static Object[] arguments(TraceMethodEvent first, TraceMethodExitEvent exit) {
        if (first.m_Arguments != null || exit == null) return first.m_Arguments;
        return exit.m_Arguments;
    }

    /**
     * An agent that fills the thread and time fills them on every event, and its clock is never at
     * zero; an event without either comes from an agent that does not record them.
     */
    private static boolean recorded(TraceMethodEvent e) {
        return e.m_Thread != null || e.m_lTime != 0;
    }

    private static boolean showsThread(Target target, TraceMethodEvent first, Columns columns) {
        return (columns.threads || target.hasArguments() || target.hasExits()) && recorded(first);
    }

    private static boolean showsTime(TraceMethodEvent first, TraceMethodExitEvent exit, Columns columns) {
        return columns.times && (first.m_lTime != 0 || (exit != null && exit.m_lTime != 0));
    }

    /** When the call began: its entry's time, or its exit's less its duration. */
    static long start(TraceMethodEvent first, TraceMethodExitEvent exit) {
        if (first.m_lTime != 0 && first != exit) return first.m_lTime;
        return exit != null ? exit.m_lTime - exit.m_lDuration : first.m_lTime;
    }

    /** A thread's name (Thread.getName is final: no program code runs); "?" when it was collected. */
    static String threadName(Thread t) {
        return t != null ? t.getName() : "?";
    }

    /** A duration in a readable unit: 850 ns, 1.2 µs, 3.4 ms, 1.25 s. */
    public static String duration(long ns, String micros) {
        if (ns < 1_000) return ns + " ns";
        if (ns < 999_950) return String.format(Locale.ROOT, "%.1f %s", ns / 1e3, micros);
        if (ns < 999_950_000) return String.format(Locale.ROOT, "%.1f ms", ns / 1e6);
        return String.format(Locale.ROOT, "%.2f s", ns / 1e9);
    }

    public static String json(Target target, TraceMethodEvent event) {
        return jsonFields(target, event).append('}').toString();
    }

    /** The fields of {@link #json(Target, TraceMethodEvent)}'s object, the object still open. */
    private static StringBuilder jsonFields(Target target, TraceMethodEvent event) {
        StringBuilder b = new StringBuilder("{\"tracePoint\":").append(quote(target.label));
        b.append(",\"kind\":\"").append(target.isField() ? "field" : "method").append('"');
        if (target.isStatic()) {
            b.append(",\"static\":true");
        } else if (event.m_Subject != null) {
            b.append(",\"subjectClass\":").append(quote(event.m_Subject.getClass().getName()));
            b.append(",\"identityHash\":").append(quote(Integer.toHexString(System.identityHashCode(event.m_Subject))));
        } else {
            b.append(",\"subjectClass\":null");
        }
        if (target.isField()) {
            b.append(",\"access\":\"").append(assigned(event) ? "assigned" : "read").append('"');
            b.append(",\"value\":").append(jsonValue(value(target, event)));
        }
        return b;
    }

    private static String jsonValue(Object v) {
        if (v == null) return "null";
        if (v instanceof Boolean) return v.toString();
        if (v instanceof Number) {
            double d = ((Number) v).doubleValue();
            return Double.isNaN(d) || Double.isInfinite(d) ? quote(v.toString()) : v.toString();
        }
        if (v instanceof String || v instanceof Character) return quote(v.toString());
        return jsonObject(v, true).append('}').toString();
    }

    /**
     * An object: its class and identity hash (the same hex string as an event's identityHash), a
     * lambda's {@code lambda} (the method that holds its code), an array's {@code length} and first
     * {@code elements} (an array among them by class and identity alone); the object still open.
     */
    private static StringBuilder jsonObject(Object v, boolean elements) {
        StringBuilder b = new StringBuilder("{\"class\":").append(quote(v.getClass().getName()))
                .append(",\"identityHash\":").append(quote(Integer.toHexString(System.identityHashCode(v))));
        String lambda = ValueNames.lambdaTarget(v.getClass());
        if (lambda != null) b.append(",\"lambda\":").append(quote(lambda));
        if (elements && v.getClass().isArray()) {
            int length = java.lang.reflect.Array.getLength(v);
            b.append(",\"length\":").append(length).append(",\"elements\":[");
            for (int i = 0; i < Math.min(length, ARRAY_ELEMENTS); i++) {
                Object element = java.lang.reflect.Array.get(v, i);
                b.append(i == 0 ? "" : ",").append(element != null && element.getClass().isArray()
                        ? jsonObject(element, false).append('}').toString() : jsonValue(element));
            }
            b.append(']');
        }
        return b;
    }

    /** A thrown exception as an object with its {@code message} (null when it has none or it cannot be read). */
    private static String jsonThrown(Throwable e) {
        if (e == null) return "null";
        return jsonObject(e, true).append(",\"message\":").append(quoteOrNull(ValueNames.message(e))).append('}').toString();
    }

    /** {@link #quote}, or {@code null} for null. */
    static String quoteOrNull(String s) {
        return s == null ? "null" : quote(s);
    }

    static String quote(String s) {
        StringBuilder b = new StringBuilder("\"");
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            switch (c) {
                case '"': b.append("\\\""); break;
                case '\\': b.append("\\\\"); break;
                case '\n': b.append("\\n"); break;
                case '\r': b.append("\\r"); break;
                case '\t': b.append("\\t"); break;
                default:
                    // Control characters and a surrogate without its other half (which UTF-8 cannot carry) as escapes.
                    boolean paired = Character.isHighSurrogate(c) ? i + 1 < s.length() && Character.isLowSurrogate(s.charAt(i + 1))
                            : !Character.isLowSurrogate(c) || (i > 0 && Character.isHighSurrogate(s.charAt(i - 1)));
                    if (c < 0x20 || !paired) b.append(String.format("\\u%04x", (int) c));
                    else b.append(c);
            }
        }
        return b.append('"').toString();
    }
}

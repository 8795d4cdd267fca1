package com.vexo.cli;

import com.vexo.TraceFieldDoubleEvent;
import com.vexo.TraceFieldEvent;
import com.vexo.TraceFieldFloatEvent;
import com.vexo.TraceFieldIntEvent;
import com.vexo.TraceFieldObjectEvent;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;

/** One delivered event as a readable line or as a JSON object. */
public final class EventFormatter {
    private EventFormatter() {}

    /** {@code demo.Account@1b6d3586}, or null for no subject. */
    public static String identity(Object o) {
        return o == null ? null : o.getClass().getName() + "@" + Integer.toHexString(System.identityHashCode(o));
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
        return identity(v);
    }

    private static String subjectText(Target target, TraceMethodEvent event) {
        if (target.isStatic()) return "static";
        String id = identity(event.m_Subject);
        return id != null ? id : "(collected)";
    }

    public static String text(Target target, TraceMethodEvent event) {
        StringBuilder b = new StringBuilder(target.label).append("  ").append(subjectText(target, event));
        if (target.isField()) {
            b.append(assigned(event) ? "  assigned " : "  read     ").append(valueText(value(target, event)));
        }
        return b.toString();
    }

    public static String json(Target target, TraceMethodEvent event) {
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
        return b.append('}').toString();
    }

    private static String jsonValue(Object v) {
        if (v == null) return "null";
        if (v instanceof Boolean) return v.toString();
        if (v instanceof Number) {
            double d = ((Number) v).doubleValue();
            return Double.isNaN(d) || Double.isInfinite(d) ? quote(v.toString()) : v.toString();
        }
        if (v instanceof String || v instanceof Character) return quote(v.toString());
        return quote(identity(v));
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
                    if (c < 0x20) b.append(String.format("\\u%04x", (int) c));
                    else b.append(c);
            }
        }
        return b.append('"').toString();
    }
}

package com.vexo.internal;

import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import com.vexo.TracePoints;

/**
 * Completes the events of one delivery in a single call from the agent, which carries this class
 * and defines it in the loader of the event classes once a delivery holds arguments or exits:
 * compiled Java makes the method events, stores the trace points, subjects, threads, times and
 * durations, makes the argument arrays and boxes, where the agent would otherwise make a native
 * call an event, one a field and several a value. It uses no reflection, so the program's own uses of the JDK meet the state they would meet
 * untraced. A primitive is boxed as autoboxing boxes it (its valueOf), so the values valueOf
 * shares are the shared instances.
 */
public final class EventFiller {
    private EventFiller() {}

    /**
     * For each i, first makes events[i] where made[i] asks for it (1: an instance of
     * entryClass, 2: of exitClass; 0: the agent made it) as the agent makes events, without running
     * a constructor; then sets its trace point to common[points[i]], its thread and
     * subject to common[threads[i]] and common[subjects[i]] (none where that is -1) and its time
     * to times[i]; sets the duration of
     * the exit event events[exits[x]] to durations[x]. Then sets the arguments of
     * events[places[e]], for each e, to an array of its counts[e] values, or, where counts[e] is
     * -1, the return value of that exit event to its one value. The values follow those of the
     * event before in kinds (a descriptor character: Z B C S I J F D, or L for an object), bits (a
     * primitive's value; a float's or a double's raw bits) and refs (an object, null when it was
     * collected).
     */
    public static void fill(Object[] events, sun.misc.Unsafe unsafe, Class<?> entryClass,
                            Class<?> exitClass, byte[] made, Object[] common, int[] points, int[] threads,
                            int[] subjects, long[] times,
                            int[] exits, long[] durations, int[] places, int[] counts, byte[] kinds, long[] bits,
                            Object[] refs) throws InstantiationException {
        for (int i = 0; i < points.length; i++) {
            TraceMethodEvent event;
            if (made[i] == 0) {
                event = (TraceMethodEvent) events[i];
            } else {
                event = (TraceMethodEvent) unsafe.allocateInstance(made[i] == 1 ? entryClass : exitClass);
                events[i] = event;
            }
            event.m_TracePoint = (TracePoints.TracePoint) common[points[i]];
            if (threads[i] >= 0) event.m_Thread = (Thread) common[threads[i]];
            if (subjects[i] >= 0) event.m_Subject = common[subjects[i]];
            event.m_lTime = times[i];
        }
        for (int x = 0; x < exits.length; x++) ((TraceMethodExitEvent) events[exits[x]]).m_lDuration = durations[x];
        int at = 0;
        for (int e = 0; e < places.length; e++) {
            if (counts[e] < 0) {
                ((TraceMethodExitEvent) events[places[e]]).m_ReturnValue = value(kinds[at], bits[at], refs[at]);
                at++;
                continue;
            }
            Object[] values = new Object[counts[e]];
            for (int i = 0; i < values.length; i++, at++) values[i] = value(kinds[at], bits[at], refs[at]);
            ((TraceMethodEvent) events[places[e]]).m_Arguments = values;
        }
    }

    private static Object value(byte kind, long bits, Object ref) {
        switch (kind) {
            case 'Z': return Boolean.valueOf(bits != 0);
            case 'B': return Byte.valueOf((byte) bits);
            case 'C': return Character.valueOf((char) bits);
            case 'S': return Short.valueOf((short) bits);
            case 'I': return Integer.valueOf((int) bits);
            case 'J': return Long.valueOf(bits);
            case 'F': return Float.valueOf(Float.intBitsToFloat((int) bits));
            case 'D': return Double.valueOf(Double.longBitsToDouble(bits));
            default: return ref;
        }
    }
}

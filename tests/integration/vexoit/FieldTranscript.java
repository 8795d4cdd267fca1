package vexoit;

import com.vexo.TraceFieldDoubleEvent;
import com.vexo.TraceFieldEvent;
import com.vexo.TraceFieldFloatEvent;
import com.vexo.TraceFieldIntEvent;
import com.vexo.TraceFieldObjectEvent;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;
import java.util.ArrayList;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;

/**
 * One program's field events as text, to be compared between the field roads: a line per event
 * (the object, the trace point, read or assigned, the value), grouped by object in a stable sort,
 * so each group keeps the order of the one thread that touches that object.
 */
public class FieldTranscript {
    static final Map<Object, String> labels = new IdentityHashMap<>();

    static String label(Object o) {
        return o == null ? "null" : labels.getOrDefault(o, "unlabelled " + o.getClass().getName());
    }

    static <T> T named(T o, String name) {
        labels.put(o, name);
        return o;
    }

    static void work(Fields a, MoreFields more, OtherFields other, Object token, int seed) {
        for (int k = 0; k < 50; k++) {
            a.i = seed + k;
            a.j += (long) a.i << 33;
            a.d = a.d * 0.5 + k;
            a.o = (k & 1) == 0 ? token : null;
            more.i = a.i - 1;
            other.i = more.i + 1;
            if (a.o == token) more.o = a.o;
            a.f = more.f + other.f + 0.25f;  // MoreFields.f refuses the other two objects
        }
    }

    // Accesses are made in calls that begin after arming (a frame that was running then keeps
    // its code).
    static void statics() {
        Fields.counter = 3;
        Fields.counter = Fields.counter * 7;
    }

    public static void main(String[] args) throws Exception {
        Agent.start();
        TracePoint i = Agent.field("vexoit.Fields", "i", "I", TracePoints.VALUE_INT);
        TracePoint j = Agent.field("vexoit.Fields", "j", "J", TracePoints.VALUE_LONG);
        TracePoint d = Agent.field("vexoit.Fields", "d", "D", TracePoints.VALUE_DOUBLE);
        TracePoint o = Agent.field("vexoit.Fields", "o", "Ljava/lang/Object;", TracePoints.VALUE_OBJECT);
        TracePoint moreF = Agent.field("vexoit.MoreFields", "f", "F", TracePoints.VALUE_FLOAT);
        TracePoint counter = Agent.point(TracePoints.FIELD | TracePoints.STATIC | TracePoints.VALUE_INT,
                "vexoit.Fields", null, "counter", "I");
        Map<TracePoint, String> names = new IdentityHashMap<>();
        names.put(i, "Fields.i");
        names.put(j, "Fields.j");
        names.put(d, "Fields.d");
        names.put(o, "Fields.o");
        names.put(moreF, "MoreFields.f");
        names.put(counter, "Fields.counter");
        Agent.activate(i, j, d, o, moreF, counter);
        for (TracePoint p : names.keySet()) Check.that(Agent.armed(p), names.get(p) + " armed");

        statics();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 2; t++) {
            String n = "t" + t;
            Fields a = named(new Fields(), n + ".a");
            MoreFields more = named(new MoreFields(), n + ".more");
            OtherFields other = named(new OtherFields(), n + ".other");
            Object token = named(new Object(), n + ".token");
            int seed = 100 * t;
            threads.add(new Thread(() -> work(a, more, other, token, seed)));
        }
        for (Thread t : threads) t.start();
        for (Thread t : threads) t.join();

        List<String> lines = new ArrayList<>();
        for (TraceMethodEvent e : Agent.collect()) {
            String value;
            if (e instanceof TraceFieldIntEvent) value = Long.toString(((TraceFieldIntEvent) e).m_lValue);
            else if (e instanceof TraceFieldFloatEvent) value = Float.toString(((TraceFieldFloatEvent) e).m_fValue);
            else if (e instanceof TraceFieldDoubleEvent) value = Double.toString(((TraceFieldDoubleEvent) e).m_dValue);
            else if (e instanceof TraceFieldObjectEvent) value = label(((TraceFieldObjectEvent) e).m_Value);
            else throw new AssertionError("not a field event: " + e.getClass());
            lines.add(label(e.m_Subject) + " " + names.get(e.m_TracePoint) + " "
                    + (((TraceFieldEvent) e).m_bAssigned ? "assigned" : "read") + " " + value);
        }
        lines.sort((x, y) -> x.substring(0, x.indexOf(' ')).compareTo(y.substring(0, y.indexOf(' '))));
        for (String line : lines) System.out.println("EVENT " + line);
        System.out.println("EVENTS " + lines.size());
    }
}

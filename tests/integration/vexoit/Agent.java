package vexoit;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.RecordedData;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * The agent as the integration tests drive it: through the real com.vexo classes. A consumer
 * thread collects deliveries; {@link #collect} hits a mark (a static method armed with every
 * list) and gathers deliveries until the mark's event arrives, so that everything recorded
 * before it has been seen.
 */
final class Agent {
    static final BlockingQueue<RecordedData> deliveries = new LinkedBlockingQueue<>();
    static boolean overflowSeen;
    private static TracePoints.TracePoint markPoint;

    private Agent() {}

    static InitializeInfo start() {
        InitializeInfo info = new InitializeInfo();
        Check.that(NativeApi.nativeInitialize(info), "nativeInitialize succeeded");
        NativeApi.nativeSetEventTreePanel(new Panel());
        Thread consumer = new Thread(() -> {
            while (true) {
                RecordedData data = new RecordedData();
                NativeApi.nativeGetRecordedData(data);
                deliveries.add(data);
            }
        }, "consumer");
        consumer.setDaemon(true);
        consumer.start();
        return info;
    }

    static TracePoints.TracePoint method(String className, String name, String signature) {
        return point(0, className, null, name, signature);
    }

    static TracePoints.TracePoint staticMethod(String className, String name, String signature) {
        return point(TracePoints.STATIC, className, null, name, signature);
    }

    static TracePoints.TracePoint methodOf(Object object, String name, String signature) {
        return point(0, null, object, name, signature);
    }

    static TracePoints.TracePoint field(String className, String name, String signature, int kind) {
        return point(TracePoints.FIELD | kind, className, null, name, signature);
    }

    static TracePoints.TracePoint point(int flags, String className, Object object, String name, String signature) {
        TracePoints.TracePoint p = new TracePoints.TracePoint();
        p.m_iFlags = flags;
        p.m_strClass = className;
        p.m_Object = object;
        p.m_strMethodOrFieldName = name;
        p.m_strMethodOrFieldSignature = signature;
        return p;
    }

    /** Replaces the armed list; the mark is appended. */
    static void activate(int limit, TracePoints.TracePoint... points) {
        TracePoints list = new TracePoints();
        list.m_iMaxNumTraces = limit;
        list.m_TracePoints = new TracePoints.TracePoint[points.length + 1];
        System.arraycopy(points, 0, list.m_TracePoints, 0, points.length);
        markPoint = staticMethod("vexoit.Agent", "mark", "()V");
        list.m_TracePoints[points.length] = markPoint;
        NativeApi.nativeActivateTracePoints(list);
        Check.that((markPoint.m_iFlags & TracePoints.ARMED) != 0, "the mark is armed");
    }

    static void activate(TracePoints.TracePoint... points) {
        activate(100_000, points);
    }

    static boolean armed(TracePoints.TracePoint p) {
        return (p.m_iFlags & TracePoints.ARMED) != 0;
    }

    /** The mark: its event closes a collection. */
    static void mark() {}

    /** Every event recorded since the last collection (the mark's excepted), in delivery order. */
    static List<TraceMethodEvent> collect() {
        mark();
        List<TraceMethodEvent> events = new ArrayList<>();
        overflowSeen = false;
        while (true) {
            RecordedData data;
            try {
                data = deliveries.poll(30, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                throw new AssertionError(e);
            }
            Check.that(data != null, "the mark's event was delivered within 30 s");
            overflowSeen |= data.m_bOverflow;
            boolean marked = false;
            for (TraceMethodEvent e : data.m_Events) {
                if (e.m_TracePoint == markPoint) marked = true;
                else events.add(e);
            }
            if (marked) return events;
        }
    }

    /** Collects, expecting one event, on `subject`. */
    static void collectOne(Object subject, String what) {
        List<TraceMethodEvent> events = collect();
        Check.equal(1, events.size(), what);
        Check.that(events.get(0).m_Subject == subject, what + ": its subject");
    }

    static int count(List<TraceMethodEvent> events, TracePoints.TracePoint p) {
        int n = 0;
        for (TraceMethodEvent e : events) if (e.m_TracePoint == p) n++;
        return n;
    }

    static final class Panel {
        public void displayEvent(Object event) {}
    }
}

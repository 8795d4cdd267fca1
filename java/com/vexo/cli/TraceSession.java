package com.vexo.cli;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.RecordedData;
import com.vexo.ReturnObjectArray;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * The agent driven the way a user interface drives it: initialised once, trace point lists
 * activated, recorded events collected by a consumer thread and handed to a listener.
 *
 * <p>Every list handed to the agent ends with an end mark, a static method of this class. To
 * know that everything recorded so far has been delivered, {@link #drain} calls it and waits
 * until its event arrives: the agent delivers a bank as a whole, so whatever was recorded
 * before the mark is in that delivery or an earlier one.
 */
public final class TraceSession {
    /** Receives deliveries on the consumer thread. */
    public interface Listener {
        void onEvents(TraceMethodEvent[] events, boolean overflow);

        /**
         * Hits of {@code target} (null: of a trace point not known, or events whose delivery
         * found no memory) that were events but could not be recorded or delivered, reported
         * before the delivery that follows them.
         */
        default void onDropped(Target target, long count) {}
    }

    private static final String SELF = EndMark.class.getName();

    private final Object lock = new Object();
    private int limit = Integer.MAX_VALUE;  // of the last activation
    private final InitializeInfo info;
    // By trace point (identity: a trace point has no equality of its own); the session adds to it
    // from the threads that load classes, so it takes no lock.
    private final Map<TracePoints.TracePoint, Target> targets = new ConcurrentHashMap<>();
    private boolean ownThreads;
    private volatile boolean stopping;
    private CountDownLatch endMarkSeen = new CountDownLatch(0);
    private Thread consumer;

    private TraceSession(InitializeInfo info) {
        this.info = info;
    }

    /**
     * Connects to the agent: already started by the VM (-agentpath), or loaded now from the
     * library path (tracing then needs what the VM still grants).
     */
    public static TraceSession open() throws TraceSetupException {
        InitializeInfo info = new InitializeInfo();
        try {
            initialize(info);
        } catch (UnsatisfiedLinkError notLoaded) {
            try {
                NativeApi.load();
            } catch (UnsatisfiedLinkError e) {
                throw new TraceSetupException("cannot load the vexo agent library: " + e.getMessage());
            }
            initialize(info);
        }
        NativeApi.nativeSetEventTreePanel(new Panel());
        return new TraceSession(info);
    }

    private static void initialize(InitializeInfo info) throws TraceSetupException {
        if (!NativeApi.nativeInitialize(info)) {
            throw new TraceSetupException("the vexo agent could not report its state");
        }
    }

    public InitializeInfo info() {
        return info;
    }

    /** Profiler mode: the profiler interface serves method trace points (no debug hook). */
    public boolean inProfilerMode() {
        return info.m_iJVMPIVersion != 0 && !info.m_bDebugEventHookOK;
    }

    /** A class listing: sorted names (each once), the agent's count, the modification count. */
    public static final class ClassListing {
        public final List<String> names = new ArrayList<>();
        public int count;
        public int modificationCount;
        public boolean fromHeapDump;
    }

    /** Lists the loaded classes: Class objects in debug mode, a heap dump's names in profiler mode. */
    public ClassListing listClasses() {
        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        ClassListing listing = new ClassListing();
        java.util.TreeSet<String> names = new java.util.TreeSet<>();
        if (result.m_Objects instanceof byte[]) {
            listing.fromHeapDump = true;
            for (String n : new String((byte[]) result.m_Objects, java.nio.charset.StandardCharsets.UTF_8).split("\0")) {
                if (!n.isEmpty()) names.add(n);
            }
        } else if (result.m_Objects instanceof Object[]) {
            for (Object o : (Object[]) result.m_Objects) {
                if (o instanceof Class) names.add(((Class<?>) o).getName());
            }
        }
        listing.names.addAll(names);
        listing.count = result.m_iActualCount;
        listing.modificationCount = result.m_iModificationCount;
        return listing;
    }

    /** Whether breakpoints and field watches reach the agent (the debug hook is installed). */
    public boolean canTrace() {
        return info.m_bDebugEventHookOK && info.m_bDebugCanWatchFieldAccessOK;
    }

    /**
     * Replaces the armed trace points with {@code list} and sets the recording limit. Afterwards
     * each target tells whether it was armed.
     */
    public void activate(List<Target> list, int limit) {
        synchronized (lock) {
            targets.clear();
            for (Target t : list) targets.put(t.point, t);
            this.limit = limit;
            arm(list, limit);
        }
    }

    /**
     * Adds targets to the armed ones, leaving those armed as they are (the in-VM session's own
     * call to the agent). Afterwards each target tells whether it was armed.
     */
    boolean[] add(List<Target> list) {
        if (list.isEmpty()) return new boolean[0];
        for (Target t : list) targets.put(t.point, t);
        TracePoints.TracePoint[] points = new TracePoints.TracePoint[list.size()];
        for (int i = 0; i < points.length; i++) points[i] = list.get(i).point;
        return AgentNatives.add(points);
    }

    /** The session's threads (the consumer, the one that drains) are its own: the agent records nothing they do. */
    void ownThreads() {
        ownThreads = true;
    }

    /** Hands {@code list} and the end mark to the agent. Under the lock. */
    private void arm(List<Target> list, int limit) {
        NativeApi.nativeActivateTracePoints(points(list, limit));
    }

    private static TracePoints points(List<Target> list, int limit) {
        TracePoints points = new TracePoints();
        points.m_iMaxNumTraces = limit;
        points.m_TracePoints = new TracePoints.TracePoint[list.size() + 1];
        for (int i = 0; i < list.size(); i++) points.m_TracePoints[i] = list.get(i).point;
        TracePoints.TracePoint endMark = new TracePoints.TracePoint();
        endMark.m_iFlags = TracePoints.STATIC | TracePoints.UNLIMITED;
        endMark.m_strClass = SELF;
        endMark.m_strMethodOrFieldName = "hit";
        endMark.m_strMethodOrFieldSignature = "()V";
        points.m_TracePoints[list.size()] = endMark;
        return points;
    }

    /** The target an event belongs to, or null for the end mark. */
    public Target targetOf(TraceMethodEvent event) {
        TracePoints.TracePoint p = event.m_TracePoint;
        return p == null ? null : targets.get(p);
    }

    /**
     * Bounds the agent's memory for this session's events to about {@code megabytes}: three
     * quarters for its two banks (records and their arguments), one quarter for the events of
     * one delivery on the Java heap. A hit that finds its bank full is dropped and counted, never
     * waited for. Zero: unbounded, as for any other user interface.
     */
    public void bound(int megabytes) {
        if (megabytes <= 0) {
            AgentNatives.bound(0, 0, 0);
            return;
        }
        long bytes = (long) megabytes << 20;
        long bank = bytes * 3 / 8;  // each of two
        int records = (int) Math.max(1024, Math.min(Integer.MAX_VALUE / 2, bank / 2 / RECORD_BYTES));
        long arguments = Math.max(64 * 1024, bank - (long) records * RECORD_BYTES);
        int slice = (int) Math.max(256, Math.min(65_536, bytes / 4 / EVENT_BYTES));
        AgentNatives.bound(records, arguments, slice);
    }

    /** What a record costs in a bank (with its references), and a delivered event on the heap (with its line). */
    static final int RECORD_BYTES = 80, EVENT_BYTES = 512;

    /** Starts the consumer thread (a daemon): it waits for deliveries and hands them over. */
    public void startConsumer(Listener listener) {
        consumer = new OwnThread(() -> consume(listener), "vexo-consumer", ownThreads);
        consumer.start();
    }

    private void consume(Listener listener) {
        while (true) {
            RecordedData data = new RecordedData();
            NativeApi.nativeGetRecordedData(data);
            TraceMethodEvent[] events = data.m_Events != null ? data.m_Events : new TraceMethodEvent[0];
            if (data.m_DroppedCounts != null && data.m_DroppedTracePoints != null) {
                for (int i = 0; i < data.m_DroppedCounts.length; i++) {
                    TracePoints.TracePoint p = data.m_DroppedTracePoints[i];
                    listener.onDropped(p == null ? null : targets.get(p), data.m_DroppedCounts[i]);
                }
            }
            List<TraceMethodEvent> own = new ArrayList<>(events.length);
            boolean marked = false;
            long missing = 0;  // recorded, but no memory was left for their event objects
            for (TraceMethodEvent e : events) {
                if (e == null) missing++;
                else if (isEndMark(e)) marked = true;
                else own.add(e);
            }
            if (missing > 0) listener.onDropped(null, missing);
            try {
                listener.onEvents(own.toArray(new TraceMethodEvent[0]), data.m_bOverflow);
            } catch (OutOfMemoryError e) {
                // The program's heap is full: these events are lost, and said to be.
                listener.onDropped(null, own.size());
            }
            if (marked) {
                synchronized (lock) {
                    endMarkSeen.countDown();
                }
                if (stopping) return;
            }
        }
    }

    private static boolean isEndMark(TraceMethodEvent e) {
        TracePoints.TracePoint p = e.m_TracePoint;
        return p != null && SELF.equals(p.m_strClass) && "hit".equals(p.m_strMethodOrFieldName);
    }

    /**
     * Stops recording the targets and waits until everything recorded so far has reached the
     * listener. Returns false when that did not happen within the time-out.
     */
    public boolean drain(long timeoutMillis) throws InterruptedException {
        // The targets stay known for late events. The in-VM session leaves everything armed (the
        // VM is ending; disarming thousands of methods would only delay it) and stops printing
        // after the mark instead. The mark is recorded past the limit, which stays: lifted, it
        // would let the program's other threads in before the mark. The consumer ends with the
        // mark: a thread left waiting in the agent would hold up the VM's exit (it waits for
        // threads in native code to come out, for 300 ms).
        stopping = true;
        return markAndWait(false, timeoutMillis);
    }

    /**
     * Under the lock, disarms (everything but the mark, rewriting each class once, when
     * {@code stop}; else the list, unless the in-VM session leaves it) and expects the end
     * mark; then hits the mark, recorded on whichever thread this is, and waits until its event
     * has arrived. (No lambdas: this runs at exit, where a first one would be bootstrapped.)
     */
    private boolean markAndWait(boolean stop, long timeoutMillis) throws InterruptedException {
        CountDownLatch seen;
        synchronized (lock) {
            if (stop) {
                stopping = true;
                AgentNatives.activate(points(new ArrayList<>(), limit));
            } else if (!ownThreads) {
                arm(new ArrayList<>(), limit);
            }
            endMarkSeen = seen = new CountDownLatch(1);
        }
        if (ownThreads) AgentNatives.ownThread(false);
        EndMark.hit();
        if (ownThreads) AgentNatives.ownThread(true);
        return seen.await(timeoutMillis, TimeUnit.MILLISECONDS);
    }

    /**
     * The in-VM session's end after attach: disarms every trace point (each class rewritten
     * once), waits until everything recorded so far has reached the listener, and stops the
     * consumer. Returns false when that did not happen within the time-out. Afterwards the end
     * mark is disarmed too: no class stays rewritten.
     */
    public boolean stop(long timeoutMillis) throws InterruptedException {
        boolean complete = markAndWait(true, timeoutMillis);
        TracePoints none = new TracePoints();
        none.m_iMaxNumTraces = Integer.MAX_VALUE;
        none.m_TracePoints = new TracePoints.TracePoint[0];
        AgentNatives.activate(none);
        bound(0);  // the agent as it was for the next user interface
        AgentNatives.fillEvents(false);
        return complete;
    }

    /** The agent requires a panel; events are taken from the deliveries instead. */
    public static final class Panel {
        public void displayEvent(Object event) {}
    }
}

package com.vexo.cli;

import com.vexo.TracePoints;

/** What the in-VM session asks of the agent beyond the interface every user interface has; bound by the agent. */
final class AgentNatives {
    private AgentNatives() {}

    /** Every loaded and linked class (no arrays). */
    static native Class<?>[] loadedClasses();

    /** "M modifiers name descriptor" per declared method, "F ..." per declared field; nothing loaded or initialised. */
    static native String[] members(Class<?> c);

    /**
     * Adds trace points to the armed ones (their classes in m_ReflectionItem); writes their armed
     * bits. Returns per point whether it was entered but no road could arm its member.
     */
    static native boolean[] add(TracePoints.TracePoint[] points);

    /** Activates a list as the interface's activation does, rewriting each class once. */
    static native void activate(TracePoints points);

    /** The agent hands over no class any more, and arms none as it loads. */
    static native void endWaits();

    /**
     * From now on a class that loads and that one of these patterns names gets its methods'
     * probes in its first version, so that arming them once it is handed over rewrites nothing:
     * "CLASS MEMBER DESCRIPTOR OPTIONS", internal class name and member with their '*', "-" for
     * every overload, the bits ARGUMENTS and EXIT asked for.
     */
    static native void armAtLoad(String[] patterns);

    /**
     * Whether the agent's event filler, defined in the loader of the event classes, makes the
     * events of every delivery (in Java, much cheaper than an event made by native calls), not
     * only of those that hold arguments or exits.
     */
    static native void fillEvents(boolean on);

    /** A digest of the current bytecodes of every method of {@code c}. */
    static native String bytecodeDigest(Class<?> c);

    /** The agent hands over each class that prepares and whose name starts with one of these. */
    static native void waitFor(String[] prefixes);

    /** ... and each class that extends or implements this one. */
    static native void waitForSubtypes(Class<?> type);

    /**
     * The running methods that still run code from before a field they access was armed: those
     * whose accesses come through a field watch, and those found since the last call whose
     * accesses are not seen (no watch after attach).
     */
    static native String[] oldFrames();

    /**
     * Per method trace point whose exits are not recorded, why its method is on the breakpoint
     * road: "option", "jdk-module", "named-module", "jfr-event", "refused", "unmodifiable", "no-rewriting",
     * "native", "abstract", "constructor", "no-hook", "too-many"; null where the agent does not say.
     */
    static native String[] exitsNotRecorded(TracePoints.TracePoint[] points);

    /**
     * The call timing of the trace points with {@link TracePoints#TIMING}, counted since the last
     * call: {@code {TracePoint[] points, long[] columns}}, per point {@link TimingTable#COLUMNS}
     * longs (calls, thrown, total ns, min ns or -1, max ns, calls without a duration, then the
     * calls by duration in powers of two of ns), and a last long: calls no trace point could be
     * given. Null when the agent could not make the arrays.
     */
    static native Object[] timing();

    /** Defines the classes arming calls into (the hooks), so that no arming has to. */
    static native void warmUp();

    /**
     * Bounds what the agent keeps for delivery: at most {@code bankRecords} records and
     * {@code argumentBytes} bytes of arguments in each of its two banks (a hit beyond is dropped
     * and counted), and at most {@code sliceEvents} events a delivery. Zeros: unbounded, a whole
     * bank a delivery, as for any other user interface.
     */
    static native void bound(int bankRecords, long argumentBytes, int sliceEvents);

    /** The events recorded since the last reset of the count (the session's start), marks included. */
    static native long recorded();

    /**
     * The exception's message as it holds it (Throwable's detailMessage, read without running
     * any of its methods), or null.
     */
    static native String thrownMessage(Throwable t);

    /**
     * For a lambda's hidden class, the method its code is in ({@code app.Main.lambda$main$0},
     * {@code java.lang.String.length} for a method reference), read from the class's bytecodes; null
     * when it cannot be told.
     */
    static native String lambdaTarget(Class<?> c);

    /** Marks the calling thread as the session's own: nothing it does is recorded. */
    static native void ownThread(boolean own);
}

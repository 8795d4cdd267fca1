package com.vexo.cli;

import com.vexo.TracePoints;

/** One trace point as the user named it, ready to hand to the agent. */
public final class Target {
    /** The bits of what a method trace point asks for beyond its entries; trace points of one member merge them. */
    static final int REQUESTS = TracePoints.ARGUMENTS | TracePoints.EXIT | TracePoints.TIMING | TracePoints.STACK;
    /** What a field trace point may ask for. */
    static final int FIELD_REQUESTS = TracePoints.STACK;

    /** How the trace point is shown: {@code demo.Account.deposit(J)V} or {@code demo.Account.balance}. */
    public final String label;
    public final TracePoints.TracePoint point;
    // What was asked of the agent (it writes back into the flags what the road records).
    private int asked;
    private boolean depthAsked;  // a depth of stacks was asked for
    /** The class that declares the member (the target's class or one it inherits from). */
    Class<?> declaredIn;

    Target(String label, int flags, String className, String member, String signature) {
        this(label, flags, className, member, signature, null);
    }

    /** With {@code type} the class itself, which the agent takes as it is (from any loader, never initialised). */
    Target(String label, int flags, String className, String member, String signature, Class<?> type) {
        this.label = label;
        point = new TracePoints.TracePoint();
        point.m_ReflectionItem = type;
        point.m_iFlags = flags;
        point.m_strClass = className;
        point.m_strMethodOrFieldName = member;
        point.m_strMethodOrFieldSignature = signature;
        asked = flags & (isField() ? FIELD_REQUESTS : REQUESTS);
    }

    public boolean isField() {
        return (point.m_iFlags & TracePoints.FIELD) != 0;
    }

    public boolean isStatic() {
        return (point.m_iFlags & TracePoints.STATIC) != 0;
    }

    /** Method trace points: whether the agent is asked for the arguments at entry. */
    public boolean hasArguments() {
        return !isField() && (point.m_iFlags & TracePoints.ARGUMENTS) != 0;
    }

    /** Method trace points: whether the agent is asked for every exit. */
    public boolean hasExits() {
        return !isField() && (point.m_iFlags & TracePoints.EXIT) != 0;
    }

    /** Method trace points: whether the agent counts and times the calls instead of recording them. */
    public boolean hasTiming() {
        return !isField() && (point.m_iFlags & TracePoints.TIMING) != 0;
    }

    /** Whether the method returns nothing (constructors included). */
    public boolean returnsVoid() {
        return !isField() && point.m_strMethodOrFieldSignature.endsWith(")V");
    }

    /**
     * Asks for more at each hit: {@link TracePoints#ARGUMENTS}, {@link TracePoints#EXIT} (method
     * trace points), {@link TracePoints#STACK} (both).
     */
    void request(int bits) {
        int allowed = bits & (isField() ? FIELD_REQUESTS : REQUESTS);
        point.m_iFlags |= allowed;
        asked |= allowed;
    }

    /** Asks for stacks of {@code depth} frames (0: the agent's default, 16), or keeps the deeper ones asked already. */
    void requestStack(int depth) {
        request(TracePoints.STACK);
        int now = point.m_iStackDepth == 0 ? 16 : point.m_iStackDepth;
        if (!depthAsked || (depth == 0 ? 16 : depth) > now) point.m_iStackDepth = depth;
        depthAsked = true;
    }

    /** Whether the agent is asked for the stack of every event. */
    public boolean hasStack() {
        return (point.m_iFlags & TracePoints.STACK) != 0;
    }

    /** Asks also for what {@code other}, a trace point of the same member, asks for. */
    void merge(Target other) {
        boolean hadExits = (asked & TracePoints.EXIT) != 0;
        request(other.asked);
        if ((other.asked & TracePoints.STACK) != 0) requestStack(other.point.m_iStackDepth);
        // The exits of both: a threshold holds only if each has one (the smaller).
        if ((other.asked & TracePoints.EXIT) != 0) {
            long a = hadExits ? point.m_lMinNanos : other.point.m_lMinNanos, b = other.point.m_lMinNanos;
            point.m_lMinNanos = a == 0 || b == 0 ? 0 : Math.min(a, b);
        }
    }

    /** Method trace points with exits: the shortest call recorded, in ns (0: every call). */
    public long minNanos() {
        return hasExits() ? point.m_lMinNanos : 0;
    }

    /** What it asks for beyond its entries that {@code other} does not. */
    int asksBeyond(Target other) {
        return asked & ~other.asked;
    }

    /** What was asked and the agent does not record (after it was armed). */
    int notRecorded() {
        return asked & ~point.m_iFlags;
    }

    public int valueKind() {
        return point.m_iFlags & TracePoints.VALUE_KIND_MASK;
    }

    /** Whether the agent entered it in its table at the last activation. */
    public boolean isArmed() {
        return (point.m_iFlags & TracePoints.ARMED) != 0;
    }
}

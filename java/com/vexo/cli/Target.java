package com.vexo.cli;

import com.vexo.TracePoints;

/** One trace point as the user named it, ready to hand to the agent. */
public final class Target {
    /** How the trace point is shown: {@code demo.Account.deposit(J)V} or {@code demo.Account.balance}. */
    public final String label;
    public final TracePoints.TracePoint point;

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

    /** Whether the method returns nothing (constructors included). */
    public boolean returnsVoid() {
        return !isField() && point.m_strMethodOrFieldSignature.endsWith(")V");
    }

    /** Asks for more at each hit: {@link TracePoints#ARGUMENTS}, {@link TracePoints#EXIT}; method trace points only. */
    void request(int bits) {
        if (!isField()) point.m_iFlags |= bits & (TracePoints.ARGUMENTS | TracePoints.EXIT);
    }

    public int valueKind() {
        return point.m_iFlags & TracePoints.VALUE_KIND_MASK;
    }

    /** Whether the agent entered it in its table at the last activation. */
    public boolean isArmed() {
        return (point.m_iFlags & TracePoints.ARMED) != 0;
    }
}

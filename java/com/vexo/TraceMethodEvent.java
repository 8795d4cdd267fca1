package com.vexo;

/** A hit on a method trace point. Created by the agent without running a constructor. */
public class TraceMethodEvent {
    public Object m_Subject;
    public int m_iObjectIndex;
    public TracePoints.TracePoint m_TracePoint;
    /**
     * The method's arguments in declaration order, primitives boxed, when the trace point asked
     * for them ({@link TracePoints#ARGUMENTS}); null otherwise. An object argument that was
     * collected before delivery arrives as null.
     */
    public Object[] m_Arguments;
    /** The thread the event happened on (null when it was collected before delivery). */
    public Thread m_Thread;
    /** When it happened: a monotonic clock in nanoseconds, comparable with System.nanoTime(). */
    public long m_lTime;
    /**
     * The recording thread's stack when the event happened, the top frame first (the traced
     * method, or the method that accessed the field), when the trace point asked for it
     * ({@link TracePoints#STACK}); null otherwise. The tracer's own frames are left out.
     */
    public StackTraceElement[] m_Stack;
}

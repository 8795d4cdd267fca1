package com.vexo;

/** A hit on a method trace point. Created by the agent without running a constructor. */
public class TraceMethodEvent {
    public Object m_Subject;
    public int m_iObjectIndex;
    public TracePoints.TracePoint m_TracePoint;
}

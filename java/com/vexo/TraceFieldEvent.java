package com.vexo;

/** A hit on a field trace point: a read, or an assignment when {@code m_bAssigned}. */
public class TraceFieldEvent extends TraceMethodEvent {
    public boolean m_bAssigned;
}

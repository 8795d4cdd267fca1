package com.vexo;

/** A hit on a field trace point: a read, or an assignment when {@code m_bAssigned}. */
public class TraceFieldEvent extends TraceMethodEvent {
    public boolean m_bAssigned;
    /**
     * Where the field was accessed: the method and line of the access (a line of -1 and a null
     * file when the class carries none); null when the agent could not tell.
     */
    public StackTraceElement m_Site;
}

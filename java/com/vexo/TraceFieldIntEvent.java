package com.vexo;

/** An int, long, short, byte, boolean or char field's value, in the low-order bytes. */
public class TraceFieldIntEvent extends TraceFieldEvent {
    public long m_lValue;
}

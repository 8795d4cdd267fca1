package com.vexo;

public class TraceFieldFloatEvent extends TraceFieldEvent {
    public float m_fValue;
}

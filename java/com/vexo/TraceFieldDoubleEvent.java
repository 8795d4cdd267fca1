package com.vexo;

public class TraceFieldDoubleEvent extends TraceFieldEvent {
    public double m_dValue;
}

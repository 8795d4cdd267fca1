package com.vexo;

public class TraceFieldObjectEvent extends TraceFieldEvent {
    public Object m_Value;
}

package com.vexo;

/** One delivery of recorded events; filled by nativeGetRecordedData. */
public class RecordedData {
    public TraceMethodEvent[] m_Events;
    public boolean m_bOverflow;
}

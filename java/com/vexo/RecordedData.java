package com.vexo;

/** One delivery of recorded events; filled by nativeGetRecordedData. */
public class RecordedData {
    public TraceMethodEvent[] m_Events;
    public boolean m_bOverflow;
    /**
     * Hits that were events but could not be recorded since the last delivery (the banks were
     * full: only when a user interface asked for bounded recording; or memory ran out), a count
     * for each trace point (null: not known); null when there were none. Filled when the class
     * has these fields.
     */
    public TracePoints.TracePoint[] m_DroppedTracePoints;
    public long[] m_DroppedCounts;
}

package vexotest;

/** A RecordedData look-alike without the overflow flag. */
public class IncompleteRecordedData {
    public com.vexo.TraceMethodEvent[] m_Events;
}

package vexotest;

/** A TracePoints look-alike without the recording limit. */
public class IncompleteTracePoints {
    public com.vexo.TracePoints.TracePoint[] m_TracePoints;
}

package vexotest;

/** A TracePoint look-alike without m_ReflectionItem. */
public class IncompleteTracePoint {
    public int m_iFlags;
    public Object m_Object;
    public String m_strClass;
    public String m_strMethodOrFieldName;
    public String m_strMethodOrFieldSignature;
}

package com.vexo;

/** An older TracePoints whose TracePoint lacks m_ReflectionItem; loaded by its own class loader. */
public class TracePoints {
    public TracePoint[] m_TracePoints;
    public int m_iMaxNumTraces;

    public static class TracePoint {
        public int m_iFlags;
        public Object m_Object;
        public String m_strClass;
        public String m_strMethodOrFieldName;
        public String m_strMethodOrFieldSignature;
    }
}

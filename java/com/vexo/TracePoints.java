package com.vexo;

/** A list of trace points handed to the agent, with the recording limit. */
public class TracePoints {
    /** Kind and state bits of {@link TracePoint#m_iFlags}. */
    public static final int FIELD = 0x001;
    public static final int ARMED = 0x004;
    public static final int VALUE_KIND_MASK = 0x0F0;
    public static final int VALUE_INT = 0x10;
    public static final int VALUE_LONG = 0x20;
    public static final int VALUE_FLOAT = 0x30;
    public static final int VALUE_DOUBLE = 0x40;
    public static final int VALUE_OBJECT = 0x50;
    public static final int VALUE_SHORT = 0x60;
    public static final int VALUE_BYTE = 0x70;
    public static final int VALUE_BOOLEAN = 0x80;
    public static final int VALUE_CHAR = 0x90;
    public static final int STATIC = 0x100;
    /** Method trace points: record the arguments at entry ({@link TraceMethodEvent#m_Arguments}). */
    public static final int ARGUMENTS = 0x200;
    /** Method trace points: record every exit as a {@link TraceMethodExitEvent}. */
    public static final int EXIT = 0x400;
    /**
     * Method and field trace points: every event carries the recording thread's stack
     * ({@link TraceMethodEvent#m_Stack}), at most {@link TracePoint#m_iStackDepth} frames.
     */
    public static final int STACK = 0x800;
    /**
     * Recorded also once the recording limit is reached (a mark that closes a session, so that
     * the limit need not be lifted for it).
     */
    public static final int UNLIMITED = 0x8000;
    /**
     * Method trace points: count and time every call instead of recording it; the table is read
     * with the tracer's extension {@code com.vexo.cli.AgentNatives.timing()}.
     */
    public static final int TIMING = 0x1000;

    public TracePoint[] m_TracePoints;
    public int m_iMaxNumTraces;

    /** One method or field of a Java class. */
    public static class TracePoint {
        public int m_iFlags;
        public Object m_Object;
        public String m_strClass;
        public Object m_ReflectionItem;
        public String m_strMethodOrFieldName;
        public String m_strMethodOrFieldSignature;
        /** With {@link #STACK}: the frames an event records at most (1 to 256; 0: 16). */
        public int m_iStackDepth;
        /**
         * Method trace points with {@link #EXIT}: when more than 0, a call's entry and exit are
         * recorded only when it took at least this many ns; shorter calls are only counted (in
         * the timing table, {@code com.vexo.cli.AgentNatives.timing()}). Optional: the agent
         * reads it where the class has it.
         */
        public long m_lMinNanos;
    }
}

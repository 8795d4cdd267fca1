package com.vexo;

/**
 * The end of a call of a method trace point that asked for exits ({@link TracePoints#EXIT}):
 * a return with its value, or the exception that left the method. Delivered after the event of
 * the call's entry, on the same thread; the entries and exits of one thread nest as the calls do.
 * {@code m_Subject} is null except for a constructor, whose entry has no object yet: its exit
 * carries the object made (the subject of any other call is its entry's).
 */
public class TraceMethodExitEvent extends TraceMethodEvent {
    /** The value returned, primitives boxed; null for void, for a throw, or when it was collected. */
    public Object m_ReturnValue;
    /** The exception that left the method, or null for a normal return. */
    public Throwable m_Exception;
    /** Whether the method ended by an exception (m_Exception may still be null if it was collected). */
    public boolean m_bThrown;
    /** Nanoseconds from the entry to the exit. */
    public long m_lDuration;
}

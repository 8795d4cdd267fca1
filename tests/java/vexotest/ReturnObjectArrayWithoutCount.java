package vexotest;

/** A ReturnObjectArray look-alike without the modification count. */
public class ReturnObjectArrayWithoutCount {
    public Object m_Objects;
    public int m_iActualCount;
    public boolean m_bFiltered;
}

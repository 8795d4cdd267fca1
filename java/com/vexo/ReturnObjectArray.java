package com.vexo;

/** The result of a class or object listing. */
public class ReturnObjectArray {
    public Object m_Objects;
    public int m_iActualCount;
    public boolean m_bFiltered;
    public int m_iModificationCount;
}

package vexotest;

/** An InitializeInfo look-alike that lacks its last field. */
public class IncompleteInitializeInfo {
    public int m_iJNIVersion;
    public int m_iJVMDIVersion;
    public int m_iJVMPIVersion;
    public boolean m_bDebugEventHookOK;
    public boolean m_bDebugCanWatchFieldModificationsOK;
    public boolean m_bDebugCanWatchFieldAccessOK;
}

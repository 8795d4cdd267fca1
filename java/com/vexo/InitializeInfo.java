package com.vexo;

/** What the agent obtained from the virtual machine; filled by nativeInitialize. */
public class InitializeInfo {
    public int m_iJNIVersion;
    public int m_iJVMDIVersion;
    public int m_iJVMPIVersion;
    public boolean m_bDebugEventHookOK;
    public boolean m_bDebugCanWatchFieldModificationsOK;
    public boolean m_bDebugCanWatchFieldAccessOK;
    public boolean m_bProfileEventHookOK;
}

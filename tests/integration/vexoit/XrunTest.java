package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;

/**
 * Started with -Xrun: the agent connected through JVM_OnLoad and found neither interface. The VM
 * does not look for natives in -Xrun libraries, so the class loads the same library again.
 */
public class XrunTest {
    public static void main(String[] args) throws Exception {
        Check.run("XrunTest", test("ConnectedAtStartWithNeitherInterface", () -> {
            NativeApi.load();
            InitializeInfo info = new InitializeInfo();
            Check.that(NativeApi.nativeInitialize(info), "nativeInitialize succeeded");
            Check.equal(0, info.m_iJVMDIVersion, "no JVMDI");
            Check.equal(0, info.m_iJVMPIVersion, "no JVMPI");
            Check.that(!info.m_bDebugEventHookOK, "no debug hook");
        }));
    }
}

// Agent_OnLoad: `java -agentpath:/path/libvexo.so[=OPTIONS]` on a VM with JVMTI. The bridge
// takes what the VM grants only now, then the agent starts as a start-up agent on the proxy.
#include <cstring>

#include "agent/agent_state.h"
#include "agent/java_boundary.h"
#include "agent/error_out.h"
#include "bridge/field_instrumentation.h"
#include "bridge/in_vm_session/agent_options.h"
#include "bridge/in_vm_session/session_start.h"
#include "bridge/session.h"
#include "bridge/vm_proxy.h"

// Besides the agent's own options, the bridge reads the words (between commas) "breakpoints":
// method trace points by JVMTI breakpoints only, never by instrumentation; and "watches": field
// trace points by JVMTI field watches only. Trace points in the options start the in-VM session.
jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void* reserved) {
    g_bridge.forceBreakpoints = HasOptionWord(options, "breakpoints");
    FieldForceWatches(HasOptionWord(options, "watches"));
    g_bridge.wantMethodEntryEvents = options != nullptr && std::strstr(options, "nojvmdi") != nullptr;
    // The in-VM session asked for profiler mode: it says which mode runs in its own words.
    g_agent.modeToldByJavaSide = AsksForSession(options) && HasOptionWord(options, "profiler");
    if (!BridgeStartSession(vm, true)) return JVM_OnLoad(vm, options, reserved);
    const jint loaded = JVM_OnLoad(BridgeProxyVm(), options, reserved);
    if (loaded == JNI_OK) InVmSessionOnLoad(g_bridge.jvmti, options);
    return loaded;
}

// Agent_OnAttach: `VirtualMachine.loadAgentPath(path, OPTIONS)` on a running VM. The bridge starts
// late (or is found started by an earlier attach or load) and the in-VM session starts at once;
// the core connects when the session initialises it, as a late load does.
jint JNICALL Agent_OnAttach(JavaVM* vm, char* options, void*) {
    if (!AsksForSession(options)) {
        ErrorOut("Vexo: an agent loaded into a running VM needs trace points in its options "
                 "(method=CLASS.METHOD, field=CLASS.FIELD)\n");
        return JNI_ERR;
    }
    g_bridge.attached = true;
    if (!BridgeStartSession(vm, false)) {
        ErrorOut("Vexo: this VM has no JVMTI; nothing can be traced\n");
        return JNI_ERR;
    }
    return InVmSessionOnAttach(g_bridge.jvmti, options) ? JNI_OK : JNI_ERR;
}

// Agent_OnLoad: `java -agentpath:/path/libvexo.so[=OPTIONS]` on a VM with JVMTI. The bridge
// takes what the VM grants only now, then the agent starts as a start-up agent on the proxy.
#include <cstring>

#include "agent/java_boundary.h"
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
    if (!BridgeStartSession(vm, true)) return JVM_OnLoad(vm, options, reserved);
    const jint loaded = JVM_OnLoad(BridgeProxyVm(), options, reserved);
    if (loaded == JNI_OK) InVmSessionOnLoad(g_bridge.jvmti, options);
    return loaded;
}

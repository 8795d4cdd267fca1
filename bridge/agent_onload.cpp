// Agent_OnLoad: `java -agentpath:/path/libvexo.so[=OPTIONS]` on a VM with JVMTI. The bridge
// takes what the VM grants only now, then the agent starts as a start-up agent on the proxy.
#include "agent/java_boundary.h"
#include "bridge/session.h"
#include "bridge/vm_proxy.h"

jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void* reserved) {
    if (!BridgeStartSession(vm, true)) return JVM_OnLoad(vm, options, reserved);
    return JVM_OnLoad(BridgeProxyVm(), options, reserved);
}

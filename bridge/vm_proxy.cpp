#include "bridge/vm_proxy.h"

#include "bridge/jvmdi_bridge.h"
#include "bridge/jvmpi_bridge.h"
#include "bridge/jvmti_env.h"
#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

namespace {
// The interface a GetEnv version asks for sits in its top bits.
constexpr jint kInterfaceMask = 0x70000000;
constexpr jint kJvmpiFamily = 0x10000000;
constexpr jint kJvmdiFamily = 0x20000000;

JNIInvokeInterface_ g_proxyFunctions;
JavaVM g_proxyVm;

// Every entry reaches the real VM with the real VM's pointer.
jint JNICALL ProxyDestroyJavaVM(JavaVM*) { return g_bridge.vm->DestroyJavaVM(); }

jint JNICALL ProxyAttachCurrentThread(JavaVM*, void** penv, void* args) {
    return g_bridge.vm->AttachCurrentThread(penv, args);
}

jint JNICALL ProxyDetachCurrentThread(JavaVM*) { return g_bridge.vm->DetachCurrentThread(); }

jint JNICALL ProxyAttachCurrentThreadAsDaemon(JavaVM*, void** penv, void* args) {
    return g_bridge.vm->AttachCurrentThreadAsDaemon(penv, args);
}

// The debug interface (1) and the profiler interface (1.1) come from the bridge. The other
// versions of both are answered here too: forwarded, HotSpot would print its own refusal text.
jint JNICALL ProxyGetEnv(JavaVM*, void** penv, jint version) {
    if (version == JVMDI_VERSION_1) {
        *penv = BridgeJvmdi();
        return JNI_OK;
    }
    if (version == JVMPI_VERSION_1_1 && BridgeJvmpi() != nullptr) {
        *penv = BridgeJvmpi();
        return JNI_OK;
    }
    if (version == VEXO_JVMPI_EXTENSION_VERSION && BridgeJvmpiExtension() != nullptr) {
        *penv = BridgeJvmpiExtension();
        return JNI_OK;
    }
    const jint family = version & kInterfaceMask;
    if (family == kJvmpiFamily || family == kJvmdiFamily) {
        *penv = nullptr;
        return JNI_EVERSION;
    }
    return g_bridge.vm->GetEnv(penv, version);
}
}  // namespace

JavaVM* BridgeProxyVm() {
    if (g_proxyVm.functions == nullptr) {
        g_proxyFunctions = *g_bridge.vm->functions;
        g_proxyFunctions.DestroyJavaVM = ProxyDestroyJavaVM;
        g_proxyFunctions.AttachCurrentThread = ProxyAttachCurrentThread;
        g_proxyFunctions.DetachCurrentThread = ProxyDetachCurrentThread;
        g_proxyFunctions.GetEnv = ProxyGetEnv;
        g_proxyFunctions.AttachCurrentThreadAsDaemon = ProxyAttachCurrentThreadAsDaemon;
        g_proxyVm.functions = &g_proxyFunctions;
    }
    return &g_proxyVm;
}

#include "bridge/jvmti_env.h"

BridgeSession g_bridge;

JNIEnv* BridgeJni() {
    JNIEnv* env = nullptr;
    if (g_bridge.vm == nullptr ||
        g_bridge.vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) {
        return nullptr;
    }
    return env;
}

void DeclareCallbackRoom(JNIEnv* jni) {
    if (jni->EnsureLocalCapacity(kCallbackLocalRefs) != JNI_OK) jni->ExceptionClear();
}

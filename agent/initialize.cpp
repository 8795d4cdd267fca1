// nativeInitialize: synchronisation objects, the late attach, and the negotiated interfaces
// reported to Java.
#include "core/agent_state.h"
#include "agent/connect.h"
#include "agent/java_boundary.h"
#include "core/java_fields.h"
#include "core/sync.h"
#include "agent/vm_events.h"

namespace {
enum InitializeInfoField {
    kJniVersion, kJvmdiVersion, kJvmpiVersion, kDebugHookOK, kWatchModificationsOK,
    kWatchAccessOK, kProfileHookOK, kInitializeInfoFieldCount
};

const JavaFieldName kInitializeInfoFields[kInitializeInfoFieldCount] = {
    {"m_iJNIVersion", "I"},
    {"m_iJVMDIVersion", "I"},
    {"m_iJVMPIVersion", "I"},
    {"m_bDebugEventHookOK", "Z"},
    {"m_bDebugCanWatchFieldModificationsOK", "Z"},
    {"m_bDebugCanWatchFieldAccessOK", "Z"},
    {"m_bProfileEventHookOK", "Z"},
};

// JNI 1.2 or later: major version above 1, or major 1 with minor 2 or more.
bool CanAttachLate(jint version) {
    const jint major = (version >> 16) & 0xff;
    const jint minor = version & 0xff;
    return major > 1 || (major == 1 && minor >= 2);
}

void AttachLate(JNIEnv* env) {
    JavaVM* vm = nullptr;
    env->GetJavaVM(&vm);  // the status is not needed: a null VM means no attach
    // On a VM with JVMTI the bridge serves the old tool interfaces.
    if (vm != nullptr) ConnectToVm(BridgeWrapVm(vm));
}

void WriteInitializeInfo(JNIEnv* env, jobject info, const jfieldID* ids) {
    env->SetIntField(info, ids[kJniVersion], g_agent.jniVersion);
    env->SetIntField(info, ids[kJvmdiVersion], g_agent.jvmdiVersion);
    env->SetIntField(info, ids[kJvmpiVersion], g_agent.jvmpiVersion);
    env->SetBooleanField(info, ids[kDebugHookOK], g_agent.debugEventHookOK);
    env->SetBooleanField(info, ids[kWatchModificationsOK],
                         g_agent.debugCanWatchFieldModificationsOK);
    env->SetBooleanField(info, ids[kWatchAccessOK], g_agent.debugCanWatchFieldAccessOK);
    env->SetBooleanField(info, ids[kProfileHookOK], g_agent.profileEventHookOK.load());
}
}  // namespace

jboolean JNICALL Java_com_vexo_NativeApi_nativeInitialize(JNIEnv* env, jclass, jobject info) {
    InitSyncObjects();
    // The version and the attach come before the field look-ups, so that a missing field's
    // pending exception is never followed by another JNI call.
    g_agent.jniVersion = env->GetVersion();
    if (!g_agent.connected && CanAttachLate(g_agent.jniVersion)) AttachLate(env);

    jfieldID ids[kInitializeInfoFieldCount];
    if (!LookUpObjectFields(env, info, kInitializeInfoFields, kInitializeInfoFieldCount, ids,
                            "ERROR: VexoDll failed to access fields in InitializeInfo\n")) {
        return JNI_FALSE;
    }
    WriteInitializeInfo(env, info, ids);
    return JNI_TRUE;
}

#include "bridge/jvmti_env.h"

#include "agent/error_out.h"
#include "bridge/debug_events.h"
#include "instrument/entry_instrumentation.h"
#include "instrument/field_instrumentation.h"
#include "bridge/field_watch_gate.h"
#include "session/session_start.h"
#include "bridge/jvmpi_bridge.h"
#include "instrument/old_frames.h"
#include "trace/thread_tags.h"

BridgeSession g_bridge;

namespace {
// 0: not tried; 1: a session exists; 2: the VM has no JVMTI.
int g_sessionState = 0;

// What the debug interface is built from. HotSpot grants these only while the VM starts.
jvmtiCapabilities WantedCapabilities() {
    jvmtiCapabilities wanted = {};
    wanted.can_generate_breakpoint_events = 1;
    wanted.can_generate_field_access_events = 1;
    wanted.can_generate_field_modification_events = 1;
    wanted.can_access_local_variables = 1;
    wanted.can_retransform_classes = 1;  // method entry by instrumentation; granted late too
    wanted.can_get_constant_pool = 1;    // finding a watched field's sites before rewriting
    wanted.can_get_bytecodes = 1;        // telling that a class the session rewrote is restored
    // The profiler interface: identifiers in object tags, frees, every allocation.
    wanted.can_tag_objects = 1;
    wanted.can_generate_object_free_events = 1;
    wanted.can_generate_sampled_object_alloc_events = 1;
    wanted.can_generate_method_entry_events = g_bridge.wantMethodEntryEvents ? 1 : 0;
    return wanted;
}

// Takes whichever of the wanted capabilities the VM can still grant, one by one, so that one
// refusal costs none of the others.
void TakeCapabilities(jvmtiEnv* jvmti) {
    jvmtiCapabilities potential = {};
    jvmti->GetPotentialCapabilities(&potential);
    const jvmtiCapabilities wanted = WantedCapabilities();
    const auto* want = reinterpret_cast<const unsigned char*>(&wanted);
    const auto* can = reinterpret_cast<const unsigned char*>(&potential);
    for (size_t byte = 0; byte < sizeof(jvmtiCapabilities); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            const unsigned char mask = static_cast<unsigned char>(1u << bit);
            if (!(want[byte] & mask) || !(can[byte] & mask)) continue;
            jvmtiCapabilities one = {};
            reinterpret_cast<unsigned char*>(&one)[byte] = mask;
            jvmti->AddCapabilities(&one);
        }
    }
    jvmti->GetCapabilities(&g_bridge.granted);
}

// A thread that ends retires the tag its events name.
void JNICALL OnThreadEnd(jvmtiEnv*, JNIEnv* jni, jthread) { RetireCurrentThreadTag(jni); }

void InstallCallbacks(jvmtiEnv* jvmti) {
    jvmtiEventCallbacks callbacks = {};
    callbacks.Breakpoint = BridgeOnBreakpoint;
    callbacks.FieldAccess = BridgeOnFieldAccess;
    callbacks.FieldModification = BridgeOnFieldModification;
    callbacks.ClassFileLoadHook = InstrumentationClassFileLoadHook;
    callbacks.ClassPrepare = JvmpiOnClassPrepare;
    callbacks.SampledObjectAlloc = JvmpiOnSampledObjectAlloc;
    callbacks.ObjectFree = JvmpiOnObjectFree;
    callbacks.MethodEntry = JvmpiOnMethodEntry;
    callbacks.ThreadEnd = OnThreadEnd;
    callbacks.VMInit = InVmSessionOnVmInit;
    jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks));
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_END, nullptr);
}
}  // namespace

bool BridgeStartSession(JavaVM* vm, bool atLoad) {
    if (g_sessionState != 0) return g_sessionState == 1;
    jvmtiEnv* jvmti = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2) != JNI_OK ||
        jvmti == nullptr) {
        g_sessionState = 2;
        return false;
    }
    g_bridge.vm = vm;
    g_bridge.startedAtLoad = atLoad;
    TakeCapabilities(jvmti);
    GateInit(jvmti);
    OldFramesInit(jvmti,
                  g_bridge.granted.can_generate_field_access_events &&
                      g_bridge.granted.can_generate_field_modification_events,
                  !g_bridge.attached);
    InstrumentationInit(jvmti, g_bridge.forceBreakpoints);
    FieldInstrumentationInit(jvmti, FieldWatchesForced());
    JvmpiBridgeInit(jvmti);
    InstallCallbacks(jvmti);
    g_bridge.jvmti = jvmti;
    g_sessionState = 1;
    if (!g_bridge.attached && (!g_bridge.granted.can_generate_breakpoint_events ||
                               !g_bridge.granted.can_generate_field_access_events)) {
        ErrorOut("Vexo error:  this VM grants breakpoints and field watches only to an agent "
                 "loaded at start-up; methods and fields that cannot be instrumented stay "
                 "unarmed. Start Java with -agentpath:/path/to/libvexo.so to trace "
                 "everything\n");
    }
    return true;
}

JNIEnv* BridgeJni() {
    JNIEnv* env = nullptr;
    if (g_bridge.vm == nullptr ||
        g_bridge.vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) {
        return nullptr;
    }
    return env;
}

// The one owner of the JVMTI callback table: it makes the environment, takes the capabilities,
// starts the rooms that serve events and installs the callbacks, each of which hands its event
// to the rooms that asked for it, in the order written there. The rooms switch the class events
// through bridge/event_switches.
#include "agent/vm_events.h"

#include <atomic>

#include "core/error_out.h"
#include "bridge/debug_events.h"
#include "bridge/event_switches.h"
#include "bridge/field_watch_gate.h"
#include "bridge/jvmdi_bridge.h"
#include "bridge/jvmpi_bridge.h"
#include "bridge/jvmti_env.h"
#include "bridge/vm_proxy.h"
#include "instrument/armed_members.h"
#include "instrument/entry_hook.h"
#include "instrument/class_file_passes.h"
#include "instrument/entry_instrumentation.h"
#include "instrument/load_patterns.h"
#include "instrument/field_instrumentation.h"
#include "instrument/jvmti_breakpoints.h"
#include "instrument/old_frames.h"
#include "instrument/profiler_entries.h"
#include "instrument/stack_capture.h"
#include "session/class_waits.h"
#include "session/session_start.h"
#include "trace/call_timing.h"
#include "trace/event_bank.h"
#include "trace/table_readers.h"
#include "trace/thread_tags.h"
#include "trace/trace_points.h"

namespace {
enum class SessionState { kNotTried, kStarted, kNoJvmti };
SessionState g_sessionState = SessionState::kNotTried;

// Whether a setup call succeeded; a failure is reported once, naming the call.
bool Succeeded(jvmtiError error, const char* call) {
    if (error == JVMTI_ERROR_NONE) return true;
    ErrorOut("Vexo error:  JVMTI %s failed (%d)\n", call, static_cast<int>(error));
    return false;
}

// The VM is ending: events that still come (on threads that outlive VMDeath) are not acted on.
std::atomic<bool> g_vmDead{false};
void JNICALL OnVmDeath(jvmtiEnv*, JNIEnv*) { g_vmDead.store(true, std::memory_order_release); }
bool VmDead() { return g_vmDead.load(std::memory_order_acquire); }

// A class loads or is retransformed. It is rewritten while the entry instrumentation retransforms
// it, while the session's patterns arm classes as they load, while profiler mode's entries are
// on, or while fields are armed by instrumentation (their sites, in every class that loads); each
// pass is handed what the one before made: the trace
// points' entry probes, profiler mode's entries in the methods those leave, the trace points'
// probes of arguments and exits (whose prologue goes before an entry hook's call), the armed
// fields' sites.
void JNICALL OnClassFileLoad(jvmtiEnv* jvmti, JNIEnv* jni, jclass redefined, jobject loader, const char* name,
                             jobject, jint length, const unsigned char* data, jint* newLength,
                             unsigned char** newData) {
    if (VmDead() || (!RetransformingForProbes() && !LoadPatternsSet() && !ProfilerEntriesOn() && !FieldSitesWanted())) {
        return;
    }
    LoadingClass c;
    c.jni = jni;
    c.classBeingRedefined = redefined;
    c.loader = loader;
    c.name = name;
    RunClassFilePasses(jvmti, &c, {EntryProbesPass, ProfilerEntriesPass, MethodProbesPass, FieldSitesPass}, data,
                       length, newLength, newData);
}

// A class is prepared: first the field trace points (a class naming an armed field through a
// class loading late), then profiler mode's method entries (the methods of a class instrumented
// as it loaded), then the in-VM session (it may arm the class, which needs both before), last
// the profiler interface's class-load event.
void JNICALL OnClassPrepare(jvmtiEnv*, JNIEnv* jni, jthread, jclass klass) {
    if (VmDead()) return;
    DeclareCallbackRoom(jni);
    FieldInstrumentationOnClassPrepare(jni, klass);
    ProfilerEntriesOnClassPrepare(jni, klass);
    ClassWaitsOnClassPrepare(jni, klass);
    JvmpiPostClassPrepare(jni, klass);
}

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
    wanted.can_get_line_numbers = 1;     // naming recorded stacks' frames and field access sites
    wanted.can_get_source_file_name = 1;
    // The profiler interface: identifiers in object tags, and the frees of tagged objects.
    wanted.can_tag_objects = 1;
    wanted.can_generate_object_free_events = 1;
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

// A watched field's access: frames running code from before the field was armed pass their
// accesses (the others come through the hook), then the debug interface raises the event.
void JNICALL OnFieldAccess(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method, jlocation location,
                           jclass fieldClass, jobject object, jfieldID field) {
    if (!OldFramesRaise(jni, method, fieldClass, field)) return;
    BridgeOnFieldAccess(jvmti, jni, thread, method, location, fieldClass, object, field);
}

void JNICALL OnFieldModification(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method,
                                 jlocation location, jclass fieldClass, jobject object, jfieldID field,
                                 char signatureType, jvalue newValue) {
    if (!OldFramesRaise(jni, method, fieldClass, field)) return;
    BridgeOnFieldModification(jvmti, jni, thread, method, location, fieldClass, object, field, signatureType,
                              newValue);
}

// A thread that ends retires the tag its events name, hands over its call timing and gives
// back its slot for reading the trace point table.
void JNICALL OnThreadEnd(jvmtiEnv*, JNIEnv* jni, jthread) {
    if (!VmDead()) RetireCurrentThreadTag(jni);
    RetireThreadTiming();
    ReleaseTableReadSlot();
}

// Installs the callbacks; false when the VM refuses them (no event would reach the bridge).
bool InstallCallbacks(jvmtiEnv* jvmti) {
    jvmtiEventCallbacks callbacks = {};
    callbacks.Breakpoint = BridgeOnBreakpoint;
    callbacks.FieldAccess = OnFieldAccess;
    callbacks.FieldModification = OnFieldModification;
    callbacks.ClassFileLoadHook = OnClassFileLoad;
    callbacks.ClassPrepare = OnClassPrepare;
    callbacks.ObjectFree = JvmpiOnObjectFree;
    callbacks.MethodEntry = JvmpiOnMethodEntry;
    callbacks.ThreadEnd = OnThreadEnd;
    callbacks.VMInit = InVmSessionOnVmInit;
    callbacks.VMDeath = OnVmDeath;
    if (!Succeeded(jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)), "SetEventCallbacks")) {
        return false;
    }
    Succeeded(jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_END, nullptr), "enabling ThreadEnd");
    Succeeded(jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_VM_DEATH, nullptr), "enabling VMDeath");
    return true;
}
}  // namespace

bool BridgeStartSession(JavaVM* vm, bool atLoad) {
    if (g_sessionState != SessionState::kNotTried) return g_sessionState == SessionState::kStarted;
    jvmtiEnv* jvmti = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2) != JNI_OK ||
        jvmti == nullptr) {
        g_sessionState = SessionState::kNoJvmti;
        return false;
    }
    g_bridge.vm = vm;
    g_bridge.startedAtLoad = atLoad;
    TakeCapabilities(jvmti);
    EventSwitchesInit(jvmti);
    GateInit(jvmti);
    OldFramesInit(jvmti,
                  g_bridge.granted.can_generate_field_access_events &&
                      g_bridge.granted.can_generate_field_modification_events,
                  !g_bridge.attached);
    JvmtiBreakpointsInit(jvmti);
    StackCaptureInit(jvmti);
    InstrumentationInit(jvmti, g_bridge.forceBreakpoints);
    FieldInstrumentationInit(jvmti, FieldWatchesForced());
    ProfilerEntriesInit(jvmti);
    // A hit past the limit that the recorder would only refuse stops in the entry hook's Java.
    g_recording.refusalListener = GateEntryHook;
    // So does, within the limit, a hit whose receiver its trace point's class refuses.
    g_recording.roomListener = EntryHookRoom;
    g_firstEntriesListener = GateProbesByOwner;
    ProfilerEntryRoad entries;
    entries.available = ProfilerEntriesAvailable;
    entries.set = SetProfilerEntries;
    entries.filter = SetProfilerEntryFilter;
    JvmpiBridgeInit(jvmti, entries);
    HandTheDebugInterfaceItsRoads();
    if (!InstallCallbacks(jvmti)) {
        g_sessionState = SessionState::kNoJvmti;
        return false;
    }
    g_bridge.jvmti = jvmti;
    g_sessionState = SessionState::kStarted;
    if (!g_bridge.attached && (!g_bridge.granted.can_generate_breakpoint_events ||
                               !g_bridge.granted.can_generate_field_access_events)) {
        ErrorOut("Vexo error:  this VM grants breakpoints and field watches only to an agent "
                 "loaded at start-up; methods and fields that cannot be instrumented stay "
                 "unarmed. Start Java with -agentpath:/path/to/libvexo.so to trace "
                 "everything\n");
    }
    return true;
}

JavaVM* BridgeWrapVm(JavaVM* vm) {
    if (!BridgeStartSession(vm, false)) return vm;
    return BridgeProxyVm();
}

void HandTheDebugInterfaceItsRoads() {
    DebugRoads roads;
    roads.setBreakpoint = InstrumentedSetBreakpoint;
    roads.clearBreakpoint = InstrumentedClearBreakpoint;
    roads.setFieldWatch = FieldSetWatch;
    roads.clearFieldWatch = FieldClearWatch;
    roads.fieldsInstrumented = FieldInstrumentationAvailable;
    JvmdiBridgeUseRoads(roads);
}

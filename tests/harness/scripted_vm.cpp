#include "tests/harness/scripted_vm.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "agent/java_boundary.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"
#include "trace/thread_tags.h"

#include <gtest/gtest.h>

namespace {
VmScript g_script;
std::mutex g_logMutex;  // guards g_log
std::vector<std::string> g_log;

JNIInvokeInterface_ g_proxyInvoke;
JavaVM g_proxyVm;
bool g_proxyReady = false;

JVMPI_Interface g_jvmpi;
JVMDI_Interface_1 g_jvmdi;
JVMDI_EventHook g_debugHook = nullptr;

void Log(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(g_logMutex);
    g_log.emplace_back(text);
}

// --- the profiler interface ---------------------------------------------------------------

jint ScriptedEnableEvent(jint type, void* arg) {
    Log("EnableEvent %d%s", type, arg == nullptr ? "" : " arg");
    auto it = g_script.enableEventResults.find(type);
    return it == g_script.enableEventResults.end() ? JVMPI_SUCCESS : it->second;
}

jint ScriptedDisableEvent(jint type, void* arg) {
    Log("DisableEvent %d%s", type, arg == nullptr ? "" : " arg");
    return JVMPI_SUCCESS;
}

jint ScriptedRequestEvent(jint type, void* arg) {
    const auto id = static_cast<jobjectID>(reinterpret_cast<uintptr_t>(arg));
    Log("RequestEvent %d 0x%x", type, id);
    if (!g_script.onRequestEvent) return JVMPI_NOT_AVAILABLE;
    g_script.onRequestEvent(type, id);
    return JVMPI_SUCCESS;
}

std::mutex g_idsMutex;  // guards g_objectsById
std::vector<jobject> g_objectsById;  // global references; id = 0x1000 + 8 * index
std::map<jobjectID, jobject> g_forcedIds;  // global references under identifiers a test chose

jobject ScriptedIdToObject(jobjectID id) {
    std::lock_guard<std::mutex> hold(g_idsMutex);
    const auto forced = g_forcedIds.find(id);
    if (forced != g_forcedIds.end()) return TestEnv()->NewLocalRef(forced->second);
    const size_t index = (id - 0x1000) / 8;
    if (id < 0x1000 || (id - 0x1000) % 8 != 0 || index >= g_objectsById.size()) return nullptr;
    return TestEnv()->NewLocalRef(g_objectsById[index]);
}

jobjectID ScriptedObjectToId(jobject object) { return ProfilerIdOf(TestEnv(), object); }

// --- the debug interface ------------------------------------------------------------------

jvmdiError JNICALL ScriptedSetEventHook(JVMDI_EventHook hook) {
    Log("SetEventHook");
    if (g_script.setEventHookResult == JVMDI_ERROR_NONE) g_debugHook = hook;
    return g_script.setEventHookResult;
}

jvmdiError ScriptedSetEventNotificationMode(jint mode, jint kind, jthread thread, ...) {
    Log("SetEventNotificationMode %d %d %s", mode, kind, thread == nullptr ? "null" : "thread");
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedGetCapabilities(JVMDI_capabilities* capabilities) {
    Log("GetCapabilities");
    std::memcpy(capabilities, &g_script.capabilityBits, sizeof *capabilities);
    return JVMDI_ERROR_NONE;
}

thread_local jobject t_frameReceiver = nullptr;
thread_local int t_frameMarker = 0;  // its address is the frame identifier

jvmdiError JNICALL ScriptedGetCurrentFrame(jthread, jframeID* frame) {
    Log("GetCurrentFrame");
    *frame = g_script.getCurrentFrameResult == JVMDI_ERROR_NONE
                 ? reinterpret_cast<jframeID>(&t_frameMarker)
                 : nullptr;
    return g_script.getCurrentFrameResult;
}

jvmdiError JNICALL ScriptedGetLocalObject(jframeID frame, jint slot, jobject* value) {
    Log("GetLocalObject %d", slot);
    if (frame != reinterpret_cast<jframeID>(&t_frameMarker)) return JVMDI_ERROR_INVALID_FRAMEID;
    JNIEnv* env = TestEnv();
    if (g_script.reenterFromGetLocalObject != nullptr && g_debugHook != nullptr) {
        JVMDI_Event nested = {};
        nested.kind = JVMDI_EVENT_BREAKPOINT;
        nested.u.breakpoint.method = g_script.reenterFromGetLocalObject;
        g_debugHook(env, &nested);
    }
    *value = t_frameReceiver == nullptr ? nullptr : env->NewGlobalRef(t_frameReceiver);
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedGetLoadedClasses(jint* count, jclass** classes) {
    Log("GetLoadedClasses");
    *count = 0;
    *classes = nullptr;
    if (g_script.getLoadedClassesResult != JVMDI_ERROR_NONE) return g_script.getLoadedClassesResult;
    JNIEnv* env = TestEnv();
    *classes = new jclass[g_script.loadedClasses.size() + 1];
    for (const char* name : g_script.loadedClasses) {
        jclass local = env->FindClass(name);
        (*classes)[(*count)++] = static_cast<jclass>(env->NewGlobalRef(local));
        env->DeleteLocalRef(local);
    }
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedDeallocate(jbyte* memory) {
    Log("Deallocate");
    delete[] reinterpret_cast<jclass*>(memory);
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedSetBreakpoint(jclass, jmethodID method, jlocation location) {
    Log("SetBreakpoint %p %lld", static_cast<void*>(method), static_cast<long long>(location));
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedClearBreakpoint(jclass, jmethodID method, jlocation location) {
    Log("ClearBreakpoint %p %lld", static_cast<void*>(method), static_cast<long long>(location));
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedSetFieldAccessWatch(jclass, jfieldID field) {
    Log("SetFieldAccessWatch %p", static_cast<void*>(field));
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedClearFieldAccessWatch(jclass, jfieldID field) {
    Log("ClearFieldAccessWatch %p", static_cast<void*>(field));
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedSetFieldModificationWatch(jclass, jfieldID field) {
    Log("SetFieldModificationWatch %p", static_cast<void*>(field));
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL ScriptedClearFieldModificationWatch(jclass, jfieldID field) {
    Log("ClearFieldModificationWatch %p", static_cast<void*>(field));
    return JVMDI_ERROR_NONE;
}

// --- the invocation interface and JNI -----------------------------------------------------

// Logs only the scripted versions: the JDK's own libraries reach this proxy too (through
// JNIEnv's GetJavaVM) and ask for JNI environments.
jint JNICALL ProxyGetEnv(JavaVM*, void** env, jint version) {
    jint status;
    void* table;
    switch (version) {
        case JVMPI_VERSION_1_1: status = g_script.jvmpi11Status; table = &g_jvmpi; break;
        case JVMPI_VERSION_1: status = g_script.jvmpi1Status; table = &g_jvmpi; break;
        case JVMDI_VERSION_1: status = g_script.jvmdiStatus; table = &g_jvmdi; break;
        default:
            // The scripted VM is one of the old generation: it has no JVMTI, so the agent
            // uses the scripted tables directly instead of bridging over JVMTI.
            if ((version & 0x70000000) == 0x30000000) {
                *env = nullptr;
                return JNI_EVERSION;
            }
            return TestJvm()->GetEnv(env, version);
    }
    Log("GetEnv 0x%08x", static_cast<unsigned>(version));
    if (status == JNI_OK && table == &g_jvmpi) g_jvmpi.version = version;
    *env = status == JNI_OK ? table : nullptr;
    return status;
}

const JNINativeInterface_* g_realJni = nullptr;
std::atomic<long> g_liveGlobalRefs{0};
std::atomic<long> g_liveWeakRefs{0};

jclass JNICALL ScriptedFindClass(JNIEnv* env, const char* name) {
    if (g_script.missingClass != nullptr && std::strcmp(name, g_script.missingClass) == 0) {
        g_realJni->ThrowNew(env, g_realJni->FindClass(env, "java/lang/NoClassDefFoundError"), name);
        return nullptr;
    }
    return g_realJni->FindClass(env, name);
}

jclass JNICALL ScriptedDefineClass(JNIEnv* env, const char* name, jobject loader, const jbyte* bytes, jsize size) {
    if (g_script.refusedDefinition != nullptr && name != nullptr && std::strcmp(name, g_script.refusedDefinition) == 0) {
        g_realJni->ThrowNew(env, g_realJni->FindClass(env, "java/lang/LinkageError"), name);
        return nullptr;
    }
    return g_realJni->DefineClass(env, name, loader, bytes, size);
}

// Behind the JNI checker too, which hands its variadic calls on as CallStaticVoidMethodV.
void JNICALL ScriptedCallStaticVoidMethodV(JNIEnv* env, jclass clazz, jmethodID method, va_list arguments) {
    ++g_script.staticVoidCalls;
    if (g_script.failingStaticVoidCalls > 0) {
        --g_script.failingStaticVoidCalls;
        g_realJni->ThrowNew(env, g_realJni->FindClass(env, "java/lang/NoSuchFieldError"), "scripted");
        return;
    }
    g_realJni->CallStaticVoidMethodV(env, clazz, method, arguments);
}

void JNICALL ScriptedCallStaticVoidMethod(JNIEnv* env, jclass clazz, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    ScriptedCallStaticVoidMethodV(env, clazz, method, arguments);
    va_end(arguments);
}

jobject JNICALL CountingNewGlobalRef(JNIEnv* env, jobject ref) {
    jobject global = g_realJni->NewGlobalRef(env, ref);
    if (global != nullptr) ++g_liveGlobalRefs;
    return global;
}

void JNICALL CountingDeleteGlobalRef(JNIEnv* env, jobject ref) {
    if (ref != nullptr) --g_liveGlobalRefs;
    g_realJni->DeleteGlobalRef(env, ref);
}

jweak JNICALL CountingNewWeakGlobalRef(JNIEnv* env, jobject ref) {
    jweak weak = g_realJni->NewWeakGlobalRef(env, ref);
    if (weak != nullptr) ++g_liveWeakRefs;
    return weak;
}

void JNICALL CountingDeleteWeakGlobalRef(JNIEnv* env, jweak ref) {
    if (ref != nullptr) --g_liveWeakRefs;
    g_realJni->DeleteWeakGlobalRef(env, ref);
}

jint JNICALL ScriptedGetVersion(JNIEnv* env) {
    return g_script.jniVersion != 0 ? g_script.jniVersion : g_realJni->GetVersion(env);
}

jint JNICALL ScriptedGetJavaVM(JNIEnv* env, JavaVM** vm) {
    if (!g_script.getJavaVmAnswersProxy) return g_realJni->GetJavaVM(env, vm);
    *vm = &g_proxyVm;
    return JNI_OK;
}

// Replaces GetVersion and GetJavaVM in the JNI function table of every JNIEnv.
void RouteJniThroughScript() {
    jvmtiEnv* jvmti = TestJvmti();
    jniNativeInterface* table = nullptr;
    jvmti->GetJNIFunctionTable(&table);
    static JNINativeInterface_ real = *table;
    g_realJni = &real;
    table->GetVersion = ScriptedGetVersion;
    table->GetJavaVM = ScriptedGetJavaVM;
    table->FindClass = ScriptedFindClass;
    table->DefineClass = ScriptedDefineClass;
    table->CallStaticVoidMethod = ScriptedCallStaticVoidMethod;
    table->CallStaticVoidMethodV = ScriptedCallStaticVoidMethodV;
    table->NewGlobalRef = CountingNewGlobalRef;
    table->DeleteGlobalRef = CountingDeleteGlobalRef;
    table->NewWeakGlobalRef = CountingNewWeakGlobalRef;
    table->DeleteWeakGlobalRef = CountingDeleteWeakGlobalRef;
    jvmti->SetJNIFunctionTable(table);
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(table));
}

void BuildProxy() {
    JavaVM* real = TestJvm();
    g_proxyInvoke = *real->functions;
    g_proxyInvoke.GetEnv = ProxyGetEnv;
    g_proxyVm.functions = &g_proxyInvoke;

    std::memset(&g_jvmpi, 0, sizeof g_jvmpi);
    g_jvmpi.EnableEvent = ScriptedEnableEvent;
    g_jvmpi.DisableEvent = ScriptedDisableEvent;
    g_jvmpi.RequestEvent = ScriptedRequestEvent;
    g_jvmpi.jobjectID2jobject = ScriptedIdToObject;
    g_jvmpi.jobject2jobjectID = ScriptedObjectToId;

    std::memset(&g_jvmdi, 0, sizeof g_jvmdi);
    g_jvmdi.SetEventHook = ScriptedSetEventHook;
    g_jvmdi.SetEventNotificationMode = ScriptedSetEventNotificationMode;
    g_jvmdi.GetCapabilities = ScriptedGetCapabilities;
    g_jvmdi.GetCurrentFrame = ScriptedGetCurrentFrame;
    g_jvmdi.GetLocalObject = ScriptedGetLocalObject;
    g_jvmdi.SetBreakpoint = ScriptedSetBreakpoint;
    g_jvmdi.GetLoadedClasses = ScriptedGetLoadedClasses;
    g_jvmdi.Deallocate = ScriptedDeallocate;
    g_jvmdi.ClearBreakpoint = ScriptedClearBreakpoint;
    g_jvmdi.SetFieldAccessWatch = ScriptedSetFieldAccessWatch;
    g_jvmdi.ClearFieldAccessWatch = ScriptedClearFieldAccessWatch;
    g_jvmdi.SetFieldModificationWatch = ScriptedSetFieldModificationWatch;
    g_jvmdi.ClearFieldModificationWatch = ScriptedClearFieldModificationWatch;

    RouteJniThroughScript();
    g_proxyReady = true;
}
}  // namespace

VmScript& Script() { return g_script; }

void StartAgent(const char* options) {
    JavaVM* vm = ScriptedVm();  // the embedded JVM starts outside the capture
    StderrCapture quiet;
    JVM_OnLoad(vm, const_cast<char*>(options), nullptr);
}

void SetCurrentFrameReceiver(jobject receiver) { t_frameReceiver = receiver; }

jobjectID ProfilerIdOf(JNIEnv* env, jobject object) {
    if (object == nullptr) return 0;
    std::lock_guard<std::mutex> hold(g_idsMutex);
    for (size_t i = 0; i < g_objectsById.size(); ++i) {
        if (env->IsSameObject(g_objectsById[i], object)) return static_cast<jobjectID>(0x1000 + 8 * i);
    }
    g_objectsById.push_back(g_realJni->NewGlobalRef(env, object));  // not counted as the agent's
    return static_cast<jobjectID>(0x1000 + 8 * (g_objectsById.size() - 1));
}

void ForceProfilerId(JNIEnv* env, jobject object, jobjectID id) {
    std::lock_guard<std::mutex> hold(g_idsMutex);
    g_forcedIds[id] = g_realJni->NewGlobalRef(env, object);  // not counted as the agent's
}

void SendProfilerEvent(JVMPI_Event* event) {
    ASSERT_NE(g_jvmpi.NotifyEvent, nullptr) << "the agent installed no profiler dispatcher";
    g_jvmpi.NotifyEvent(event);
}

long LiveGlobalRefs() { return g_liveGlobalRefs.load(); }
// Less the agent's per-thread tags, which live as long as their threads.
long LiveWeakGlobalRefs() { return g_liveWeakRefs.load() - LiveThreadTagReferences(); }

JavaVM* ScriptedVm() {
    if (!g_proxyReady) BuildProxy();
    return &g_proxyVm;
}

JVMPI_Interface* ScriptedJvmpi() { return &g_jvmpi; }
JVMDI_Interface_1* ScriptedJvmdi() { return &g_jvmdi; }
JVMDI_EventHook InstalledDebugHook() { return g_debugHook; }

std::vector<std::string> CallLog() {
    std::lock_guard<std::mutex> hold(g_logMutex);
    return g_log;
}

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> matching;
    for (const std::string& call : CallLog()) {
        if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
    }
    return matching;
}

std::vector<std::string> ArmingCalls() {
    std::vector<std::string> arming;
    for (const std::string& call : CallLog()) {
        if (call.rfind("SetBreakpoint", 0) == 0 || call.rfind("SetField", 0) == 0) {
            arming.push_back(call);
        }
    }
    return arming;
}

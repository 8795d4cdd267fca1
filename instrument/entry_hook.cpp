#include "instrument/entry_hook.h"

// Lock order: the hook class's lock comes after the entry instrumentation lock and before the
// field table's lock, which the class file hook run by the class's definition may take (see
// instrument/entry_instrumentation.cpp).

#include <atomic>
#include <vector>

#include "instrument/class_rewriter.h"
#include "bridge/debug_events.h"
#include "instrument/armed_members.h"
#include "instrument/hook_class.h"
#include "bridge/jvmpi_bridge.h"
#include "bridge/jvmti_env.h"
#include "platform/os.h"
#include "core/agent_state.h"
#include "trace/debug_hook.h"
#include "trace/event_bank.h"

namespace {
// Whether the hook class is defined and bound.
HookClassState g_hookState = HookClassState::kNotTried;

// The hook class's gate, once the class is defined.
struct EntryGate {
    JavaVM* vm = nullptr;
    std::atomic<jclass> hook{nullptr};  // global reference
    jfieldID closed = nullptr;
    jfieldID passId = nullptr;
    jfieldID owners = nullptr;
    // The owners array (a global reference, null while no probe has an owner), its length, and
    // whether the gate holds it: the limit leaves room. Under the recording lock.
    jobjectArray ownersArray = nullptr;
    jint ownersLength = 0;
    bool room = true;
    bool ownersShown = false;
    // The module of the hook classes (the boot loader's unnamed module), a global reference.
    std::atomic<jobject> hooksModule{nullptr};
    bool isClosed = false;  // under the recording lock, as every change of the gate
};
EntryGate g_gate;

constexpr const char* kEntryHookNative = "enter0";

// Runs at the start of every instrumented method, on the thread that entered it. A hit the
// recorder would only refuse at the limit returns at once, without a JNI call.
void JNICALL Enter(JNIEnv* env, jclass, jobject receiver, jint id) {
    if (id >= kProfilerEntryIdBase) {
        const jmethodID method = ProfilerEntryMethod(id);
        if (method == nullptr || RefusedWithoutTheLock(method)) return;
        JvmpiPostMethodEntry(env, method, receiver);
    } else {
        const jmethodID method = ArmedProbeMethod(id);
        if (method == nullptr) return;  // disarmed while this code version was still running
        if (RefusedWithoutTheLock(method)) return;
        MethodEntryOffer offer;
        offer.receiver = receiver;
        offer.active = true;
        MethodEntryOffer* previous = OfferMethodEntry(&offer);
        BridgeRaiseMethodEntry(env, method, receiver);
        OfferMethodEntry(previous);
        if (ProfilerEntriesOn()) JvmpiPostMethodEntry(env, method, receiver);
    }
    // Nothing the tracing did may change the program: no exception leaves the hook.
    if (env->ExceptionCheck()) env->ExceptionClear();
}
}  // namespace

bool EnsureEntryHookClass(JNIEnv* env) {
    // Asked for by the arming of trace points and by profiler entries' pass in the class file
    // hook, on any thread: one defines the class, the others wait for its answer (the class file
    // hook that the definition runs does not ask again).
    static OsLock lock;
    static const bool ready = OsLockInit(&lock);
    (void)ready;
    OsLockGuard held(&lock);
    if (g_hookState != HookClassState::kNotTried) return g_hookState == HookClassState::kDefined;
    const std::vector<HookNative> natives{{kEntryHookNative, kEntryHookDescriptor, reinterpret_cast<void*>(Enter)}};
    const bool defined = DefineGatedHookClass(env, kEntryHookClass, natives, {{kEntryHookMethod, kEntryHookNative}});
    g_hookState = defined ? HookClassState::kDefined : HookClassState::kRefused;
    if (defined) {
        jclass hook = env->FindClass(kEntryHookClass);
        if (hook != nullptr) {
            g_gate.closed = env->GetStaticFieldID(hook, kGateClosedField, "Z");
            g_gate.passId = env->GetStaticFieldID(hook, kGatePassField, "I");
            g_gate.owners = env->GetStaticFieldID(hook, kGateOwnersField, kGateOwnersDescriptor);
            env->GetJavaVM(&g_gate.vm);
            if (g_gate.closed != nullptr && g_gate.passId != nullptr && g_gate.owners != nullptr) {
                g_gate.hook.store(static_cast<jclass>(env->NewGlobalRef(hook)), std::memory_order_release);
            }
            jobject module = env->GetModule(hook);
            if (module != nullptr) {
                g_gate.hooksModule.store(env->NewGlobalRef(module), std::memory_order_release);
                env->DeleteLocalRef(module);
            }
            env->DeleteLocalRef(hook);
        }
        env->ExceptionClear();
    }
    return defined;
}

namespace {
// The modules made to read the hooks' module, global references; few (the JDK's and the
// program's named modules).
struct Readers {
    OsLock lock;
    std::vector<jobject> modules;
};

Readers& TheReaders() {
    static Readers readers;
    static const bool ready = OsLockInit(&readers.lock);
    (void)ready;
    return readers;
}
}  // namespace

bool LetModuleReadTheHooks(jobject module) {
    jobject hooks = g_gate.hooksModule.load(std::memory_order_acquire);
    JNIEnv* env = nullptr;
    if (hooks == nullptr || g_bridge.jvmti == nullptr ||
        g_gate.vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
        return false;
    }
    if (ModuleReadsTheHooks(env, module)) return true;  // a read added once holds (and runs Java code)
    const bool reads = g_bridge.jvmti->AddModuleReads(module, hooks) == JVMTI_ERROR_NONE;
    if (reads) {
        Readers& r = TheReaders();
        OsLockGuard held(&r.lock);
        r.modules.push_back(env->NewGlobalRef(module));
    }
    return reads;
}

bool ModuleReadsTheHooks(JNIEnv* env, jobject module) {
    Readers& r = TheReaders();
    OsLockGuard held(&r.lock);
    for (jobject m : r.modules) {
        if (env->IsSameObject(m, module)) return true;
    }
    return false;
}

bool EntryHookClassReady() { return g_gate.hook.load(std::memory_order_acquire) != nullptr; }

void LetJavaBaseReadTheHooks(JNIEnv* env) {
    jclass object = env->FindClass("java/lang/Object");
    jobject base = object != nullptr ? env->GetModule(object) : nullptr;
    if (base != nullptr && EnsureEntryHookClass(env)) LetModuleReadTheHooks(base);
    env->ExceptionClear();
    if (base != nullptr) env->DeleteLocalRef(base);
    if (object != nullptr) env->DeleteLocalRef(object);
}

namespace {
JNIEnv* GateEnv(jclass* hook) {
    *hook = g_gate.hook.load(std::memory_order_acquire);
    JNIEnv* env = nullptr;
    if (*hook == nullptr || g_gate.vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) return nullptr;
    return env;
}

// The gate holds the owners array while the limit leaves room and there is one. Under the
// recording lock; `anew`: the array itself changed.
void ShowOwnersLocked(JNIEnv* env, jclass hook, bool anew = false) {
    const bool show = g_gate.room && g_gate.ownersArray != nullptr;
    if (show == g_gate.ownersShown && !anew) return;
    env->SetStaticObjectField(hook, g_gate.owners, show ? g_gate.ownersArray : nullptr);
    g_gate.ownersShown = show;
}

// A copy of the first `length` owners of `from` (may be null) in an array of `grown`, a global
// reference; null without memory.
jobjectArray GrownOwners(JNIEnv* env, jobjectArray from, jint length, jint grown) {
    jclass classClass = env->FindClass("java/lang/Class");
    jobjectArray local = classClass == nullptr ? nullptr : env->NewObjectArray(grown, classClass, nullptr);
    if (classClass != nullptr) env->DeleteLocalRef(classClass);
    if (local == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    for (jint i = 0; i < length && from != nullptr; ++i) {
        jobject held = env->GetObjectArrayElement(from, i);
        if (held != nullptr) env->SetObjectArrayElement(local, i, held);
        if (held != nullptr) env->DeleteLocalRef(held);
    }
    auto array = static_cast<jobjectArray>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return array;
}
}  // namespace

void SetEntryHookOwners(JNIEnv* env, const ProbeOwner* owners, size_t count, bool reset) {
    jclass hook = nullptr;
    if (GateEnv(&hook) == nullptr) return;
    // The owners change only here, one activation at a time: the array is made and filled
    // without the recording lock, which guards what the gate holds.
    jint length = 0;
    for (size_t i = 0; i < count; ++i) length = owners[i].probe >= length ? owners[i].probe + 1 : length;
    jobjectArray kept = reset ? nullptr : g_gate.ownersArray;
    const jint keptLength = reset ? 0 : g_gate.ownersLength;
    jobjectArray array = kept;
    jint arrayLength = keptLength;
    if (length > keptLength) {
        // A longer array with the owners so far; without memory the gate refuses no object by
        // its class, and the recorder refuses it.
        arrayLength = length > 2 * keptLength ? length : 2 * keptLength;
        array = GrownOwners(env, kept, keptLength, arrayLength);
        if (array == nullptr) arrayLength = 0;
    }
    for (size_t i = 0; i < count && array != nullptr; ++i) {
        env->SetObjectArrayElement(array, owners[i].probe, owners[i].owner);
    }
    jobjectArray old = g_gate.ownersArray;
    {
        OsLockGuard recording(&g_agent.recordingLock);
        g_gate.ownersArray = array;
        g_gate.ownersLength = arrayLength;
        ShowOwnersLocked(env, hook, array != old);
    }
    if (old != nullptr && old != array) env->DeleteGlobalRef(old);
}

void EntryHookRoom(bool room) {
    g_gate.room = room;
    jclass hook = nullptr;
    JNIEnv* env = GateEnv(&hook);
    if (env != nullptr) ShowOwnersLocked(env, hook);
}

void GateEntryHook(bool refusing, const void* except) {
    jclass hook = g_gate.hook.load(std::memory_order_acquire);
    JNIEnv* env = nullptr;
    if (hook == nullptr || g_gate.vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) return;
    jint pass = -1;
    if (refusing && except != nullptr) {
        // The one mark recorded past the limit must still reach the recorder: closed only when
        // its hits pass the gate by their id, or do not come through this hook at all.
        const jint probes = ArmedProbesOf(static_cast<jmethodID>(const_cast<void*>(except)), &pass);
        if (probes > 1 || (probes == 0 && ProfilerEntriesOn())) return;
        if (probes == 0) pass = -1;
    }
    if (refusing == g_gate.isClosed) return;
    if (refusing) env->SetStaticIntField(hook, g_gate.passId, pass);
    env->SetStaticBooleanField(hook, g_gate.closed, refusing ? JNI_TRUE : JNI_FALSE);
    g_gate.isClosed = refusing;
}

#include "instrument/entry_hook.h"

// Lock order: the hook class's lock comes after the entry instrumentation lock and before the
// field table's lock, which the class file hook run by the class's definition may take (see
// instrument/entry_instrumentation.cpp).

#include "instrument/class_rewriter.h"
#include "bridge/debug_events.h"
#include "instrument/armed_members.h"
#include "instrument/hook_class.h"
#include "bridge/jvmpi_bridge.h"
#include "platform/os.h"
#include "trace/debug_hook.h"

namespace {
// Whether the hook class is defined and bound.
HookClassState g_hookState = HookClassState::kNotTried;

// Runs at the start of every instrumented method, on the thread that entered it.
void JNICALL Enter(JNIEnv* env, jclass, jobject receiver, jint id) {
    if (id >= kProfilerEntryIdBase) {
        const jmethodID method = ProfilerEntryMethod(id);
        if (method != nullptr) JvmpiPostMethodEntry(env, method, receiver);
    } else {
        const jmethodID method = ArmedProbeMethod(id);
        if (method == nullptr) return;  // disarmed while this code version was still running
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
    return DefineHookClassOnce(&g_hookState, env, kEntryHookClass, [] {
        return std::vector<HookNative>{{kEntryHookMethod, kEntryHookDescriptor, reinterpret_cast<void*>(Enter)}};
    });
}

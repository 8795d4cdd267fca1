#include "instrument/entry_hook.h"

#include "instrument/class_rewriter.h"
#include "bridge/debug_events.h"
#include "instrument/armed_members.h"
#include "instrument/hook_class.h"
#include "bridge/jvmpi_bridge.h"
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
    return DefineHookClassOnce(&g_hookState, env, kEntryHookClass, [] {
        return std::vector<HookNative>{{kEntryHookMethod, kEntryHookDescriptor, reinterpret_cast<void*>(Enter)}};
    });
}

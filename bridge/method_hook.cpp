#include "bridge/method_hook.h"

#include <atomic>
#include <type_traits>
#include <vector>

#include "bridge/bytecode/method_probes.h"
#include "bridge/debug_events.h"
#include "bridge/entry_instrumentation.h"
#include "bridge/hook_class.h"
#include "bridge/jvmpi_bridge.h"
#include "bridge/profiler_entries.h"
#include "platform/os.h"
#include "trace/call_details.h"
#include "trace/debug_hook.h"
#include "trace/recorder.h"

namespace {
// 0: not tried; 1: defined and bound; 2: failed.
int g_hookState = 0;

constexpr int kMaxShapes = 1 << 16;  // the entry instrumentation's probe ids
std::atomic<const ProbeShape*> g_shapes[kMaxShapes];

constexpr char kValueKinds[] = {'I', 'J', 'F', 'D', 'L'};
constexpr char kExitKinds[] = {'V', 'I', 'J', 'F', 'D', 'L'};

// A call whose exit is awaited. Its exit carries no subject of its own (the call's subject is
// its entry's), except a constructor's, whose entry had no object yet: the object made.
struct OpenCall {
    jint id;
    bool recorded;  // its entry was recorded, so its exit is
    int64_t start;
};

struct ThreadCalls {
    std::vector<jvalue> pending;  // the arguments handed over for the next entry
    std::vector<char> pendingKinds;
    std::vector<OpenCall> open;
};
thread_local ThreadCalls t_calls;
constexpr size_t kMaxOpenCalls = 1 << 16;

const ProbeShape* ShapeOf(jint id) {
    return id >= 0 && id < kMaxShapes ? g_shapes[id].load(std::memory_order_acquire) : nullptr;
}

void DropPending(JNIEnv* env) {
    ThreadCalls& c = t_calls;
    for (size_t i = 0; i < c.pending.size(); ++i) {
        if (c.pendingKinds[i] == 'L' && c.pending[i].l != nullptr) env->DeleteWeakGlobalRef(c.pending[i].l);
    }
    c.pending.clear();
    c.pendingKinds.clear();
}

// The arguments handed over, in the parameters' own kinds, when they match the shape.
CallDetails* TakeArguments(JNIEnv* env, const ProbeShape* shape) {
    ThreadCalls& c = t_calls;
    CallDetails* details = nullptr;
    if (shape != nullptr && shape->arguments && c.pending.size() == shape->kinds.size()) {
        details = NewCallDetails(static_cast<int32_t>(shape->kinds.size()));
    }
    if (details == nullptr) {
        DropPending(env);
        return nullptr;
    }
    for (size_t i = 0; i < c.pending.size(); ++i) {
        CallValue v;
        if (c.pendingKinds[i] == 'L') {
            v.kind = 'L';
            v.value = c.pending[i];  // already a weak reference, which passes to the details
        } else {
            v = MakeCallValue(env, shape->kinds[i], c.pending[i]);
        }
        details->arguments[i] = v;
    }
    c.pending.clear();
    c.pendingKinds.clear();
    return details;
}

template <typename T>
void JNICALL Argument(JNIEnv* env, jclass, T value) {
    jvalue v = HookValue(value);
    char kind = 'P';  // a primitive, given its own kind at the entry
    if (std::is_same<T, jobject>::value) {
        kind = 'L';
        v.l = v.l == nullptr ? nullptr : env->NewWeakGlobalRef(v.l);
    }
    t_calls.pending.push_back(v);
    t_calls.pendingKinds.push_back(kind);
}

void JNICALL Enter(JNIEnv* env, jclass, jobject receiver, jint id) {
    const ProbeShape* shape = ShapeOf(id);
    CallDetails* arguments = TakeArguments(env, shape);
    const jmethodID method = ArmedProbeMethod(id);
    MethodEntryOffer offer;
    if (method != nullptr) {
        offer.details = arguments;
        offer.active = true;
        MethodEntryOffer* previous = OfferMethodEntry(&offer);
        BridgeRaiseMethodEntry(env, method, receiver);
        OfferMethodEntry(previous);
        if (ProfilerEntriesOn()) JvmpiPostMethodEntry(env, method, receiver);
        arguments = offer.details;  // left when the entry took none
    }
    ReleaseCallDetails(env, arguments);
    if (shape != nullptr && shape->exits) {
        // Calls whose exits are never seen (a constructor left by its super call's exception)
        // would pile up under the live ones: a runaway stack loses its oldest half.
        std::vector<OpenCall>& open = t_calls.open;
        if (open.size() >= kMaxOpenCalls) {
            open.erase(open.begin(), open.begin() + static_cast<std::ptrdiff_t>(open.size() / 2));
        }
        open.push_back({id, offer.recorded, OsMonotonicNanos()});
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
}

// The call `id` ends: its open call is taken off the stack (with any above it, whose exits were
// never seen), and its exit recorded when its entry was.
void Leave(JNIEnv* env, jint id, jobject receiver, bool thrown, jvalue value) {
    const int64_t now = OsMonotonicNanos();
    std::vector<OpenCall>& open = t_calls.open;
    size_t at = open.size();
    while (at > 0 && open[at - 1].id != id) --at;
    if (at == 0) return;  // entered before the probe was armed
    const OpenCall call = open[at - 1];
    open.resize(at - 1);
    const ProbeShape* shape = ShapeOf(id);
    const jmethodID method = ArmedProbeMethod(id);
    CallDetails* details = call.recorded && method != nullptr && shape != nullptr ? NewCallDetails(-1) : nullptr;
    if (details == nullptr) return;
    details->exit = true;
    details->thrown = thrown;
    details->result = MakeCallValue(env, thrown ? 'L' : shape->returnKind, value);
    details->duration = now - call.start;
    // The rewritten code passes a receiver to a constructor's exits only.
    RecordMethodExit(env, method, receiver == nullptr ? nullptr : env->NewWeakGlobalRef(receiver), details);
    if (env->ExceptionCheck()) env->ExceptionClear();
}

void JNICALL ExitVoid(JNIEnv* env, jclass, jobject receiver, jint id) {
    Leave(env, id, receiver, false, HookValue(jint{0}));
}

template <typename T>
void JNICALL Exit(JNIEnv* env, jclass, T value, jobject receiver, jint id) {
    Leave(env, id, receiver, false, HookValue(value));
}

void JNICALL Thrown(JNIEnv* env, jclass, jthrowable exception, jobject receiver, jint id) {
    Leave(env, id, receiver, true, HookValue(static_cast<jobject>(exception)));
}

void* ArgumentOf(char kind) {
    switch (kind) {
        case 'J': return reinterpret_cast<void*>(Argument<jlong>);
        case 'F': return reinterpret_cast<void*>(Argument<jfloat>);
        case 'D': return reinterpret_cast<void*>(Argument<jdouble>);
        case 'L': return reinterpret_cast<void*>(Argument<jobject>);
        default: return reinterpret_cast<void*>(Argument<jint>);
    }
}

void* ExitOf(char kind) {
    switch (kind) {
        case 'V': return reinterpret_cast<void*>(ExitVoid);
        case 'J': return reinterpret_cast<void*>(Exit<jlong>);
        case 'F': return reinterpret_cast<void*>(Exit<jfloat>);
        case 'D': return reinterpret_cast<void*>(Exit<jdouble>);
        case 'L': return reinterpret_cast<void*>(Exit<jobject>);
        default: return reinterpret_cast<void*>(Exit<jint>);
    }
}

std::vector<HookNative> HookMethods() {
    using namespace bytecode;
    std::vector<HookNative> methods;
    for (const char kind : kValueKinds) {
        methods.push_back({MethodHookArgumentName(kind), MethodHookArgumentDescriptor(kind), ArgumentOf(kind)});
    }
    for (const char kind : kExitKinds) {
        methods.push_back({MethodHookExitName(kind), MethodHookExitDescriptor(kind), ExitOf(kind)});
    }
    methods.push_back({kMethodHookEnterName, kMethodHookEnterDescriptor, reinterpret_cast<void*>(Enter)});
    methods.push_back({kMethodHookThrownName, kMethodHookThrownDescriptor, reinterpret_cast<void*>(Thrown)});
    return methods;
}

}  // namespace

void PublishProbeShape(int id, const ProbeShape& shape) {
    if (id < 0 || id >= kMaxShapes) return;
    // Shapes are small and few (one per probe that ever asked for more); an earlier one may
    // still be read by a hook that has not returned, so it is never freed.
    g_shapes[id].store(new ProbeShape(shape), std::memory_order_release);
}

bool EnsureMethodHookClass(JNIEnv* env) {
    if (g_hookState != 0) return g_hookState == 1;
    g_hookState = DefineHookClass(env, bytecode::kMethodHookClass, HookMethods()) ? 1 : 2;
    return g_hookState == 1;
}

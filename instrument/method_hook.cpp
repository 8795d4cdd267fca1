#include "instrument/method_hook.h"

#include <atomic>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bytecode/method_probes.h"
#include "bridge/debug_events.h"
#include "instrument/armed_members.h"
#include "instrument/hook_class.h"
#include "bridge/jvmpi_bridge.h"
#include "platform/os.h"
#include "trace/call_details.h"
#include "trace/call_timing.h"
#include "trace/debug_hook.h"
#include "trace/recorder.h"

namespace {
// Whether the hook class is defined and bound.
HookClassState g_hookState = HookClassState::kNotTried;
std::atomic<bool> g_hookReady{false};

constexpr int kMaxShapes = 1 << 16;  // the entry instrumentation's probe ids
std::atomic<const ProbeShape*> g_shapes[kMaxShapes];

constexpr char kValueKinds[] = {'I', 'J', 'F', 'D', 'L'};
constexpr char kExitKinds[] = {'V', 'I', 'J', 'F', 'D', 'L'};

// A call whose exit is awaited. Its exit carries no subject of its own (the call's subject is
// its entry's), except a constructor's, whose entry had no object yet: the object made.
struct OpenCall {
    jint id;
    bool recorded;  // its entry was recorded, so its exit is
    bool dropped;   // its entry was dropped (the banks were full), so its exit is
    int64_t start;  // the entry's record time
};

// A call of a probe with a threshold, its entry held until its exit decides: the receiver and
// the arguments as weak references (or none), its time on the timing stack.
struct HeldCall {
    jint id;
    jweak receiver;
    int32_t argumentCount;  // -1: none
    std::vector<CallValue> arguments;
};

struct ThreadCalls {
    // The arguments handed over for the next entry, primitives in the widths of the hooks
    // (kind 'P') until the entry gives them their parameters' kinds.
    std::vector<CallValue> pending;
    std::vector<OpenCall> open;
    std::vector<HeldCall> held;
};
thread_local ThreadCalls t_calls;
constexpr size_t kMaxOpenCalls = 1 << 16;

const ProbeShape* ShapeOf(jint id) {
    return id >= 0 && id < kMaxShapes ? g_shapes[id].load(std::memory_order_acquire) : nullptr;
}

template <typename T>
void JNICALL Argument(JNIEnv* env, jclass, T value) {
    CallValue v{'P', false, HookValue(value)};
    if (std::is_same<T, jobject>::value) {
        v.kind = 'L';
        v.value.l = v.value.l == nullptr ? nullptr : env->NewWeakGlobalRef(v.value.l);
    }
    t_calls.pending.push_back(v);
}

void ReleaseHeld(JNIEnv* env, HeldCall* call) {
    if (call->argumentCount > 0) ReleaseCallValues(env, call->arguments.data(), call->argumentCount);
    if (call->receiver != nullptr) env->DeleteWeakGlobalRef(call->receiver);
    call->receiver = nullptr;
    call->argumentCount = -1;
}

// The entry of a call of a probe with a threshold: held, with weak references of its own to the
// receiver and the arguments, once the timing stack has its time (else only counted).
void HoldCall(JNIEnv* env, jobject receiver, jint id, const ProbeShape* shape, const CallValue* arguments,
              int32_t count, bool borrowed) {
    const bool timed = TimedCallEnter(id);
    if (!timed || !shape->arguments) {
        if (!borrowed) ReleaseCallValues(env, arguments, count);
        count = -1;
    }
    if (timed) {
        std::vector<HeldCall>& held = t_calls.held;
        const bool keep = receiver != nullptr && !shape->receiverAtExits;
        held.push_back({id, keep ? env->NewWeakGlobalRef(receiver) : nullptr, count, {}});
        HeldCall& call = held.back();
        if (count > 0) call.arguments.assign(arguments, arguments + count);
        for (int32_t i = 0; borrowed && i < count; ++i) {
            CallValue& v = call.arguments[static_cast<size_t>(i)];
            if (v.kind == 'L' && v.value.l != nullptr) v.value.l = env->NewWeakGlobalRef(v.value.l);
        }
    }
    if (ProfilerEntriesOn()) {
        const jmethodID method = ArmedProbeMethod(id);
        if (method != nullptr) JvmpiPostMethodEntry(env, method, receiver);
    }
    // Only a weak reference's allocation can leave an exception (OutOfMemoryError) pending here.
    if (timed && (receiver != nullptr || count > 0) && env->ExceptionCheck()) env->ExceptionClear();
}

// The exit of a call of a probe with a threshold: its held entry is recorded, at the time it was
// made, and then its exit, when the call took at least the threshold; else both are let go.
void LeaveHeld(JNIEnv* env, jint id, const ProbeShape* shape, jobject receiver, bool thrown, jvalue value) {
    const uint64_t ns = TimedCallEnd(id, thrown, static_cast<uint64_t>(shape->minNanos), shape->countAll);
    std::vector<HeldCall>& held = t_calls.held;
    size_t at = held.size();
    while (at > 0 && held[at - 1].id != id) --at;
    HeldCall call{id, nullptr, -1, {}};
    if (at > 0) {
        call = std::move(held[at - 1]);
        for (size_t above = at; above < held.size(); ++above) ReleaseHeld(env, &held[above]);  // exits never seen
        held.resize(at - 1);
    } else if (!shape->bareEntry) {
        return;  // entered before the probe was armed
    }
    const jmethodID method = ArmedProbeMethod(id);
    if (ns == kNotTimed || ns < static_cast<uint64_t>(shape->minNanos) || method == nullptr) {
        ReleaseHeld(env, &call);
        return;
    }
    const int64_t now = OsMonotonicNanos();
    // The receiver the exit passes (`this`, or a constructor's object), else the one held.
    // A constructor's entry has no object yet, as when it is recorded at once.
    jobject self = shape->constructor ? nullptr
                   : receiver != nullptr ? env->NewLocalRef(receiver)
                   : call.receiver != nullptr ? env->NewLocalRef(call.receiver) : nullptr;
    MethodEntryOffer offer;
    offer.receiver = self;
    offer.arguments = call.arguments.data();
    offer.argumentCount = call.argumentCount;
    offer.active = true;
    offer.entryTime = now - static_cast<int64_t>(ns);
    MethodEntryOffer* previous = OfferMethodEntry(&offer);
    BridgeRaiseMethodEntry(env, method, self);
    OfferMethodEntry(previous);
    if (offer.argumentsTaken) call.argumentCount = -1;
    ReleaseHeld(env, &call);
    if (self != nullptr) env->DeleteLocalRef(self);
    if (offer.recorded) {
        const CallValue result = MakeCallValue(env, thrown ? 'L' : shape->returnKind, value);
        const bool subject = shape->constructor && receiver != nullptr;  // other exits have their entry's
        RecordMethodExit(env, method, subject ? env->NewWeakGlobalRef(receiver) : nullptr, result, thrown,
                         static_cast<int64_t>(ns), now);
    } else if (offer.dropped) {
        CountDroppedExit(method);
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
}

// The entry of the call `id`, with the `count` arguments handed over (-1: none): the caller's
// references (`borrowed`), or weak references deleted unless the entry's record took them.
void EnterCall(JNIEnv* env, jobject receiver, jint id, const ProbeShape* shape, const CallValue* arguments,
               int32_t count, bool borrowed) {
    if (shape != nullptr && shape->minNanos > 0) {
        HoldCall(env, receiver, id, shape, arguments, count, borrowed);
        return;
    }
    const jmethodID method = ArmedProbeMethod(id);
    MethodEntryOffer offer;
    if (method != nullptr) {
        offer.receiver = receiver;
        offer.arguments = arguments;
        offer.argumentCount = count;
        offer.argumentsBorrowed = borrowed;
        offer.active = true;
        MethodEntryOffer* previous = OfferMethodEntry(&offer);
        BridgeRaiseMethodEntry(env, method, receiver);
        OfferMethodEntry(previous);
        if (ProfilerEntriesOn()) JvmpiPostMethodEntry(env, method, receiver);
    }
    if (!offer.argumentsTaken && !borrowed) ReleaseCallValues(env, arguments, count);
    if (shape != nullptr && shape->exits) {
        // Calls whose exits are never seen (a constructor left by its super call's exception)
        // would pile up under the live ones: a runaway stack loses its oldest half.
        std::vector<OpenCall>& open = t_calls.open;
        if (open.size() >= kMaxOpenCalls) {
            const auto half = open.begin() + static_cast<std::ptrdiff_t>(open.size() / 2);
            for (auto call = open.begin(); call != half; ++call) {  // their exits are events not seen
                const jmethodID lost = call->recorded || call->dropped ? ArmedProbeMethod(call->id) : nullptr;
                if (lost != nullptr) CountDroppedExit(lost);
            }
            open.erase(open.begin(), half);
        }
        open.push_back({id, offer.recorded, offer.dropped, offer.time});
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
}

// The arguments handed over one by one: given their parameters' kinds when they match the shape.
void JNICALL Enter(JNIEnv* env, jclass, jobject receiver, jint id) {
    const ProbeShape* shape = ShapeOf(id);
    if (shape != nullptr && shape->minNanos > 0 && !shape->arguments) {  // nothing handed over
        HoldCall(env, receiver, id, shape, nullptr, -1, true);
        return;
    }
    std::vector<CallValue> pending;
    pending.swap(t_calls.pending);  // an entry nested in this one hands over its own
    const bool matching = shape != nullptr && shape->arguments && pending.size() == shape->kinds.size();
    for (size_t i = 0; matching && i < pending.size(); ++i) {
        if (pending[i].kind != 'L') pending[i] = MakeCallValue(env, shape->kinds[i], pending[i].value);
    }
    if (!matching) ReleaseCallValues(env, pending.data(), static_cast<int32_t>(pending.size()));
    EnterCall(env, receiver, id, shape, pending.data(), matching ? static_cast<int32_t>(pending.size()) : -1,
              false);
    pending.clear();
    if (t_calls.pending.empty()) t_calls.pending.swap(pending);  // keeps its room
}

// An entry handed its arguments of kinds K... with it, which spares a call per argument. Its
// objects are this call's local references, which the record turns into weak ones if it is made.
template <char K> struct KindType;
template <> struct KindType<'I'> { using type = jint; };
template <> struct KindType<'J'> { using type = jlong; };
template <> struct KindType<'F'> { using type = jfloat; };
template <> struct KindType<'D'> { using type = jdouble; };
template <> struct KindType<'L'> { using type = jobject; };

template <char... K>
void JNICALL EnterWith(JNIEnv* env, jclass, typename KindType<K>::type... values, jobject receiver, jint id) {
    const ProbeShape* shape = ShapeOf(id);
    CallValue arguments[sizeof...(K)];
    int32_t count = -1;
    if (shape != nullptr && shape->arguments && shape->kinds.size() == sizeof...(K)) {
        CallValue* at = arguments;
        const char* kinds = shape->kinds.c_str();
        (void)std::initializer_list<int>{(*at++ = WidenedCallValue(*kinds++, HookValue(values)), 0)...};
        count = static_cast<int32_t>(sizeof...(K));
    }
    EnterCall(env, receiver, id, shape, arguments, count, true);
}

// The enter<kinds> natives for every `count` kinds, `code` numbering them in base 5.
constexpr size_t Power5(size_t n) { return n == 0 ? 1 : 5 * Power5(n - 1); }

template <size_t Count, size_t Code, size_t... Place>
HookNative EnterWithNative(std::index_sequence<Place...>) {
    const std::string kinds = {kValueKinds[Code / Power5(Count - 1 - Place) % 5]...};
    return {bytecode::MethodHookEnterName(kinds), bytecode::MethodHookEnterDescriptor(kinds),
            reinterpret_cast<void*>(EnterWith<kValueKinds[Code / Power5(Count - 1 - Place) % 5]...>)};
}

template <size_t Count, size_t... Code>
void AddEnterWithNatives(std::vector<HookNative>* methods, std::index_sequence<Code...>) {
    (void)std::initializer_list<int>{
        (methods->push_back(EnterWithNative<Count, Code>(std::make_index_sequence<Count>())), 0)...};
}

// The call `id` ends: its open call is taken off the stack (with any above it, whose exits were
// never seen), and its exit recorded when its entry was.
void Leave(JNIEnv* env, jint id, jobject receiver, bool thrown, jvalue value) {
    const ProbeShape* held = ShapeOf(id);
    if (held != nullptr && held->minNanos > 0) {
        LeaveHeld(env, id, held, receiver, thrown, value);
        return;
    }
    const int64_t now = OsMonotonicNanos();
    std::vector<OpenCall>& open = t_calls.open;
    size_t at = open.size();
    while (at > 0 && open[at - 1].id != id) --at;
    if (at == 0) return;  // entered before the probe was armed
    const OpenCall call = open[at - 1];
    open.resize(at - 1);
    const ProbeShape* shape = ShapeOf(id);
    const jmethodID method = ArmedProbeMethod(id);
    if (!call.recorded || method == nullptr || shape == nullptr) {
        if (call.dropped && method != nullptr) CountDroppedExit(method);
        return;
    }
    // The rewritten code passes a receiver to a constructor's exits only.
    const CallValue result = MakeCallValue(env, thrown ? 'L' : shape->returnKind, value);
    RecordMethodExit(env, method, receiver == nullptr ? nullptr : env->NewWeakGlobalRef(receiver), result, thrown,
                     now - call.start, now);
    // Only a weak reference's allocation can leave an exception (OutOfMemoryError) pending here.
    if ((receiver != nullptr || result.kind == 'L') && env->ExceptionCheck()) env->ExceptionClear();
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

// The timed probes' hooks: the call's time only, nothing recorded.
void JNICALL TimedEnter(JNIEnv*, jclass, jint id) { TimedCallEnter(id); }
void JNICALL TimedExit(JNIEnv*, jclass, jint id) { TimedCallExit(id, false); }
void JNICALL TimedThrown(JNIEnv*, jclass, jint id) { TimedCallExit(id, true); }

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
    static_assert(kMaxEntryArguments == 3, "the enter<kinds> natives below");
    AddEnterWithNatives<1>(&methods, std::make_index_sequence<Power5(1)>());
    AddEnterWithNatives<2>(&methods, std::make_index_sequence<Power5(2)>());
    AddEnterWithNatives<3>(&methods, std::make_index_sequence<Power5(3)>());
    methods.push_back({kMethodHookThrownName, kMethodHookThrownDescriptor, reinterpret_cast<void*>(Thrown)});
    methods.push_back({kMethodHookTimedEnterName, kMethodHookTimedDescriptor, reinterpret_cast<void*>(TimedEnter)});
    methods.push_back({kMethodHookTimedExitName, kMethodHookTimedDescriptor, reinterpret_cast<void*>(TimedExit)});
    methods.push_back({kMethodHookTimedThrownName, kMethodHookTimedDescriptor, reinterpret_cast<void*>(TimedThrown)});
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
    const bool defined = DefineHookClassOnce(&g_hookState, env, bytecode::kMethodHookClass, HookMethods);
    if (defined) g_hookReady.store(true, std::memory_order_release);
    return defined;
}

bool MethodHookClassReady() { return g_hookReady.load(std::memory_order_acquire); }

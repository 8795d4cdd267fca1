#include "trace/stack_frames.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <unordered_map>

#include "core/java_fields.h"
#include "trace/own_work.h"

namespace {
// Written once at the start, before any trace point is armed.
std::atomic<bool> g_installed{false};
StackService g_service = {nullptr, nullptr};

// What delivery keeps of a method (the consumer's alone, one consumer at a time): its names as
// global references, its line table.
struct NamedMethod {
    jstring className = nullptr;
    jstring methodName = nullptr;
    jstring sourceFile = nullptr;  // null when the class has none
    MethodFacts facts;
    bool known = false;
};
constexpr size_t kMaxNamedMethods = 16384;
std::unordered_map<jmethodID, NamedMethod> g_named;

// The elements made, shared by every stack that has the frame (a StackTraceElement is immutable),
// by method and line; global references, emptied with the names.
struct FrameKey {
    jmethodID method;
    jint line;
    bool operator==(const FrameKey& o) const { return method == o.method && line == o.line; }
};
struct FrameKeyHash {
    size_t operator()(const FrameKey& k) const {
        return std::hash<const void*>()(k.method) * 31 + static_cast<size_t>(static_cast<uint32_t>(k.line));
    }
};
constexpr size_t kMaxElements = 65536;
std::unordered_map<FrameKey, jobject, FrameKeyHash> g_elements;

KeptClass g_elementClass{"java/lang/StackTraceElement"};
jmethodID g_elementConstructor = nullptr;

jstring GlobalString(JNIEnv* env, const std::string& text) {
    jstring local = env->NewStringUTF(text.c_str());
    if (local == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    auto global = static_cast<jstring>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
}

void Forget(JNIEnv* env) {
    for (auto& named : g_named) {
        for (jstring s : {named.second.className, named.second.methodName, named.second.sourceFile}) {
            if (s != nullptr) env->DeleteGlobalRef(s);
        }
    }
    g_named.clear();
    for (auto& element : g_elements) env->DeleteGlobalRef(element.second);
    g_elements.clear();
}

const NamedMethod& Named(JNIEnv* env, jmethodID method) {
    auto found = g_named.find(method);
    if (found != g_named.end()) return found->second;
    NamedMethod& n = g_named[method];
    n.known = g_service.describe != nullptr && g_service.describe(env, method, &n.facts);
    if (!n.known) {
        n.facts = MethodFacts();
        n.facts.className = "<unknown class>";
        n.facts.methodName = "<unknown method>";
    }
    std::sort(n.facts.lines.begin(), n.facts.lines.end());
    n.className = GlobalString(env, n.facts.className);
    n.methodName = GlobalString(env, n.facts.methodName);
    if (!n.facts.sourceFile.empty()) n.sourceFile = GlobalString(env, n.facts.sourceFile);
    return n;
}

// The wanted members in an open-addressed table that is never shrunk: a member keeps its slot
// (its depth 0 once no trace point asks for its stack). When it is full, further members' hits
// capture under the lock.
constexpr size_t kWantedSlots = 8192;
struct WantedSlot {
    std::atomic<const void*> member{nullptr};
    std::atomic<int32_t> depth{0};
};
WantedSlot g_wanted[kWantedSlots];
size_t g_wantedHeld = 0;        // under the recording lock
bool g_anyWanted = false;       // under the recording lock: a slot was ever taken
std::atomic<bool> g_wantedOn{false};

size_t WantedSlotOf(const void* member) {
    uint64_t bits = reinterpret_cast<uintptr_t>(member);
    bits ^= bits >> 17;
    bits *= 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(bits >> 40) & (kWantedSlots - 1);
}
}  // namespace

void ForgetWantedStacksLocked() {
    if (!g_anyWanted) return;
    for (WantedSlot& slot : g_wanted) slot.depth.store(0, std::memory_order_relaxed);
}

void WantStackLocked(const void* member, int32_t depth) {
    for (size_t i = WantedSlotOf(member), probes = 0; probes < kWantedSlots / 2; i = (i + 1) & (kWantedSlots - 1), ++probes) {
        const void* held = g_wanted[i].member.load(std::memory_order_relaxed);
        if (held == nullptr) {
            if (g_wantedHeld >= kWantedSlots / 2) return;
            ++g_wantedHeld;
            g_anyWanted = true;
            g_wanted[i].depth.store(depth, std::memory_order_relaxed);
            g_wanted[i].member.store(member, std::memory_order_release);
            g_wantedOn.store(true, std::memory_order_release);
            return;
        }
        if (held == member) {
            g_wanted[i].depth.store(depth, std::memory_order_relaxed);
            return;
        }
    }
}

int32_t WantedStackDepth(const void* member) {
    if (!g_wantedOn.load(std::memory_order_acquire)) return 0;
    for (size_t i = WantedSlotOf(member), probes = 0; probes < kWantedSlots / 2; i = (i + 1) & (kWantedSlots - 1), ++probes) {
        const void* held = g_wanted[i].member.load(std::memory_order_acquire);
        if (held == member) return g_wanted[i].depth.load(std::memory_order_relaxed);
        if (held == nullptr) return 0;
    }
    return 0;
}

void CaptureWantedStack(const void* member, CapturedStack* stack) {
    const int32_t depth = WantedStackDepth(member);
    if (depth > 0) stack->count = CaptureStack(stack->frames, depth + kExtraFrames);
}

void InstallStackService(const StackService& service) {
    g_service = service;
    g_installed.store(service.capture != nullptr, std::memory_order_release);
}

bool StacksRecordable() { return g_installed.load(std::memory_order_acquire); }

int32_t CaptureStack(StackFrame* frames, int32_t depth) {
    if (!StacksRecordable()) return -1;
    return g_service.capture(frames, depth);
}

jint LineOfLocation(const MethodFacts& facts, jlocation location) {
    if (facts.native) return -2;
    if (facts.lines.empty()) return -1;
    // The last entry that starts at or before the location; before the first (the tracer's
    // prologue of a rewritten method, which stands for its entry), the first.
    auto after = std::upper_bound(facts.lines.begin(), facts.lines.end(), location,
                                  [](jlocation l, const std::pair<jlocation, jint>& e) { return l < e.first; });
    return after == facts.lines.begin() ? after->second : (after - 1)->second;
}

namespace {
// The element class, with its constructor looked up; null when it cannot be had.
jclass ElementClass(JNIEnv* env) {
    jclass elementClass = g_elementClass.Get(env);
    if (elementClass == nullptr) return nullptr;
    if (g_elementConstructor == nullptr) {
        g_elementConstructor = env->GetMethodID(elementClass, "<init>",
                                                "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V");
        if (g_elementConstructor == nullptr) {
            env->ExceptionClear();
            return nullptr;
        }
    }
    return elementClass;
}

// A new local element, made as the tracer's own work; null without memory.
jobject NewElement(JNIEnv* env, jclass elementClass, jstring className, jstring methodName, jstring sourceFile,
                   jint line) {
    BeginOwnWork();
    jobject element = env->NewObject(elementClass, g_elementConstructor, className, methodName, sourceFile, line);
    EndOwnWork();
    if (element == nullptr) env->ExceptionClear();
    return element;
}

// The names made at the end of a session are forgotten by the consumer, which alone reads them.
std::atomic<bool> g_forgetNames{false};

void ForgetIfAsked(JNIEnv* env) {
    if (g_forgetNames.exchange(false, std::memory_order_acq_rel)) Forget(env);
}
}  // namespace

void ForgetStackNames() { g_forgetNames.store(true, std::memory_order_release); }

jobject FrameElement(JNIEnv* env, jmethodID method, jlocation location) {
    jclass elementClass = ElementClass(env);
    if (elementClass == nullptr || method == nullptr) return nullptr;
    ForgetIfAsked(env);
    if (g_named.size() >= kMaxNamedMethods || g_elements.size() >= kMaxElements) Forget(env);
    const NamedMethod& n = Named(env, method);
    if (!n.known || n.className == nullptr || n.methodName == nullptr) return nullptr;
    return NewElement(env, elementClass, n.className, n.methodName, n.sourceFile, LineOfLocation(n.facts, location));
}

jobject MadeFrameElement(JNIEnv* env, const std::string& className, const std::string& methodName,
                         const std::string& sourceFile, jint line) {
    jclass elementClass = ElementClass(env);
    if (elementClass == nullptr) return nullptr;
    jstring cls = env->NewStringUTF(className.c_str());
    jstring name = cls == nullptr ? nullptr : env->NewStringUTF(methodName.c_str());
    jstring file = name == nullptr || sourceFile.empty() ? nullptr : env->NewStringUTF(sourceFile.c_str());
    env->ExceptionClear();
    jobject element = name == nullptr ? nullptr : NewElement(env, elementClass, cls, name, file, line);
    for (jobject local : {static_cast<jobject>(cls), static_cast<jobject>(name), static_cast<jobject>(file)}) {
        if (local != nullptr) env->DeleteLocalRef(local);
    }
    return element;
}

jobjectArray StackElements(JNIEnv* env, const StackFrame* frames, int32_t count, int32_t shown) {
    jclass elementClass = ElementClass(env);
    if (elementClass == nullptr) return nullptr;
    ForgetIfAsked(env);
    // Emptied before, never while, the frames of one stack are named.
    if (g_named.size() + static_cast<size_t>(count) > kMaxNamedMethods ||
        g_elements.size() + static_cast<size_t>(count) > kMaxElements) {
        Forget(env);
    }
    std::vector<const NamedMethod*> named;
    named.reserve(static_cast<size_t>(count));
    jsize visible = 0;
    for (int32_t i = 0; i < count && visible < shown; ++i) {
        const NamedMethod& n = Named(env, frames[i].method);
        const bool hidden = n.facts.hidden || n.className == nullptr || n.methodName == nullptr;
        named.push_back(hidden ? nullptr : &n);
        if (!hidden) ++visible;
    }
    jobjectArray array = env->NewObjectArray(visible, elementClass, nullptr);
    if (array == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    jsize at = 0;
    for (size_t i = 0; i < named.size(); ++i) {
        const NamedMethod* n = named[i];
        if (n == nullptr) continue;
        const jint line = LineOfLocation(n->facts, frames[i].location);
        jobject& kept = g_elements[FrameKey{frames[i].method, line}];
        if (kept == nullptr) {
            jobject element = NewElement(env, elementClass, n->className, n->methodName, n->sourceFile, line);
            if (element == nullptr) {
                g_elements.erase(FrameKey{frames[i].method, line});
                break;  // no memory: the elements after it stay null
            }
            kept = env->NewGlobalRef(element);
            env->DeleteLocalRef(element);
            if (kept == nullptr) {
                g_elements.erase(FrameKey{frames[i].method, line});
                break;
            }
        }
        env->SetObjectArrayElement(array, at++, kept);
    }
    return array;
}

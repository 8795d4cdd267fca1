#include "trace/stack_frames.h"

#include <algorithm>
#include <atomic>
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
}  // namespace

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

jobjectArray StackElements(JNIEnv* env, const StackFrame* frames, int32_t count, int32_t shown) {
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
    // Emptied before, never while, the frames of one stack are named.
    if (g_named.size() + static_cast<size_t>(count) > kMaxNamedMethods) Forget(env);
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
    BeginOwnWork();
    jsize at = 0;
    for (size_t i = 0; i < named.size(); ++i) {
        const NamedMethod* n = named[i];
        if (n == nullptr) continue;
        jobject element = env->NewObject(elementClass, g_elementConstructor, n->className, n->methodName, n->sourceFile,
                                         LineOfLocation(n->facts, frames[i].location));
        if (element == nullptr) {
            env->ExceptionClear();
            break;  // no memory: the elements after it stay null
        }
        env->SetObjectArrayElement(array, at++, element);
        env->DeleteLocalRef(element);
    }
    EndOwnWork();
    return array;
}

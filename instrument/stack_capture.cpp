#include "instrument/stack_capture.h"

#include <atomic>
#include <string>

#include "platform/os.h"
#include "trace/stack_frames.h"

namespace {
jvmtiEnv* g_jvmti = nullptr;

// The hook classes' methods (a few hundred: the method hook has a native for each shape of
// arguments), in an open-addressed table filled under the lock and read without it.
constexpr size_t kHookSlots = 2048;
std::atomic<jmethodID> g_hookMethods[kHookSlots];
std::atomic_flag g_hookLock = ATOMIC_FLAG_INIT;

size_t SlotOf(jmethodID method) {
    uint64_t bits = reinterpret_cast<uintptr_t>(method);
    bits ^= bits >> 17;
    bits *= 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(bits >> 40) & (kHookSlots - 1);
}

// The hooks' frames on top of a hit's stack: the entry hook's gate and its native, or one native
// of the method and field hooks (the frames asked for include room for them).
constexpr int32_t kMaxHookFrames = 2;

bool IsHookMethod(jmethodID method) {
    for (size_t i = SlotOf(method);; i = (i + 1) & (kHookSlots - 1)) {
        const jmethodID held = g_hookMethods[i].load(std::memory_order_acquire);
        if (held == method) return true;
        if (held == nullptr) return false;
    }
}

int32_t Capture(StackFrame* frames, int32_t depth) {
    jvmtiFrameInfo info[kMaxCapturedFrames];
    jint count = 0;
    // The calling thread's own stack is walked where it stands: no safepoint, no handshake. Each
    // frame walked costs, so no more are asked for than the recorder wants.
    if (depth > kMaxCapturedFrames) depth = kMaxCapturedFrames;
    if (g_jvmti->GetStackTrace(nullptr, 0, depth, info, &count) != JVMTI_ERROR_NONE) return -1;
    jint top = 0;
    while (top < count && top < kMaxHookFrames && IsHookMethod(info[top].method)) ++top;
    int32_t n = 0;
    for (jint i = top; i < count; ++i, ++n) frames[n] = {info[i].method, info[i].location};
    return n;
}

void Deallocate(void* p) {
    if (p != nullptr) g_jvmti->Deallocate(static_cast<unsigned char*>(p));
}

// Class.getName() of a class signature "Lpkg/Name;" ("Lpkg/Name.suffix;" for a hidden class,
// named pkg.Name/suffix); false for a signature of another form.
bool ClassName(const char* signature, std::string* name, bool* hidden) {
    std::string s = signature == nullptr ? "" : signature;
    if (s.size() < 3 || s.front() != 'L' || s.back() != ';') return false;
    s = s.substr(1, s.size() - 2);
    const size_t dot = s.find('.');
    *hidden = dot != std::string::npos;
    for (size_t i = 0; i < s.size() && i < dot; ++i) {
        if (s[i] == '/') s[i] = '.';
    }
    if (*hidden) s[dot] = '/';
    *name = s;
    return true;
}

bool Describe(JNIEnv* env, jmethodID method, MethodFacts* facts) {
    jclass clazz = nullptr;
    if (g_jvmti->GetMethodDeclaringClass(method, &clazz) != JVMTI_ERROR_NONE || clazz == nullptr) return false;
    char* signature = nullptr;
    char* name = nullptr;
    char* file = nullptr;
    bool known = g_jvmti->GetClassSignature(clazz, &signature, nullptr) == JVMTI_ERROR_NONE &&
                 ClassName(signature, &facts->className, &facts->hidden) &&
                 g_jvmti->GetMethodName(method, &name, nullptr, nullptr) == JVMTI_ERROR_NONE;
    if (known) {
        facts->methodName = name;
        if (g_jvmti->GetSourceFileName(clazz, &file) == JVMTI_ERROR_NONE && file != nullptr) facts->sourceFile = file;
        jboolean native = JNI_FALSE;
        facts->native = g_jvmti->IsMethodNative(method, &native) == JVMTI_ERROR_NONE && native;
        jint entries = 0;
        jvmtiLineNumberEntry* table = nullptr;
        if (!facts->native && g_jvmti->GetLineNumberTable(method, &entries, &table) == JVMTI_ERROR_NONE) {
            for (jint i = 0; i < entries; ++i) facts->lines.emplace_back(table[i].start_location, table[i].line_number);
            Deallocate(table);
        }
    }
    for (char* p : {signature, name, file}) Deallocate(p);
    env->DeleteLocalRef(clazz);  // a delivery names many classes in one native frame
    return known;
}
}  // namespace

void StackCaptureInit(jvmtiEnv* jvmti) {
    g_jvmti = jvmti;
    InstallStackService({Capture, Describe});
}

void NoteHookMethods(const jmethodID* methods, int32_t count) {
    while (g_hookLock.test_and_set(std::memory_order_acquire)) OsYield();
    static size_t held = 0;
    for (int32_t m = 0; m < count; ++m) {
        // Half the table at most, so a probe for a method that is none ends soon.
        if (methods[m] == nullptr || held >= kHookSlots / 2) continue;
        size_t i = SlotOf(methods[m]);
        while (g_hookMethods[i].load(std::memory_order_relaxed) != nullptr &&
               g_hookMethods[i].load(std::memory_order_relaxed) != methods[m]) {
            i = (i + 1) & (kHookSlots - 1);
        }
        if (g_hookMethods[i].load(std::memory_order_relaxed) == nullptr) ++held;
        g_hookMethods[i].store(methods[m], std::memory_order_release);
    }
    g_hookLock.clear(std::memory_order_release);
}

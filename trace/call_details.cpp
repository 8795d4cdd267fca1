#include "trace/call_details.h"

#include <atomic>
#include <cstring>

#include "agent/agent_state.h"
#include "platform/heap.h"
#include "platform/os.h"

namespace {
// Details of calls with few arguments come from blocks of one size, kept on a free list once
// delivered: the program's threads make them and the consumer releases them, a traffic the
// process heap serves poorly (memory freed on one thread and wanted on another).
constexpr int32_t kPooledArguments = 6;
constexpr size_t kPooledBytes = sizeof(CallDetails) + sizeof(CallValue) * kPooledArguments;
constexpr size_t kMaxPooled = 1 << 16;

struct FreeBlock {
    FreeBlock* next;
};
std::atomic_flag g_poolLock = ATOMIC_FLAG_INIT;
FreeBlock* g_pool = nullptr;
size_t g_pooled = 0;

void LockPool() {
    while (g_poolLock.test_and_set(std::memory_order_acquire)) OsYield();
}
void UnlockPool() { g_poolLock.clear(std::memory_order_release); }

void* TakeBlock(size_t bytes) {
    if (bytes > kPooledBytes) return MemAlloc(bytes);
    LockPool();
    FreeBlock* block = g_pool;
    if (block != nullptr) {
        g_pool = block->next;
        --g_pooled;
    }
    UnlockPool();
    return block != nullptr ? static_cast<void*>(block) : MemAlloc(kPooledBytes);
}

void GiveBlock(void* memory, int32_t argumentCount) {
    if (argumentCount > kPooledArguments) {
        MemFree(memory);
        return;
    }
    LockPool();
    const bool keep = g_pooled < kMaxPooled;
    if (keep) {
        auto* block = static_cast<FreeBlock*>(memory);
        block->next = g_pool;
        g_pool = block;
        ++g_pooled;
    }
    UnlockPool();
    if (!keep) MemFree(memory);
}
}  // namespace

CallDetails* NewCallDetails(int32_t argumentCount) {
    const size_t extra = argumentCount > 0 ? sizeof(CallValue) * static_cast<size_t>(argumentCount) : 0;
    auto* details = static_cast<CallDetails*>(TakeBlock(sizeof(CallDetails) + extra));
    if (details == nullptr) return nullptr;
    std::memset(static_cast<void*>(details), 0, sizeof(CallDetails) + extra);
    details->argumentCount = argumentCount;
    details->arguments = argumentCount > 0 ? reinterpret_cast<CallValue*>(details + 1) : nullptr;
    details->result.kind = 'V';
    return details;
}

void ReleaseCallDetails(JNIEnv* env, CallDetails* details) {
    if (details == nullptr) return;
    for (int32_t i = 0; i < details->argumentCount; ++i) {
        const CallValue& v = details->arguments[i];
        if (v.kind == 'L' && v.value.l != nullptr && env != nullptr) env->DeleteWeakGlobalRef(v.value.l);
    }
    if (details->result.kind == 'L' && details->result.value.l != nullptr && env != nullptr) {
        env->DeleteWeakGlobalRef(details->result.value.l);
    }
    GiveBlock(details, details->argumentCount);
}

CallValue MakeCallValue(JNIEnv* env, char kind, jvalue wide) {
    CallValue v;
    v.kind = kind;
    v.value.j = 0;
    switch (kind) {
        case 'Z': v.value.z = static_cast<jboolean>(wide.i != 0); break;
        case 'B': v.value.b = static_cast<jbyte>(wide.i); break;
        case 'C': v.value.c = static_cast<jchar>(wide.i); break;
        case 'S': v.value.s = static_cast<jshort>(wide.i); break;
        case 'I': v.value.i = wide.i; break;
        case 'J': v.value.j = wide.j; break;
        case 'F': v.value.f = wide.f; break;
        case 'D': v.value.d = wide.d; break;
        case 'L': v.value.l = wide.l == nullptr || env == nullptr ? nullptr : env->NewWeakGlobalRef(wide.l); break;
        default: v.kind = 'V'; break;
    }
    return v;
}

bool ParameterKinds(const char* descriptor, char* kinds, int32_t capacity, int32_t* count, char* returnKind) {
    if (descriptor == nullptr || descriptor[0] != '(') return false;
    const char* p = descriptor + 1;
    int32_t n = 0;
    while (*p != ')') {
        char kind = *p;
        while (*p == '[') ++p;
        if (kind == '[') kind = 'L';
        if (*p == 'L') {
            p = std::strchr(p, ';');
            if (p == nullptr) return false;
            kind = 'L';
        } else if (std::strchr("ZBCSIJFD", *p) == nullptr || *p == '\0') {
            return false;
        }
        ++p;
        if (n >= capacity) return false;
        kinds[n++] = kind;
    }
    const char r = p[1];
    if (r == '\0') return false;
    *returnKind = r == '[' ? 'L' : r;
    *count = n;
    return true;
}

CallDetails* ArgumentsFromFrame(JNIEnv* env, jmethodID method, jframeID frame) {
    constexpr jint kAccStatic = 0x0008;
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    if (jvmdi == nullptr || jvmdi->GetMethodName == nullptr || jvmdi->GetMethodModifiers == nullptr ||
        jvmdi->GetLocalInt == nullptr) {
        return nullptr;
    }
    char* name = nullptr;
    char* signature = nullptr;
    jint modifiers = 0;
    if (jvmdi->GetMethodName(nullptr, method, &name, &signature) != JVMDI_ERROR_NONE) return nullptr;
    char kinds[kMaxParameters];
    int32_t count = 0;
    char returnKind = 'V';
    const bool parsed = ParameterKinds(signature, kinds, kMaxParameters, &count, &returnKind);
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(name));
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(signature));
    if (!parsed || jvmdi->GetMethodModifiers(nullptr, method, &modifiers) != JVMDI_ERROR_NONE) return nullptr;
    CallDetails* details = NewCallDetails(count);
    if (details == nullptr) return nullptr;
    jint slot = (modifiers & kAccStatic) ? 0 : 1;
    bool complete = true;
    for (int32_t i = 0; i < count && complete; ++i) {
        jvalue wide;
        wide.j = 0;
        jobject global = nullptr;  // GetLocalObject's reference, for the caller to delete
        const jint at = slot;
        slot += kinds[i] == 'J' || kinds[i] == 'D' ? 2 : 1;
        switch (kinds[i]) {
            case 'J': complete = jvmdi->GetLocalLong(frame, at, &wide.j) == JVMDI_ERROR_NONE; break;
            case 'D': complete = jvmdi->GetLocalDouble(frame, at, &wide.d) == JVMDI_ERROR_NONE; break;
            case 'F': complete = jvmdi->GetLocalFloat(frame, at, &wide.f) == JVMDI_ERROR_NONE; break;
            case 'L': complete = jvmdi->GetLocalObject(frame, at, &global) == JVMDI_ERROR_NONE; wide.l = global; break;
            default: complete = jvmdi->GetLocalInt(frame, at, &wide.i) == JVMDI_ERROR_NONE; break;
        }
        details->arguments[i] = MakeCallValue(env, kinds[i], wide);
        if (global != nullptr) env->DeleteGlobalRef(global);
    }
    if (!complete) {
        ReleaseCallDetails(env, details);
        return nullptr;
    }
    return details;
}

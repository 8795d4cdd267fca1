#include "trace/call_details.h"

#include <cstring>

#include "platform/heap.h"

CallDetails* NewCallDetails(int32_t argumentCount) {
    const size_t extra = argumentCount > 0 ? sizeof(CallValue) * static_cast<size_t>(argumentCount) : 0;
    auto* details = static_cast<CallDetails*>(MemAlloc(sizeof(CallDetails) + extra));
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
    MemFree(details);
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

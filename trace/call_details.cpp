#include "trace/call_details.h"

#include <cstring>

#include "core/agent_state.h"
#include "bytecode/access_flags.h"
#include "trace/trace_flags.h"

void ReleaseCallValues(JNIEnv* env, const CallValue* values, int32_t count) {
    for (int32_t i = 0; i < count && env != nullptr; ++i) {
        if (values[i].kind == 'L' && values[i].value.l != nullptr && !values[i].shared) {
            env->DeleteWeakGlobalRef(values[i].value.l);
        }
    }
}

CallValue MakeCallValue(JNIEnv* env, char kind, jvalue wide) {
    CallValue v = WidenedCallValue(kind, wide);
    if (v.kind == 'L' && v.value.l != nullptr) v.value.l = env == nullptr ? nullptr : env->NewWeakGlobalRef(v.value.l);
    return v;
}

CallValue WidenedCallValue(char kind, jvalue wide) {
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
        case 'L': v.value.l = wide.l; break;
        default: v.kind = 'V'; break;
    }
    return v;
}

int32_t ValueKindOfCallKind(char kind) {
    switch (kind) {
        case 'Z': return kBooleanValue;
        case 'B': return kByteValue;
        case 'C': return kCharValue;
        case 'S': return kShortValue;
        case 'I': return kIntValue;
        case 'J': return kLongValue;
        case 'F': return kFloatValue;
        case 'D': return kDoubleValue;
        case 'L': return kObjectValue;
        default: return kNoValue;
    }
}

char CallKindOfValueKind(int32_t valueKind) {
    switch (valueKind) {
        case kBooleanValue: return 'Z';
        case kByteValue: return 'B';
        case kCharValue: return 'C';
        case kShortValue: return 'S';
        case kIntValue: return 'I';
        case kLongValue: return 'J';
        case kFloatValue: return 'F';
        case kDoubleValue: return 'D';
        case kObjectValue: return 'L';
        default: return 'V';
    }
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

int32_t ArgumentsFromFrame(JNIEnv* env, jmethodID method, jframeID frame, CallValue* values) {
    using bytecode::kAccStatic;
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    if (jvmdi == nullptr || jvmdi->GetMethodName == nullptr || jvmdi->GetMethodModifiers == nullptr ||
        jvmdi->GetLocalInt == nullptr) {
        return -1;
    }
    char* name = nullptr;
    char* signature = nullptr;
    jint modifiers = 0;
    if (jvmdi->GetMethodName(nullptr, method, &name, &signature) != JVMDI_ERROR_NONE) return -1;
    char kinds[kMaxParameters];
    int32_t count = 0;
    char returnKind = 'V';
    const bool parsed = ParameterKinds(signature, kinds, kMaxParameters, &count, &returnKind);
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(name));
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(signature));
    if (!parsed || jvmdi->GetMethodModifiers(nullptr, method, &modifiers) != JVMDI_ERROR_NONE) return -1;
    jint slot = (modifiers & kAccStatic) ? 0 : 1;
    bool complete = true;
    int32_t read = 0;  // the values made, which a failure releases
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
        values[read++] = MakeCallValue(env, kinds[i], wide);
        if (global != nullptr) env->DeleteGlobalRef(global);
    }
    if (!complete) {
        ReleaseCallValues(env, values, read);
        return -1;
    }
    return count;
}

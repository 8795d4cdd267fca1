#include "trace/boxing.h"

#include <initializer_list>
#include <string>

#include "agent/java_fields.h"

namespace {
// A box is made as the VM makes an object without a constructor, its value field set: no Java
// code runs on the consumer's thread per value (valueOf runs once for each value it shares).
// Used by delivery only (one consumer), so what is kept here needs no lock.
struct BoxClass {
    char kind;
    KeptClass clazz;
    const char* fieldDescriptor;
    jfieldID value;
    bool tried;
};

BoxClass g_boxes[] = {
    {'B', {"java/lang/Byte"}, "B", nullptr, false},
    {'C', {"java/lang/Character"}, "C", nullptr, false},
    {'S', {"java/lang/Short"}, "S", nullptr, false},
    {'I', {"java/lang/Integer"}, "I", nullptr, false},
    {'J', {"java/lang/Long"}, "J", nullptr, false},
    {'F', {"java/lang/Float"}, "F", nullptr, false},
    {'D', {"java/lang/Double"}, "D", nullptr, false},
};
KeptClass g_booleanClass{"java/lang/Boolean"};

jobject g_true = nullptr;
jobject g_false = nullptr;
bool g_booleansTried = false;

BoxClass* BoxOf(JNIEnv* env, char kind) {
    for (BoxClass& b : g_boxes) {
        if (b.kind != kind) continue;
        if (!b.tried) {
            b.tried = true;
            jclass clazz = b.clazz.Get(env);
            b.value = clazz == nullptr ? nullptr : env->GetFieldID(clazz, "value", b.fieldDescriptor);
            if (b.value == nullptr) env->ExceptionClear();
        }
        return b.value == nullptr ? nullptr : &b;
    }
    return nullptr;
}

jobject Boolean(JNIEnv* env, bool value) {
    if (!g_booleansTried) {
        g_booleansTried = true;
        jclass clazz = g_booleanClass.Get(env);
        for (const bool which : {true, false}) {
            const jfieldID id = clazz == nullptr ? nullptr
                : env->GetStaticFieldID(clazz, which ? "TRUE" : "FALSE", "Ljava/lang/Boolean;");
            jobject local = id == nullptr ? nullptr : env->GetStaticObjectField(clazz, id);
            if (env->ExceptionCheck()) env->ExceptionClear();
            (which ? g_true : g_false) = local == nullptr ? nullptr : env->NewGlobalRef(local);
            if (local != nullptr) env->DeleteLocalRef(local);
        }
    }
    return value ? g_true : g_false;
}

// The boxes valueOf shares, by kind (byte, char, short, int, long) and value + 128, fetched from
// valueOf the first time each is wanted; a value whose fetch failed stays null and is boxed anew.
constexpr int kSharedKinds = 5;
constexpr int kSharedValues = 256;
jobject g_shared[kSharedKinds][kSharedValues];
bool g_sharedTried[kSharedKinds][kSharedValues];

int SharedKindIndex(char kind) {
    switch (kind) {
        case 'B': return 0;
        case 'C': return 1;
        case 'S': return 2;
        case 'I': return 3;
        case 'J': return 4;
        default: return -1;
    }
}

jobject Shared(JNIEnv* env, const CallValue& v) {
    const int k = SharedKindIndex(v.kind);
    if (k < 0) return nullptr;
    jlong n = 0;
    switch (v.kind) {
        case 'B': n = v.value.b; break;
        case 'C': n = v.value.c; break;
        case 'S': n = v.value.s; break;
        case 'I': n = v.value.i; break;
        default: n = v.value.j; break;
    }
    if (n < (v.kind == 'C' ? 0 : -128) || n > 127) return nullptr;
    const auto at = static_cast<size_t>(n + 128);
    if (!g_sharedTried[k][at]) {
        g_sharedTried[k][at] = true;
        BoxClass* box = BoxOf(env, v.kind);
        const char signature[] = {'(', v.kind, ')', 'L', 0};
        const jmethodID valueOf = box == nullptr ? nullptr
            : env->GetStaticMethodID(box->clazz.ref, "valueOf",
                                     (std::string(signature) + box->clazz.name + ";").c_str());
        jobject local = valueOf == nullptr ? nullptr
            : env->CallStaticObjectMethodA(box->clazz.ref, valueOf, &v.value);
        if (env->ExceptionCheck()) env->ExceptionClear();
        g_shared[k][at] = local == nullptr ? nullptr : env->NewGlobalRef(local);
        if (local != nullptr) env->DeleteLocalRef(local);
    }
    return g_shared[k][at];
}
}  // namespace

jobject BoxCallValue(JNIEnv* env, const CallValue& v, bool* local) {
    *local = false;
    if (v.kind == 'L') return v.value.l;
    if (v.kind == 'Z') return Boolean(env, v.value.z != 0);
    jobject shared = Shared(env, v);
    if (shared != nullptr) return shared;
    BoxClass* box = BoxOf(env, v.kind);
    jobject boxed = box == nullptr ? nullptr : env->AllocObject(box->clazz.ref);
    if (boxed == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    *local = true;
    switch (v.kind) {
        case 'B': env->SetByteField(boxed, box->value, v.value.b); break;
        case 'C': env->SetCharField(boxed, box->value, v.value.c); break;
        case 'S': env->SetShortField(boxed, box->value, v.value.s); break;
        case 'I': env->SetIntField(boxed, box->value, v.value.i); break;
        case 'J': env->SetLongField(boxed, box->value, v.value.j); break;
        case 'F': env->SetFloatField(boxed, box->value, v.value.f); break;
        default: env->SetDoubleField(boxed, box->value, v.value.d); break;
    }
    return boxed;
}

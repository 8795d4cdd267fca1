#include "trace/boxing.h"

#include <initializer_list>

#include "agent/java_fields.h"

namespace {
// A box is made as the VM makes an object without a constructor, its value field set: no Java
// code runs on the consumer's thread per value. Booleans are the two shared instances. Used by
// delivery only (one consumer), so the kept classes need no lock.
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
    jobject shared = value ? g_true : g_false;
    return shared == nullptr ? nullptr : env->NewLocalRef(shared);
}
}  // namespace

jobject BoxCallValue(JNIEnv* env, const CallValue& v) {
    if (v.kind == 'L') return v.value.l == nullptr ? nullptr : env->NewLocalRef(v.value.l);
    if (v.kind == 'Z') return Boolean(env, v.value.z != 0);
    BoxClass* box = BoxOf(env, v.kind);
    jobject boxed = box == nullptr ? nullptr : env->AllocObject(box->clazz.ref);
    if (boxed == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
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

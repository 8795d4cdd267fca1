#include "trace/boxing.h"

#include "core/java_fields.h"
#include "trace/own_work.h"

namespace {
// A primitive is boxed by its class's valueOf, as autoboxing boxes it. Delivery boxes a bank's
// values in one call of its event filler; this serves the values it cannot hand there. Used by
// delivery only (one consumer), so what is kept here needs no lock.
struct BoxClass {
    char kind;
    KeptClass clazz;
    const char* valueOfDescriptor;
    bool tried;
    jmethodID valueOf;
};

BoxClass g_boxes[] = {
    {'Z', {"java/lang/Boolean"}, "(Z)Ljava/lang/Boolean;", false, nullptr},
    {'B', {"java/lang/Byte"}, "(B)Ljava/lang/Byte;", false, nullptr},
    {'C', {"java/lang/Character"}, "(C)Ljava/lang/Character;", false, nullptr},
    {'S', {"java/lang/Short"}, "(S)Ljava/lang/Short;", false, nullptr},
    {'I', {"java/lang/Integer"}, "(I)Ljava/lang/Integer;", false, nullptr},
    {'J', {"java/lang/Long"}, "(J)Ljava/lang/Long;", false, nullptr},
    {'F', {"java/lang/Float"}, "(F)Ljava/lang/Float;", false, nullptr},
    {'D', {"java/lang/Double"}, "(D)Ljava/lang/Double;", false, nullptr},
};

BoxClass* BoxOf(JNIEnv* env, char kind) {
    for (BoxClass& b : g_boxes) {
        if (b.kind != kind) continue;
        if (!b.tried) {
            b.tried = true;
            jclass clazz = b.clazz.Get(env);
            b.valueOf = clazz == nullptr ? nullptr : env->GetStaticMethodID(clazz, "valueOf", b.valueOfDescriptor);
            if (b.valueOf == nullptr) env->ExceptionClear();
        }
        return b.valueOf == nullptr ? nullptr : &b;
    }
    return nullptr;
}
}  // namespace

jobject BoxCallValue(JNIEnv* env, const CallValue& v, bool* local) {
    *local = false;
    if (v.kind == 'L') return v.value.l;
    BoxClass* box = BoxOf(env, v.kind);
    if (box == nullptr) return nullptr;
    BeginOwnWork();
    jobject boxed = env->CallStaticObjectMethodA(box->clazz.ref, box->valueOf, &v.value);
    EndOwnWork();
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return nullptr;
    }
    *local = boxed != nullptr;
    return boxed;
}

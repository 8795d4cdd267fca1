#include "trace/boxing.h"

namespace {
struct BoxClass {
    char kind;
    const char* className;
    const char* descriptor;
    jclass clazz;
    jmethodID valueOf;
};

BoxClass g_boxes[] = {
    {'Z', "java/lang/Boolean", "(Z)Ljava/lang/Boolean;", nullptr, nullptr},
    {'B', "java/lang/Byte", "(B)Ljava/lang/Byte;", nullptr, nullptr},
    {'C', "java/lang/Character", "(C)Ljava/lang/Character;", nullptr, nullptr},
    {'S', "java/lang/Short", "(S)Ljava/lang/Short;", nullptr, nullptr},
    {'I', "java/lang/Integer", "(I)Ljava/lang/Integer;", nullptr, nullptr},
    {'J', "java/lang/Long", "(J)Ljava/lang/Long;", nullptr, nullptr},
    {'F', "java/lang/Float", "(F)Ljava/lang/Float;", nullptr, nullptr},
    {'D', "java/lang/Double", "(D)Ljava/lang/Double;", nullptr, nullptr},
};

BoxClass* BoxOf(JNIEnv* env, char kind) {
    for (BoxClass& b : g_boxes) {
        if (b.kind != kind) continue;
        if (b.valueOf == nullptr) {
            jclass local = env->FindClass(b.className);
            if (local == nullptr) {
                env->ExceptionClear();
                return nullptr;
            }
            b.clazz = static_cast<jclass>(env->NewGlobalRef(local));
            env->DeleteLocalRef(local);
            b.valueOf = env->GetStaticMethodID(b.clazz, "valueOf", b.descriptor);
            if (b.valueOf == nullptr) env->ExceptionClear();
        }
        return b.valueOf == nullptr ? nullptr : &b;
    }
    return nullptr;
}
}  // namespace

jobject BoxCallValue(JNIEnv* env, const CallValue& v) {
    if (v.kind == 'L') return v.value.l == nullptr ? nullptr : env->NewLocalRef(v.value.l);
    BoxClass* box = BoxOf(env, v.kind);
    if (box == nullptr) return nullptr;
    jvalue argument = v.value;
    jobject boxed = env->CallStaticObjectMethodA(box->clazz, box->valueOf, &argument);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return nullptr;
    }
    return boxed;
}

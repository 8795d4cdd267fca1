#include "core/java_fields.h"

#include "core/error_out.h"

bool LookUpFields(JNIEnv* env, jclass clazz, const JavaFieldName* wanted, size_t count,
                  jfieldID* ids) {
    for (size_t i = 0; i < count; ++i) {
        ids[i] = env->GetFieldID(clazz, wanted[i].name, wanted[i].signature);
        if (ids[i] == nullptr) return false;
    }
    return true;
}

bool LookUpObjectFields(JNIEnv* env, jobject object, const JavaFieldName* wanted, size_t count,
                        jfieldID* ids, const char* failureMessage) {
    jclass clazz = env->GetObjectClass(object);
    const bool found = LookUpFields(env, clazz, wanted, count, ids);
    env->DeleteLocalRef(clazz);  // allowed with an exception pending
    if (!found) ErrorOut("%s", failureMessage);
    return found;
}

jclass KeptClass::Get(JNIEnv* env) {
    if (tried) return ref;
    tried = true;
    jclass local = env->FindClass(name);
    if (local == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    ref = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return ref;
}

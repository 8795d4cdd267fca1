#include "agent/java_fields.h"

bool LookUpFields(JNIEnv* env, jclass clazz, const FieldSpec* specs, size_t count,
                  jfieldID* ids) {
    for (size_t i = 0; i < count; ++i) {
        ids[i] = env->GetFieldID(clazz, specs[i].name, specs[i].signature);
        if (ids[i] == nullptr) return false;
    }
    return true;
}

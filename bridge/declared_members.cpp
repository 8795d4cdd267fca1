#include "bridge/declared_members.h"

namespace {
void Release(jvmtiEnv* jvmti, void* memory) { jvmti->Deallocate(static_cast<unsigned char*>(memory)); }

void Take(jvmtiEnv* jvmti, void* id, char* name, char* signature, jint modifiers, std::vector<DeclaredMember>* out) {
    out->push_back({id, name, signature, modifiers});
    Release(jvmti, name);
    Release(jvmti, signature);
}
}  // namespace

bool DeclaredMethods(jvmtiEnv* jvmti, jclass clazz, std::vector<DeclaredMember>* out) {
    out->clear();
    jint count = 0;
    jmethodID* methods = nullptr;
    if (jvmti->GetClassMethods(clazz, &count, &methods) != JVMTI_ERROR_NONE) return false;
    for (jint i = 0; i < count; ++i) {
        char* name = nullptr;
        char* signature = nullptr;
        jint modifiers = 0;
        if (jvmti->GetMethodName(methods[i], &name, &signature, nullptr) != JVMTI_ERROR_NONE) continue;
        jvmti->GetMethodModifiers(methods[i], &modifiers);
        Take(jvmti, methods[i], name, signature, modifiers, out);
    }
    Release(jvmti, methods);
    return true;
}

bool DeclaredFields(jvmtiEnv* jvmti, jclass clazz, std::vector<DeclaredMember>* out) {
    out->clear();
    jint count = 0;
    jfieldID* fields = nullptr;
    if (jvmti->GetClassFields(clazz, &count, &fields) != JVMTI_ERROR_NONE) return false;
    for (jint i = 0; i < count; ++i) {
        char* name = nullptr;
        char* signature = nullptr;
        jint modifiers = 0;
        if (jvmti->GetFieldName(clazz, fields[i], &name, &signature, nullptr) != JVMTI_ERROR_NONE) continue;
        jvmti->GetFieldModifiers(clazz, fields[i], &modifiers);
        Take(jvmti, fields[i], name, signature, modifiers, out);
    }
    Release(jvmti, fields);
    return true;
}

bool InNamedModule(JNIEnv* env, jclass clazz, jobject* module) {
    jobject found = env->GetModule(clazz);
    if (found == nullptr) {
        env->ExceptionClear();
        if (module != nullptr) *module = nullptr;
        return false;
    }
    jclass moduleClass = env->GetObjectClass(found);
    const jmethodID isNamed = env->GetMethodID(moduleClass, "isNamed", "()Z");
    const bool named = isNamed != nullptr && env->CallBooleanMethod(found, isNamed);
    env->ExceptionClear();
    env->DeleteLocalRef(moduleClass);
    if (module != nullptr) *module = found;
    else env->DeleteLocalRef(found);
    return named;
}

// The methods and fields a class itself declares, as JVMTI lists them: identity, name,
// signature and modifiers. Listing neither loads nor initialises anything.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <string>
#include <vector>

struct DeclaredMember {
    void* id;  // jmethodID or jfieldID
    std::string name;
    std::string signature;
    jint modifiers;
};

// False when JVMTI cannot list them (a class not yet prepared): `out` is then empty.
bool DeclaredMethods(jvmtiEnv* jvmti, jclass clazz, std::vector<DeclaredMember>* out);
bool DeclaredFields(jvmtiEnv* jvmti, jclass clazz, std::vector<DeclaredMember>* out);

// Whether `clazz` is in a named module, which cannot read the hook's (the boot loader's
// unnamed module) unless told to. `module`, when given, receives the module (a local
// reference, or null).
bool InNamedModule(JNIEnv* env, jclass clazz, jobject* module = nullptr);

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

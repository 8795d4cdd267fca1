// Class files for the rewriting tests: read from the test class path, defined in loaders of
// their own.
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

// The class file of `resource` on the system class path (empty when there is none).
std::vector<uint8_t> ClassBytes(JNIEnv* env, const char* resource);

// Defines `bytes` in a class loader of its own (so the system loader's copy stays untouched).
// Returns null, with the exception described and cleared, when the VM refuses the class.
jclass DefineInFreshLoader(JNIEnv* env, const char* name, const std::vector<uint8_t>& bytes);

// Whether the last JNI call left an exception (then described and cleared).
inline bool Failed(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

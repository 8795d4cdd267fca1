// Field look-ups of the Java data classes the native methods read and fill.
#pragma once

#include <jni.h>

#include <cstddef>

struct JavaFieldName {
    const char* name;
    const char* signature;
};

// Looks the fields up in order into `ids` and stops at the first missing one, whose Java
// exception stays pending for the Java caller (no further JNI call is made behind it).
// Returns true when every field was found.
bool LookUpFields(JNIEnv* env, jclass clazz, const JavaFieldName* wanted, size_t count,
                  jfieldID* ids);

// The same on the class of `object`; a missing field is reported with `failureMessage`.
bool LookUpObjectFields(JNIEnv* env, jobject object, const JavaFieldName* wanted, size_t count,
                        jfieldID* ids, const char* failureMessage);

// A class found once by name, from the caller's loader, and kept as a global reference; null
// (the lookup's exception cleared) when it is missing. Not for use by several threads at once.
struct KeptClass {
    const char* name;
    bool tried = false;
    jclass ref = nullptr;

    jclass Get(JNIEnv* env);
};

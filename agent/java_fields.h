// Field look-ups of the Java data classes the native methods read and fill.
#pragma once

#include <jni.h>

#include <cstddef>

struct FieldSpec {
    const char* name;
    const char* signature;
};

// Looks the fields up in order into `ids` and stops at the first missing one, whose Java
// exception stays pending for the Java caller (no further JNI call is made behind it).
// Returns true when every field was found.
bool LookUpFields(JNIEnv* env, jclass clazz, const FieldSpec* specs, size_t count,
                  jfieldID* ids);

// The same on the class of `object`; a missing field is reported with `failureMessage`.
bool LookUpObjectFields(JNIEnv* env, jobject object, const FieldSpec* specs, size_t count,
                        jfieldID* ids, const char* failureMessage);

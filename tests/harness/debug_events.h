// Debug events raised on the calling (Java) thread and handed to the agent's installed hook,
// as the debug interface would report them.
#pragma once

#include <jni.h>

void HitBreakpoint(JNIEnv* env, jmethodID method, jobject receiver);
void HitMethodEntry(JNIEnv* env, jmethodID method, jobject receiver);
void HitFieldAccess(JNIEnv* env, jfieldID field, jobject object);
void HitFieldModification(JNIEnv* env, jfieldID field, jobject object, char signatureType,
                          jvalue newValue);

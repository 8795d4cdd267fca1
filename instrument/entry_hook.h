// The class instrumented methods call on entry, defined at run time in the boot loader so that
// classes of every loader can reach it, with its native method bound to the bridge.
#pragma once

#include <jni.h>

// Whether `clazz` is in a named module, which cannot read the hook's (the boot loader's
// unnamed module) unless told to. `module`, when given, receives the module (a local
// reference, or null).
bool InNamedModule(JNIEnv* env, jclass clazz, jobject* module = nullptr);

// Defines the hook class and binds its native (once). Returns false when that failed.
bool EnsureEntryHookClass(JNIEnv* env);

// The class instrumented field sites call (com/vexo/internal/FieldHook), defined at run time in
// the boot loader like the entry hook, with its natives bound to the bridge: each raises the
// debug interface's field access or modification event on the calling thread, with the value
// the site read or is about to assign, and hands the value back unchanged.
#pragma once

#include <jni.h>

// Defines the hook class and binds its natives (once). Returns false when that failed.
bool EnsureFieldHookClass(JNIEnv* env);

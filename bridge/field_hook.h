// The class instrumented field sites call (com/vexo/internal/FieldHook), defined at run time in
// the boot loader like the entry hook, with its natives bound to the bridge: each raises the
// debug interface's field access or modification event on the calling thread, with the value
// the site read or is about to assign, and hands the value back unchanged.
#pragma once

#include <jni.h>

// Defines the hook class and binds its natives (once). Returns false when that failed.
bool EnsureFieldHookClass(JNIEnv* env);

// While a field access event raised by the hook is being handled on this thread: the value
// the instrumented site read, for the access of `field` on `object` (the event's own), else
// null. The watch road has no such value: the field is read again there.
const jvalue* FieldHookReadValue(jfieldID field, jobject object);

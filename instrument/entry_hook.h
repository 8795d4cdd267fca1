// The class instrumented methods call on entry, defined at run time in the boot loader so that
// classes of every loader can reach it, with its native method bound to the bridge.
#pragma once

#include <jni.h>

// Defines the hook class and binds its native (once). Returns false when that failed.
bool EnsureEntryHookClass(JNIEnv* env);

// The recorder refuses every hit but those of `except` (`refusing`), or no longer: the hook's
// gate in Java closes, letting only `except`'s probe through, or opens. Under the recording lock.
void GateEntryHook(bool refusing, const void* except);

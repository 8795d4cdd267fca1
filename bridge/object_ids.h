// Profiler object identifiers over JVMTI object tags: a 32-bit identifier, assigned on first
// sight and kept in the object's tag, never changes (so a move is never reported) and is never
// reused. Each also gets a weak reference for the way back; one that could not have it is found
// back through JVMTI when asked for.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include "platform/jvmpi.h"

void ObjectIdsInit(jvmtiEnv* jvmti);

// The identifier of `object` (tagging it when it has none); 0 for null.
jobjectID IdOfObject(JNIEnv* env, jobject object);

// A new local reference to the object with identifier `id`, or null when there is none (any
// more).
jobject ObjectOfId(JNIEnv* env, jobjectID id);

// JVMTI reports a tagged object freed (no JNI allowed): its way back is dropped later, on a
// thread that may use JNI.
void ForgetObjectId(jobjectID id);

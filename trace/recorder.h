// The recorder: turns a hit on an armed trace point into a record in the current bank.
#pragma once

#include <jni.h>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

// Runs on the thread that hit the trace point (inside the debug hook, or the profiler's method
// entry). `env` is null on the profiler path. Takes the recording lock; may request profiler
// events, whose handling runs on this thread with the lock held. `fieldClass`, for a field
// event, is the class that declares the field accessed (null when not known).
void RecordTraceEvent(JNIEnv* env, void* memberId, jobject object, jobjectID receiverId,
                      const jvalue* newValue, bool assigned, jframeID frame,
                      jclass fieldClass = nullptr);

// The recorder: turns a hit on an armed trace point into a record in the current bank.
#pragma once

#include <jni.h>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

// Runs on the thread that hit the trace point (inside the debug hook, or the profiler's method
// entry). `env` is null on the profiler path. Takes the recording lock; may request profiler
// events, whose handling runs on this thread with the lock held.
void RecordTraceEvent(JNIEnv* env, void* memberId, jobject object, jobjectID receiverId,
                      const jvalue* newValue, bool assigned, jframeID frame);

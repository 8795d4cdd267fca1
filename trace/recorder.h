// The recorder: turns a hit on an armed trace point into a record in the current bank.
#pragma once

#include <jni.h>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

#include <cstdint>

// Runs on the thread that hit the trace point (inside the debug hook, or the profiler's method
// entry). `env` is null on the profiler path. Takes the recording lock; may request profiler
// events, whose handling runs on this thread with the lock held. `fieldClass`, for a field
// event, is the class that declares the field accessed (null when not known).
// `entryOffer`, for an instrumented method entry, carries the arguments it hands over and
// learns whether the entry was recorded; a breakpoint's arguments are read from `frame`.
struct MethodEntryOffer;
void RecordTraceEvent(JNIEnv* env, void* memberId, jobject object, jobjectID receiverId,
                      const jvalue* newValue, bool assigned, jframeID frame,
                      jclass fieldClass = nullptr, MethodEntryOffer* entryOffer = nullptr);

// Records, at `time`, the exit of a call of `method` whose entry was recorded `duration` ns
// before: `subject` (a weak global reference, or null but for a constructor's exit) and the
// result (the return value or, `thrown`, the exception; an object as a weak global reference)
// pass to the record, or are released when nothing is recorded.
struct CallValue;
void RecordMethodExit(JNIEnv* env, jmethodID method, jweak subject, const CallValue& result, bool thrown,
                      int64_t duration, int64_t time);

// The exit of a call whose entry was dropped (the banks were full) is dropped too, and counted.
void CountDroppedExit(jmethodID method);

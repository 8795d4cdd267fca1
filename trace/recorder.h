// The recorder: turns a hit on an armed trace point into a record in the current bank.
#pragma once

#include <jni.h>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

#include <cstdint>

struct MethodEntryOffer;

// A hit on an armed member, as the debug hook or the profiler's method entry reports it.
struct TraceHit {
    void* member = nullptr;            // the jmethodID or jfieldID hit
    jobject object = nullptr;          // a field event's object (null for a static field)
    jobjectID receiverId = 0;          // profiler mode: the receiver's identifier
    const jvalue* newValue = nullptr;  // a field's value: assigned, or read at an instrumented site
    bool assigned = false;             // a field modification
    jframeID frame = nullptr;          // a breakpoint's frame: the receiver and arguments are read there
    jclass fieldClass = nullptr;       // a field event: the class that declares the field (null: not known)
    int32_t site = 0;                  // a field event: where it happened (trace/access_sites)
    // An instrumented method entry: carries the arguments it hands over and learns whether the
    // entry was recorded.
    MethodEntryOffer* entryOffer = nullptr;
};

// Runs on the thread that hit the trace point (inside the debug hook, or the profiler's method
// entry). `env` is null on the profiler path. Takes the recording lock; may request profiler
// events, whose handling runs on this thread with the lock held.
void RecordTraceEvent(JNIEnv* env, const TraceHit& hit);

// Records, at `time`, the exit of a call of `method` whose entry was recorded `duration` ns
// before: `subject` (a weak global reference, or null but for a constructor's exit) and the
// result (the return value or, `thrown`, the exception; an object as a weak global reference)
// pass to the record, or are released when nothing is recorded.
struct CallValue;
void RecordMethodExit(JNIEnv* env, jmethodID method, jweak subject, const CallValue& result, bool thrown,
                      int64_t duration, int64_t time);

// The exit of a call whose entry was dropped (the banks were full), or that a runaway stack of
// open calls gave up, is dropped too, and counted (within the recording limit).
void CountDroppedExit(jmethodID method);

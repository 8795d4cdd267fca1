// A delivery's method events made, and their fields stored, in one call of the agent's event
// filler (com/vexo/internal/EventFiller, carried in the library and defined in the loader of the
// event classes the first time a delivery holds arguments or exits) rather than with a native call
// an event and a field: the trace point, subject, thread and time of every event, exits'
// durations, the arguments (boxed into an Object[]) and primitive return values.
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

struct CallValue;

// The values of the event at `place` in the delivered array: its arguments (`count` of them,
// stored as an Object[]), or, with `count` -1, an exit's return value (one, stored boxed).
struct BoxedValues {
    jint place;
    int32_t count;
    const CallValue* values;
};

// The fields every event of a delivery gets: `common` holds each trace point and thread once,
// and subjects (references of any kind; a weak one stores what it refers to), `points[i]`,
// `threads[i]` and `subjects[i]` name those of event `i` (-1: none), `times[i]` is its time;
// `exits` are the places of exit events and `durations` theirs. `made[i]` says which event the
// filler makes at `i` (kMadeHere: delivery made it).
enum MadeEvent : jbyte { kMadeHere = 0, kMakeEntry = 1, kMakeExit = 2 };
struct CommonFields {
    std::vector<jbyte> made;
    std::vector<jobject> common;
    std::vector<jint> points;
    std::vector<jint> threads;
    std::vector<jint> subjects;
    std::vector<jlong> times;
    std::vector<jint> exits;
    std::vector<jlong> durations;
};

// Whether the filler is there for `eventClass` (the method event class), defining it when
// `define` is set and it was not yet; false once it failed. Used by delivery only (one consumer).
bool EventFillerReady(JNIEnv* env, jclass eventClass, bool define);

// Whether the filler can make events (of the classes delivery would make them of, without running
// a constructor), where `fields.made` asks it to.
bool EventFillerMakesEvents(JNIEnv* env);

// Makes the events `fields.made` asks for (instances of `eventClass`, the method event class, or
// of `exitClass`) and stores `fields` and `groups` into `events` (instances of those classes or of
// the method event class's subclasses): primitives boxed as their valueOf boxes them, objects as
// their references resolve (null once collected). Returns false when the filler is not ready or
// its call failed, and the caller makes and stores them itself; a failure to link (a field the
// event classes lack) retires the filler. Runs Java code on the calling thread, as the tracer's
// own work.
bool FillEvents(JNIEnv* env, jclass eventClass, jclass exitClass, jobjectArray events, const CommonFields& fields,
                const std::vector<BoxedValues>& groups);

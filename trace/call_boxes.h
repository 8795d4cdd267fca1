// The arguments and primitive return values of a delivery's method events, boxed and stored into
// their events in one call of the agent's boxing class (com/vexo/internal/CallBoxes, carried in
// the library and defined in the loader of the event classes the first time it is needed)
// rather than with several native calls a value.
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

// Stores `groups` into `events` (instances of `eventClass`, the method event class, or of its
// subclasses): primitives boxed as their valueOf boxes them, objects as their weak references
// resolve (null once collected). Returns false when the class or the call failed, and the caller
// stores them itself. Runs Java code on the calling thread, as the tracer's own work. Used by
// delivery only (one consumer).
bool AttachBoxedValues(JNIEnv* env, jclass eventClass, jobjectArray events, const std::vector<BoxedValues>& groups);

// The arguments of a delivery's method events, boxed and attached to their events in one call of
// the agent's boxing class (com/vexo/internal/CallBoxes, carried in the library and defined in
// the loader of the event classes the first time it is needed) rather than with several native
// calls a value.
#pragma once

#include <jni.h>

#include <vector>

struct CallDetails;

// Sets the arguments of events[places[i]] (instances of `eventClass`, the method event class, or
// of its subclasses) to an Object[] of details[i]'s: primitives boxed as their valueOf boxes
// them, objects as their weak references resolve (null once collected). Returns false when the
// class or the call failed, and the caller attaches them itself. Runs Java code on the calling
// thread, as the tracer's own work. Used by delivery only (one consumer).
bool AttachArguments(JNIEnv* env, jclass eventClass, jobjectArray events, const std::vector<jint>& places,
                     const std::vector<const CallDetails*>& details);

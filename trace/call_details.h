// What a method event carries when its trace point asks for more than the receiver: the
// arguments at entry, and at an exit the return value or the exception and the duration.
// Object values are weak global references until delivery, so recording keeps nothing alive.
#pragma once

#include <jni.h>

#include "platform/jvmdi.h"

#include <cstdint>

// kind: a descriptor character (Z B C S I J F D, L for any reference, V for none).
struct CallValue {
    char kind;
    jvalue value;  // the value in its natural width, the other bytes 0; L: a weak reference or null
};

struct CallDetails {
    int32_t argumentCount;  // -1: no arguments recorded
    CallValue* arguments;
    bool exit;              // an exit: `result` and `duration` hold
    bool thrown;            // the exit is an exception (`result` is it)
    CallValue result;
    int64_t duration;       // nanoseconds from entry to exit
};

// Details for `argumentCount` arguments (-1 for none), every value zero. Null without memory.
CallDetails* NewCallDetails(int32_t argumentCount);

// Deletes the weak references the details hold and frees them.
void ReleaseCallDetails(JNIEnv* env, CallDetails* details);

// A CallValue of `kind` from the int, long, float, double or reference the JVM hands over
// (narrow kinds from their int); a reference becomes a new weak global reference.
CallValue MakeCallValue(JNIEnv* env, char kind, jvalue wide);

// A method descriptor has at most 255 parameter slots, so at most 255 parameters.
constexpr int32_t kMaxParameters = 255;

// The kinds of a method descriptor's parameters, one character each (arrays are L), and its
// return kind. False for a malformed descriptor or one with more than `capacity` parameters.
bool ParameterKinds(const char* descriptor, char* kinds, int32_t capacity, int32_t* count, char* returnKind);

// The arguments of `method`, whose entry is the debug interface's current event in `frame`, read
// from the frame's locals (the breakpoint road); null when they cannot all be read.
CallDetails* ArgumentsFromFrame(JNIEnv* env, jmethodID method, jframeID frame);

// The values a method event carries when its trace point asks for more than the receiver: the
// arguments at entry, and an exit's return value or exception (which its record holds itself).
// Object values are weak global references until delivery, so recording keeps nothing alive.
#pragma once

#include <jni.h>

#include "platform/jvmdi.h"

#include <cstdint>

// kind: a descriptor character (Z B C S I J F D, L for any reference, V for none).
struct CallValue {
    char kind;
    // L: the weak reference belongs to an earlier record of the same bank filling, not this one.
    bool shared = false;
    jvalue value;  // the value in its natural width, the other bytes 0; L: a weak reference or null
};

struct StackFrame;

// A call's arguments as its entry recorded them, and the stack of an event whose trace point asks
// for it (the frames follow the arguments), kept beside the records of its bank. An exit's details
// (a record with kExitWithStack) hold one value, the call's duration (J), and its stack.
struct CallDetails {
    int32_t argumentCount;  // -1: none recorded
    int16_t frameCount;     // -1: no stack
    int16_t framesShown;    // the frames delivery shows at most (hidden ones left out)
    CallValue* arguments;

    // The top frame first.
    StackFrame* Frames() const {
        return reinterpret_cast<StackFrame*>(arguments + (argumentCount > 0 ? argumentCount : 0));
    }
};

// Deletes the weak references among `count` values (not the shared ones).
void ReleaseCallValues(JNIEnv* env, const CallValue* values, int32_t count);

// A CallValue of `kind` from the int, long, float, double or reference the JVM hands over
// (narrow kinds from their int); a reference stays the caller's.
CallValue WidenedCallValue(char kind, jvalue wide);

// The same, a reference becoming a new weak global reference.
CallValue MakeCallValue(JNIEnv* env, char kind, jvalue wide);

// The value kind of a record's flags (kIntValue ...) for a CallValue kind, and back ('V' and
// kNoValue for none).
int32_t ValueKindOfCallKind(char kind);
char CallKindOfValueKind(int32_t valueKind);

// A method descriptor has at most 255 parameter slots, so at most 255 parameters.
constexpr int32_t kMaxParameters = 255;

// The kinds of a method descriptor's parameters, one character each (arrays are L), and its
// return kind. False for a malformed descriptor or one with more than `capacity` parameters.
bool ParameterKinds(const char* descriptor, char* kinds, int32_t capacity, int32_t* count, char* returnKind);

// The arguments of `method`, whose entry is the debug interface's current event in `frame`, read
// from the frame's locals (the breakpoint road) into `values` (room for kMaxParameters).
// Returns their number, or -1 (nothing held) when they cannot all be read.
int32_t ArgumentsFromFrame(JNIEnv* env, jmethodID method, jframeID frame, CallValue* values);

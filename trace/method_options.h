// What method trace points ask for beyond their entries (arguments, exits), by method, for the
// roads that arm them: set before a trace point's method is armed, cleared when it is disarmed.
// The road that arms the method says what it records of it; activation writes back only those
// bits, so the Java side learns what it will get.
#pragma once

#include <jni.h>

#include <cstdint>

// The trace point bits of kArgumentsTracePoint and kExitTracePoint that `method` is armed
// with (the union over its trace points).
void AddMethodOptions(jmethodID method, int32_t options);
void ClearMethodOptions(jmethodID method);
int32_t MethodOptions(jmethodID method);

// What the road that armed `method` records of its options: until a road says otherwise,
// the arguments (a breakpoint reads them from the frame) and no exits.
void SetHonouredMethodOptions(jmethodID method, int32_t honoured);

// A trace point with exits asks for the calls of at least `nanos` only (0: every call); the
// smallest of its trace points' holds. Kept until the method's options are cleared.
void SetMethodMinNanos(jmethodID method, int64_t nanos);
int64_t MethodMinNanos(jmethodID method);
int32_t HonouredMethodOptions(jmethodID method);

// What method trace points ask for beyond their entries (arguments, exits), by method, for the
// roads that arm them: set before a trace point's method is armed, cleared when it is disarmed.
#pragma once

#include <jni.h>

#include <cstdint>

// The trace point bits of kArgumentsTracePoint and kExitTracePoint that `method` is armed
// with (the union over its trace points).
void AddMethodOptions(jmethodID method, int32_t options);
void ClearMethodOptions(jmethodID method);
int32_t MethodOptions(jmethodID method);

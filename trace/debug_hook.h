// The debug event hook installed with the debug interface's SetEventHook.
#pragma once

#include "platform/jvmdi.h"

// Runs on the thread that hit a breakpoint or touched a watched field.
void DebugEventHook(JNIEnv* env, JVMDI_Event* event);

// The JVMTI breakpoints the bridge set: the breakpoint road's, and those of methods that
// instrumentation could not take. Retransforming a class clears the breakpoints in its methods,
// so whoever retransforms a class sets them again (RestoreBreakpointsOf).
#pragma once

#include <jni.h>
#include <jvmti.h>

void JvmtiBreakpointsInit(jvmtiEnv* jvmti);

// Sets the breakpoint and, when the VM took it, keeps it. Returns the VM's answer.
jvmtiError SetJvmtiBreakpoint(jmethodID method, jlocation location);
// Forgets the breakpoint and clears it. Returns the VM's answer.
jvmtiError ClearJvmtiBreakpoint(jmethodID method, jlocation location);

// Sets again the breakpoints kept in methods of `clazz`. Called after every retransformation.
void RestoreBreakpointsOf(jclass clazz);

// Method entry by instrumentation: the debug interface's breakpoints at location 0 served by
// rewriting the method's class so that the method begins with a call of the entry hook, which
// raises the same breakpoint event with the receiver at hand (no VM operation per hit, and the
// method stays compiled). Methods that cannot be instrumented keep JVMTI breakpoints.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include "platform/jvmdi.h"

// Sets up the class file hook. `forceBreakpoints`: every method keeps JVMTI breakpoints.
void InstrumentationInit(jvmtiEnv* jvmti, bool forceBreakpoints);

// The debug interface's SetBreakpoint and ClearBreakpoint, either road.
jvmdiError InstrumentedSetBreakpoint(jmethodID method, jlocation location);
jvmdiError InstrumentedClearBreakpoint(jmethodID method, jlocation location);

// Sets again the JVMTI breakpoints the bridge holds in methods of `clazz`, which retransforming
// the class cleared. Called after every retransformation.
void RestoreBreakpointsOf(jclass clazz);

// Brackets arming and disarming many methods on this thread: the classes of the methods armed or
// disarmed by instrumentation in between are rewritten once each, at the end (probes fire from
// then on); what cannot be instrumented then takes a JVMTI breakpoint.
void InstrumentationBeginBatch();
void InstrumentationEndBatch();

// The method of an armed probe, or null (an unknown or disarmed probe). Safe on any thread.
jmethodID ArmedProbeMethod(jint id);

// JVMTI's ClassFileLoadHook: rewrites the class being retransformed by this bridge.
void JNICALL InstrumentationClassFileLoadHook(jvmtiEnv*, JNIEnv* jni, jclass classBeingRedefined,
                                              jobject loader, const char* name, jobject domain,
                                              jint length, const unsigned char* data,
                                              jint* newLength, unsigned char** newData);

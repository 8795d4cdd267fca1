// Method entry by instrumentation: the debug interface's breakpoints at location 0 served by
// rewriting the method's class so that the method begins with a call of the entry hook, which
// raises the same breakpoint event with the receiver at hand (no VM operation per hit, and the
// method stays compiled). Methods that cannot be instrumented keep JVMTI breakpoints.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <vector>

#include "instrument/breakpoint_reason.h"
#include "instrument/class_file_passes.h"
#include "instrument/load_patterns.h"
#include "platform/jvmdi.h"

// Sets up the class file hook. `forceBreakpoints`: every method keeps JVMTI breakpoints.
void InstrumentationInit(jvmtiEnv* jvmti, bool forceBreakpoints);

// The debug interface's SetBreakpoint and ClearBreakpoint, either road.
jvmdiError InstrumentedSetBreakpoint(jmethodID method, jlocation location);
jvmdiError InstrumentedClearBreakpoint(jmethodID method, jlocation location);

// The trace point table's first method entries, as an activation ends (its listener): the entry
// hook's gate learns the class each probe's receivers must be instances of, where it is not the
// method's own class (a method traced on a subclass of its class).
struct FirstMethodEntry;
void GateProbesByOwner(JNIEnv* env, const FirstMethodEntry* entries, size_t count, bool reset);

// Brackets arming and disarming many methods on this thread: the classes of the methods armed or
// disarmed by instrumentation in between are rewritten once each, at the end (probes fire from
// then on); what cannot be instrumented then takes a JVMTI breakpoint.
void InstrumentationBeginBatch();
void InstrumentationEndBatch();

// From now on a method on the breakpoint road whose exits are asked for is told of to the in-VM
// session (UnrecordedExitsReason) instead of on standard error.
void InstrumentationSessionTells();

// Why the method `name` `descriptor` that `clazz` declares or inherits is on the breakpoint road
// without its exits; kNone when no such method was told of.
BreakpointReason UnrecordedExitsReason(JNIEnv* env, jclass clazz, const char* name, const char* descriptor);

// The class file hook's passes of the trace points' probes (instrument/class_file_passes.h):
// they rewrite a class being retransformed for the probes armed in it by instrumentation. The
// entry probes' pass makes the methods whose trace points ask for nothing else begin with the
// entry hook's call; the method probes' pass gives the methods whose trace points ask for
// arguments or exits the method hook's prologue and exits. The entry probes' pass goes first: it
// takes every probe of the class for not instrumented until one of the two puts it in.
PassResult EntryProbesPass(LoadingClass* c, const uint8_t* data, size_t size);
PassResult MethodProbesPass(LoadingClass* c, const uint8_t* data, size_t size);

// From now on a class that loads and that the patterns name gets, in its first version, probes
// for the methods they name (instrument/load_patterns.h), which arming its methods then finds in
// it: nothing is rewritten when the session arms them as they were asked for. Not on the
// breakpoint road, and not for classes of named modules that do not read the hooks' module yet.
// No patterns: classes load as they are from now on.
void ArmAtLoad(JNIEnv* env, const std::vector<LoadPattern>& patterns);

// No class is armed as it loads any more, and the classes that call the hook for probes no trace
// point armed are rewritten to their own code.
void StopArmingAtLoad(JNIEnv* env);

// Whether this thread is retransforming a class for its probes.
bool RetransformingForProbes();

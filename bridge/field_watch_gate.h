// Field watches and the JVMTI field events behind them.
//
// HotSpot runs every thread in the interpreter while JVMTI field access or modification events
// are enabled, whether or not any field is watched. The gate therefore turns each of the two
// events on only while the debug interface wants it and at least one watch of its kind is set,
// and off again when the last watch is cleared, which gives the JIT back.
#pragma once

#include <jni.h>
#include <jvmti.h>

enum FieldWatchKind { kAccessWatch, kModificationWatch };

// Sets or clears a watch of `kind` through JVMTI and counts the watches JVMTI accepted.
// Returns the JVMTI error.
jvmtiError GateSetWatch(FieldWatchKind kind, jclass clazz, jfieldID field);
jvmtiError GateClearWatch(FieldWatchKind kind, jclass clazz, jfieldID field);

// The debug interface's notification mode for the event of `kind` (JVMDI_ENABLE or
// JVMDI_DISABLE, for all threads).
void GateSetWanted(FieldWatchKind kind, bool wanted);

// Whether the JVMTI event of `kind` is on now.
bool GateEventOn(FieldWatchKind kind);
// The watches of `kind` JVMTI currently holds.
int GateWatchCount(FieldWatchKind kind);

// Makes the gate's lock and forgets every count and flag. Called once, before the first watch
// (and by tests that start the gate afresh on an environment of their own).
void GateInit(jvmtiEnv* jvmti);

// The profiler interface's method entries by instrumentation: while they are on, every method
// of every application class begins with the entry hook (loaded classes are retransformed, new
// ones rewritten as they load), and each call posts METHOD_ENTRY2 with the receiver at hand.
// Once the profiler names the methods it wants, only those begin with the hook. Classes of the
// boot and platform loaders are left alone.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <string>
#include <vector>

#include "instrument/class_file_passes.h"

void ProfilerEntriesInit(jvmtiEnv* jvmti);

// Whether method entries can be served this way (retransformation was granted).
bool ProfilerEntriesAvailable();

// Turns the instrumentation of every application class on or off (whether it is on, and the
// methods of its probes, are in instrument/armed_members, which the hooks read). Returns a
// JVMTI error.
jvmtiError SetProfilerEntries(JNIEnv* env, bool on);

// From now on only `methods` (of loaded classes) get probes; the classes whose probes change are
// retransformed before it returns while entries are on. Returns a JVMTI error.
jvmtiError SetProfilerEntryFilter(JNIEnv* env, jint count, const jmethodID* methods);

// The class file hook's pass of profiler mode's entries (instrument/class_file_passes.h): every
// method of an application class being loaded or retransformed begins with the entry hook's
// call, but those whose entry a trace point's probe already takes (c->entriesTaken).
PassResult ProfilerEntriesPass(LoadingClass* c, const uint8_t* data, size_t size);

// From JVMTI's ClassPrepare: the methods of a new class get their probes' identities, and a
// class of a named module is let read the hook's module.
void ProfilerEntriesOnClassPrepare(JNIEnv* jni, jclass klass);

// The profiler interface's method entries by instrumentation: while they are on, every method
// of every application class begins with the entry hook (loaded classes are retransformed, new
// ones rewritten as they load), and each call posts METHOD_ENTRY2 with the receiver at hand.
// Classes of the boot and platform loaders are left alone.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <string>
#include <vector>

#include "instrument/class_rewriter.h"

void ProfilerEntriesInit(jvmtiEnv* jvmti);

// Whether method entries can be served this way (retransformation was granted).
bool ProfilerEntriesAvailable();

// Turns the instrumentation of every application class on or off (whether it is on, and the
// methods of its probes, are in instrument/armed_members, which the hooks read). Returns a
// JVMTI error.
jvmtiError SetProfilerEntries(JNIEnv* env, bool on);

// From the class file hook: the probes for every method of the class being loaded or
// retransformed, to be rewritten together with `debugProbes` (a method with a trace point
// probe keeps that one).
void AddProfilerEntryProbes(JNIEnv* jni, jclass classBeingRedefined, jobject loader,
                            const char* name, const unsigned char* data, jint length,
                            std::vector<EntryProbe>* probes);

// From JVMTI's ClassPrepare: the methods of a new class get their probes' identities, and a
// class of a named module is let read the hook's module.
void ProfilerEntriesOnClassPrepare(JNIEnv* jni, jclass klass);

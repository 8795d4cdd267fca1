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

#include "instrument/class_rewriter.h"

void ProfilerEntriesInit(jvmtiEnv* jvmti);

// Whether method entries can be served this way (retransformation was granted).
bool ProfilerEntriesAvailable();
bool ProfilerEntriesOn();

// Turns the instrumentation of every application class on or off. Returns a JVMTI error.
jvmtiError SetProfilerEntries(JNIEnv* env, bool on);

// From now on only `methods` (of loaded classes) get probes; the classes whose probes change are
// retransformed before it returns while entries are on. Returns a JVMTI error.
jvmtiError SetProfilerEntryFilter(JNIEnv* env, jint count, const jmethodID* methods);

// The first id of profiler entry probes; ids below belong to trace point probes.
constexpr jint kProfilerEntryIdBase = 0x40000000;

// The method of a profiler entry probe, or null while its class is not prepared.
jmethodID ProfilerEntryMethod(jint id);

// From the class file hook: the probes for every method of the class being loaded or
// retransformed, to be rewritten together with `debugProbes` (a method with a trace point
// probe keeps that one).
void AddProfilerEntryProbes(JNIEnv* jni, jclass classBeingRedefined, jobject loader,
                            const char* name, const unsigned char* data, jint length,
                            std::vector<EntryProbe>* probes);

// From JVMTI's ClassPrepare: the methods of a new class get their probes' identities, and a
// class of a named module is let read the hook's module.
void ProfilerEntriesOnClassPrepare(JNIEnv* jni, jclass klass);

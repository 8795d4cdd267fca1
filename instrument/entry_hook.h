// The class instrumented methods call on entry, defined at run time in the boot loader so that
// classes of every loader can reach it, with its native method bound to the bridge.
#pragma once

#include <jni.h>

// Defines the hook class and binds its native (once). Returns false when that failed.
bool EnsureEntryHookClass(JNIEnv* env);

// Makes the named module `module` read the module of the hook classes (the boot loader's unnamed
// module, which exports every package), so that its rewritten code can call them. False when it
// cannot, or while the entry hook class is not defined.
bool LetModuleReadTheHooks(jobject module);

// Whether the hook class is defined, without defining it (the class file hook asks).
bool EntryHookClassReady();

// Whether `module` was made to read the hooks' module.
bool ModuleReadsTheHooks(JNIEnv* env, jobject module);

// java.base reads the hooks' module from now on. The first read added runs the JDK's own code,
// which loads the classes that keep reads: called where no class is being handed over (the
// session's warm-up), so that later reads, as classes of named modules are armed, load nothing.
void LetJavaBaseReadTheHooks(JNIEnv* env);

// The owners the gate holds by probe id: the class a probe's receivers must be instances of for
// the native hook to be called (trace/trace_points' first entries whose class is not the
// method's own). `reset` forgets every owner before `owners` are added. Outside the recording
// lock, as an activation ends.
struct ProbeOwner {
    jint probe;
    jclass owner;  // global reference, kept by the trace point table
};
void SetEntryHookOwners(JNIEnv* env, const ProbeOwner* owners, size_t count, bool reset);

// Whether the recording limit leaves room: the gate refuses objects by their owners only then
// (past the limit every hit reaches the recorder, which shows the overflow and closes the gate).
// Under the recording lock.
void EntryHookRoom(bool room);

// The recorder refuses every hit but those of `except` (`refusing`), or no longer: the hook's
// gate in Java closes, letting only `except`'s probe through, or opens. Under the recording lock.
void GateEntryHook(bool refusing, const void* except);

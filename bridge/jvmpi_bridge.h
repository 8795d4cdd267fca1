// JVMPI 1.1 over JVMTI: the table GetEnv(JVMPI_VERSION_1_1) hands out through the proxy, and
// the JVMTI events that feed it.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include "platform/jvmpi.h"

// Called once the session has its capabilities.
// Method entries by instrumentation, which the profiler interface switches (instrument/ serves
// them; the one owner of the VM's events hands them in).
struct ProfilerEntryRoad {
    bool (*available)() = nullptr;
    jvmtiError (*set)(JNIEnv* env, bool on) = nullptr;
};
void JvmpiBridgeInit(jvmtiEnv* jvmti, const ProfilerEntryRoad& entries);

// The table, or null when the session cannot serve the profiler interface (no object tags).
JVMPI_Interface* BridgeJvmpi();

// METHOD_ENTRY2 from the entry hook of an instrumented method, when the event is enabled.
void JvmpiPostMethodEntry(JNIEnv* jni, jmethodID method, jobject receiver);

// A class was prepared: its class-load event, when the profiler asked for them.
void JvmpiPostClassPrepare(JNIEnv* jni, jclass klass);
void JNICALL JvmpiOnSampledObjectAlloc(jvmtiEnv*, JNIEnv* jni, jthread, jobject object,
                                       jclass klass, jlong size);
void JNICALL JvmpiOnObjectFree(jvmtiEnv*, jlong tag);
void JNICALL JvmpiOnMethodEntry(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method);

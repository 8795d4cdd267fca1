// JVMPI 1.1 over JVMTI: the table GetEnv(JVMPI_VERSION_1_1) hands out through the proxy, and
// the JVMTI events that feed it.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include "platform/jvmpi.h"
#include "platform/jvmpi_extension.h"

// Called once the session has its capabilities.
// Method entries by instrumentation, which the profiler interface switches (instrument/ serves
// them; the one owner of the VM's events hands them in).
struct ProfilerEntryRoad {
    bool (*available)() = nullptr;
    jvmtiError (*set)(JNIEnv* env, bool on) = nullptr;
    jvmtiError (*filter)(JNIEnv* env, jint count, const jmethodID* methods) = nullptr;
};
void JvmpiBridgeInit(jvmtiEnv* jvmti, const ProfilerEntryRoad& entries);

// The table, or null when the session cannot serve the profiler interface (no object tags).
JVMPI_Interface* BridgeJvmpi();

// What the table offers beyond JVMPI 1.1, or null with the table.
VexoJvmpiExtension* BridgeJvmpiExtension();

// METHOD_ENTRY2 from the entry hook of an instrumented method, when the event is enabled.
void JvmpiPostMethodEntry(JNIEnv* jni, jmethodID method, jobject receiver);

// A class was prepared: its class-load event, when the profiler asked for them.
void JvmpiPostClassPrepare(JNIEnv* jni, jclass klass);
void JNICALL JvmpiOnObjectFree(jvmtiEnv*, jlong tag);
void JNICALL JvmpiOnMethodEntry(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method);

// What our profiler interface over JVMTI offers beyond JVMPI 1.1, asked for with
// GetEnv(VEXO_JVMPI_EXTENSION_VERSION). A VM with a JVMPI of its own answers JNI_EVERSION, and
// the agent then goes without it.
#pragma once

#include <jni.h>

// In the profiler interface's family of GetEnv versions, above every published one.
#define VEXO_JVMPI_EXTENSION_VERSION ((jint)0x10000F01)

struct VexoJvmpiExtension {
    // From this call on, JVMPI_EVENT_METHOD_ENTRY2 is posted for entries of these methods only
    // (before the first call, for every method). Each call replaces the set; an empty set posts
    // none. Methods no longer in the set stop being reported, and their code loses what reported
    // them, before the call returns; methods new to it are reported from its return on. `env` may
    // be null while the VM starts. Returns 0 (JVMPI_SUCCESS) or a JVMPI error.
    jint (*SetMethodEntryFilter)(JNIEnv* env, jint count, const jmethodID* methods);
};

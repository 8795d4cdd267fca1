// Negotiation with the virtual machine: the JVMPI and JVMDI tables, the debug event hook,
// debug or profiler mode, and the switch of the six profiler events.
#pragma once

#include <jni.h>

// Runs once per process (JVM_OnLoad, or the first nativeInitialize). Always returns 0.
jint ConnectToVm(JavaVM* vm);


// The stack service over JVMTI (trace/stack_frames.h): the calling thread's frames without those
// of the tracer's hook classes, and the names and lines of a method for delivery.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstdint>

// Installs the service; at the start, with the session's environment.
void StackCaptureInit(jvmtiEnv* jvmti);

// The methods of a hook class just defined: their frames are never shown in a stack.
void NoteHookMethods(const jmethodID* methods, int32_t count);

// The in-VM session: the tracer runs inside the program, started by the agent from its option
// string (`-agentpath:libvexo.so=method=demo.Account.deposit,output=trace.txt`, or the same in
// JAVA_TOOL_OPTIONS). The tracer's classes go on the boot class path, so that no class of the
// program changes and code of every loader may call them; when the VM has started, before the
// program's main class loads, the session's Java side arms the trace points and starts its
// daemon threads. The program's main runs as itself.
#pragma once

#include <jni.h>
#include <jvmti.h>

// From Agent_OnLoad, once the bridge's JVMTI session exists: when `options` ask for a session,
// puts the tracer's classes on the boot class path and waits for the VM to start.
void InVmSessionOnLoad(jvmtiEnv* jvmti, const char* options);

// JVMTI's VMInit: starts the session's Java side.
void JNICALL InVmSessionOnVmInit(jvmtiEnv* jvmti, JNIEnv* env, jthread thread);

// From Agent_OnAttach: puts the tracer's classes on the system class path (once) and starts the
// session at once, on the roads a running VM still grants. False when it could not start.
bool InVmSessionOnAttach(jvmtiEnv* jvmti, const char* options);

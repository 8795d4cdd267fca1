// One real Java virtual machine per test process, embedded through the JNI invocation API.
#pragma once

#include <jni.h>
#include <jvmti.h>

// Whether the virtual machine runs with -Xcheck:jni (the default, for every test). Call before
// its first use; benchmarks switch it off to measure the agent rather than the checker.
void UseCheckedJni(bool checked);

// The virtual machine, created on first use with the agent's classes and the test classes on
// its class path. Every later call returns the same one.
JavaVM* TestJvm();

// The JNI environment of the calling thread, attaching the thread when needed.
JNIEnv* TestEnv();

// A JVMTI environment of the test virtual machine, for the harness's own needs.
jvmtiEnv* TestJvmti();

// Fails the running test when an earlier test already ran in this process: the agent keeps its
// state once per process, so every test needs a process of its own (CTest runs them that way).
void ExpectFreshProcess();

// What the tracer shows of a value beyond its class and identity, read by the agent without
// running any of the program's code (AgentNatives.thrownMessage and lambdaTarget): an
// exception's own message field, and the method a lambda's hidden class calls.
#pragma once

#include <jni.h>

// Throwable's detailMessage, through JNI (which no access check and no overriding method
// stands in front of); null when it is null or cannot be read.
jstring JNICALL ThrownMessage(JNIEnv* env, jclass, jthrowable thrown);

// For a lambda's class, "owner.method" of the member its interface method calls (the boxing
// and unboxing around the call left out); null when the class's code says nothing clear.
jstring JNICALL LambdaTarget(JNIEnv* env, jclass, jclass lambda);

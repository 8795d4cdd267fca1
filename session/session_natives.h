// The natives of the session's Java side (com.vexo.cli.AgentNatives), bound by registration:
// the loaded classes, a class's members as the VM lists them (nothing loaded or initialised),
// trace points added to the armed table, the classes to wait for, and the marking of the
// session's own threads.
#pragma once

#include <jni.h>

// Binds the natives. False (exception cleared) when the class or a method is missing.
bool RegisterSessionNatives(JNIEnv* env);

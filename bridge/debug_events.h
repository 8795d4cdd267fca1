// JVMTI breakpoint and field events turned into debug interface events for the hook, and the
// frames the hook may ask about while it runs.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include "platform/jvmdi.h"

void JNICALL BridgeOnBreakpoint(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method,
                                jlocation location);
// A field event raised by an instrumented site (instrument/field_hook) has no method: its
// location is then the number the rewriter gave the site (trace/access_sites), 0 for none.
void JNICALL BridgeOnFieldAccess(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method,
                                 jlocation location, jclass fieldClass, jobject object,
                                 jfieldID field);
void JNICALL BridgeOnFieldModification(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method,
                                       jlocation location, jclass fieldClass, jobject object,
                                       jfieldID field, char signatureType, jvalue newValue);

// A breakpoint event at the entry of `method`, raised by the entry hook of an instrumented
// method on the thread that entered it, with the method's receiver (null for a static method).
void BridgeRaiseMethodEntry(JNIEnv* jni, jmethodID method, jobject receiver);

// The debug interface's frame calls. A frame is valid only on its own thread while the event
// that produced it is being handled.
jvmdiError JNICALL BridgeGetCurrentFrame(jthread thread, jframeID* framePtr);
// The primitive locals of the innermost event's frame (JVMTI's, at its depth).
jvmdiError JNICALL BridgeGetLocalInt(jframeID frame, jint slot, jint* valuePtr);
jvmdiError JNICALL BridgeGetLocalLong(jframeID frame, jint slot, jlong* valuePtr);
jvmdiError JNICALL BridgeGetLocalFloat(jframeID frame, jint slot, jfloat* valuePtr);
jvmdiError JNICALL BridgeGetLocalDouble(jframeID frame, jint slot, jdouble* valuePtr);

jvmdiError JNICALL BridgeGetLocalObject(jframeID frame, jint slot, jobject* valuePtr);

// A modification's new value with only the bytes of its type set, the rest zero.
jvalue CleanValue(char signatureType, jvalue value);

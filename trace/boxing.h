// Java objects for recorded values, made on the consumer's thread.
#pragma once

#include <jni.h>

#include "trace/call_details.h"

// The Java object for `value`: an object is its weak reference itself (null once collected); a
// primitive is boxed by its class's valueOf (run as the tracer's own work). `*local` says whether
// the result is a new local reference, which the caller deletes.
jobject BoxCallValue(JNIEnv* env, const CallValue& value, bool* local);

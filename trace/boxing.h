// Java objects for recorded values, made on the consumer's thread without running Java code.
#pragma once

#include <jni.h>

#include "trace/call_details.h"

// The Java object for `value`: an object is its weak reference itself (null once collected); a
// boolean, and a byte, short, int, long or char that valueOf shares (-128 to 127, chars to 127),
// is the instance valueOf returns, held for good; any other primitive is a new box. `*local`
// says whether the result is a new local reference, which the caller deletes.
jobject BoxCallValue(JNIEnv* env, const CallValue& value, bool* local);

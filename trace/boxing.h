// Java objects for recorded values: primitives boxed through their class's valueOf, references
// as new local references (null when the object was collected).
#pragma once

#include <jni.h>

#include "trace/call_details.h"

jobject BoxCallValue(JNIEnv* env, const CallValue& value);

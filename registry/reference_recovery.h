// Conversions between profiler object identifiers and Java references.
#pragma once

#include <jni.h>

#include "platform/jvmpi.h"

// The profiler's identifier of the object `ref` refers to; 0 without a profiler.
jobjectID ObjectIdOfRef(jobject ref);

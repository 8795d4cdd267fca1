// One armed trace point, as the table (trace/trace_points) holds it and its index reads it.
#pragma once

#include <jni.h>

#include <cstdint>

struct TracePointEntry {
    int32_t flags;          // the trace point's m_iFlags with the armed bit clear
    int32_t stackDepth;     // with kStackTracePoint: the frames an event records at most
    void* memberId;         // jmethodID or jfieldID, by the field bit of flags; never null
    uintptr_t classRef;     // a global class reference, or in profiler mode a SlotHandle
    jobject tracePointRef;  // global reference to the Java TracePoint object
    // A field trace point's declaring class (a global reference), in debug mode; else null.
    // HotSpot's instance field identifiers encode only the field's offset, so fields of
    // unrelated classes share one; the declaring class tells them apart.
    jclass fieldClass;
    // A method trace point on the class that declares the method: every receiver is an instance
    // of it, so none is tested (debug mode only).
    bool ownClass;
};

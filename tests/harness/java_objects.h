// Java objects the tests hand to the agent: trace point lists, recorded data, instances.
#pragma once

#include <jni.h>

#include <cstdint>
#include <utility>
#include <vector>

struct TracePointWanted {
    int flags = 0;
    jobject object = nullptr;         // m_Object
    const char* className = nullptr;  // m_strClass
    const char* name = nullptr;
    const char* signature = nullptr;
};

// A new instance, made without running a constructor (as the agent makes its objects).
jobject NewInstance(JNIEnv* env, const char* className);

jobject NewTracePoint(JNIEnv* env, const TracePointWanted& wanted);
// A TracePoints list holding `points` (null elements allowed) and the recording limit.
jobject NewTracePoints(JNIEnv* env, const std::vector<jobject>& points, int limit);
int TracePointFlags(JNIEnv* env, jobject tracePoint);

jmethodID MethodOf(JNIEnv* env, const char* className, const char* name, const char* signature);
jmethodID StaticMethodOf(JNIEnv* env, const char* className, const char* name,
                         const char* signature);
jfieldID FieldOf(JNIEnv* env, const char* className, const char* name, const char* signature);
jfieldID StaticFieldOf(JNIEnv* env, const char* className, const char* name,
                       const char* signature);

// The fields of a delivered event, read back through JNI.
struct EventView {
    jobject event;
    jobject subject;
    jobject tracePoint;
    bool isFieldEvent;
    bool assigned;
    const char* kind;  // "method", "int", "float", "double" or "object"
    jlong longValue;
    jfloat floatValue;
    jdouble doubleValue;
    jobject objectValue;
};

struct Delivery {
    std::vector<EventView> events;
    bool overflow = false;
    bool eventsSet = false;  // m_Events was written
    std::vector<std::pair<jobject, int64_t>> drops;  // m_DroppedTracePoints with m_DroppedCounts
};

// Calls nativeGetRecordedData (which blocks until data is available) and reads the result.
Delivery DeliverEvents(JNIEnv* env);
// Reads back a RecordedData object the agent filled.
Delivery ReadDelivery(JNIEnv* env, jobject recordedData);

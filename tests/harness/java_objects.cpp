#include "tests/harness/java_objects.h"

#include <gtest/gtest.h>

#include "agent/java_boundary.h"

namespace {
jclass Class(JNIEnv* env, const char* name) {
    jclass c = env->FindClass(name);
    EXPECT_NE(c, nullptr) << "no class " << name;
    return c;
}

void SetString(JNIEnv* env, jobject o, jclass c, const char* field, const char* value) {
    env->SetObjectField(o, env->GetFieldID(c, field, "Ljava/lang/String;"),
                        value == nullptr ? nullptr : env->NewStringUTF(value));
}

bool IsA(JNIEnv* env, jobject o, const char* className) {
    return env->IsInstanceOf(o, Class(env, className));
}
}  // namespace

jobject NewInstance(JNIEnv* env, const char* className) {
    return env->AllocObject(Class(env, className));
}

jobject NewTracePoint(JNIEnv* env, const TracePointWanted& wanted) {
    jclass c = Class(env, "com/vexo/TracePoints$TracePoint");
    jobject tp = env->AllocObject(c);
    env->SetIntField(tp, env->GetFieldID(c, "m_iFlags", "I"), wanted.flags);
    env->SetObjectField(tp, env->GetFieldID(c, "m_Object", "Ljava/lang/Object;"), wanted.object);
    SetString(env, tp, c, "m_strClass", wanted.className);
    SetString(env, tp, c, "m_strMethodOrFieldName", wanted.name);
    SetString(env, tp, c, "m_strMethodOrFieldSignature", wanted.signature);
    return tp;
}

jobject NewTracePoints(JNIEnv* env, const std::vector<jobject>& points, int limit) {
    jclass listClass = Class(env, "com/vexo/TracePoints");
    jclass pointClass = Class(env, "com/vexo/TracePoints$TracePoint");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(points.size()), pointClass, nullptr);
    for (size_t i = 0; i < points.size(); ++i) {
        env->SetObjectArrayElement(array, static_cast<jsize>(i), points[i]);
    }
    jobject list = env->AllocObject(listClass);
    env->SetObjectField(list,
                        env->GetFieldID(listClass, "m_TracePoints",
                                        "[Lcom/vexo/TracePoints$TracePoint;"),
                        array);
    env->SetIntField(list, env->GetFieldID(listClass, "m_iMaxNumTraces", "I"), limit);
    return list;
}

int TracePointFlags(JNIEnv* env, jobject tracePoint) {
    jclass c = env->GetObjectClass(tracePoint);
    return env->GetIntField(tracePoint, env->GetFieldID(c, "m_iFlags", "I"));
}

jmethodID MethodOf(JNIEnv* env, const char* className, const char* name, const char* signature) {
    return env->GetMethodID(Class(env, className), name, signature);
}

jmethodID StaticMethodOf(JNIEnv* env, const char* className, const char* name,
                         const char* signature) {
    return env->GetStaticMethodID(Class(env, className), name, signature);
}

jfieldID FieldOf(JNIEnv* env, const char* className, const char* name, const char* signature) {
    return env->GetFieldID(Class(env, className), name, signature);
}

jfieldID StaticFieldOf(JNIEnv* env, const char* className, const char* name,
                       const char* signature) {
    return env->GetStaticFieldID(Class(env, className), name, signature);
}

Delivery ReadDelivery(JNIEnv* env, jobject data) {
    Delivery d;
    jclass dataClass = env->GetObjectClass(data);
    auto array = static_cast<jobjectArray>(env->GetObjectField(
        data, env->GetFieldID(dataClass, "m_Events", "[Lcom/vexo/TraceMethodEvent;")));
    d.overflow = env->GetBooleanField(data, env->GetFieldID(dataClass, "m_bOverflow", "Z"));
    d.eventsSet = array != nullptr;
    auto points = static_cast<jobjectArray>(env->GetObjectField(
        data, env->GetFieldID(dataClass, "m_DroppedTracePoints", "[Lcom/vexo/TracePoints$TracePoint;")));
    auto counts = static_cast<jlongArray>(env->GetObjectField(data, env->GetFieldID(dataClass, "m_DroppedCounts", "[J")));
    for (jsize i = 0; points != nullptr && counts != nullptr && i < env->GetArrayLength(counts); ++i) {
        jlong n = 0;
        env->GetLongArrayRegion(counts, i, 1, &n);
        d.drops.emplace_back(env->GetObjectArrayElement(points, i), n);
    }
    if (array == nullptr) return d;
    jclass method = Class(env, "com/vexo/TraceMethodEvent");
    jfieldID subject = env->GetFieldID(method, "m_Subject", "Ljava/lang/Object;");
    jfieldID tracePoint =
        env->GetFieldID(method, "m_TracePoint", "Lcom/vexo/TracePoints$TracePoint;");
    for (jsize i = 0; i < env->GetArrayLength(array); ++i) {
        EventView v = {};
        v.event = env->GetObjectArrayElement(array, i);
        if (v.event == nullptr) {
            d.events.push_back(v);
            continue;
        }
        v.subject = env->GetObjectField(v.event, subject);
        v.tracePoint = env->GetObjectField(v.event, tracePoint);
        v.kind = "method";
        v.isFieldEvent = IsA(env, v.event, "com/vexo/TraceFieldEvent");
        if (v.isFieldEvent) {
            v.assigned = env->GetBooleanField(
                v.event, FieldOf(env, "com/vexo/TraceFieldEvent", "m_bAssigned", "Z"));
        }
        if (IsA(env, v.event, "com/vexo/TraceFieldIntEvent")) {
            v.kind = "int";
            v.longValue = env->GetLongField(
                v.event, FieldOf(env, "com/vexo/TraceFieldIntEvent", "m_lValue", "J"));
        } else if (IsA(env, v.event, "com/vexo/TraceFieldFloatEvent")) {
            v.kind = "float";
            v.floatValue = env->GetFloatField(
                v.event, FieldOf(env, "com/vexo/TraceFieldFloatEvent", "m_fValue", "F"));
        } else if (IsA(env, v.event, "com/vexo/TraceFieldDoubleEvent")) {
            v.kind = "double";
            v.doubleValue = env->GetDoubleField(
                v.event, FieldOf(env, "com/vexo/TraceFieldDoubleEvent", "m_dValue", "D"));
        } else if (IsA(env, v.event, "com/vexo/TraceFieldObjectEvent")) {
            v.kind = "object";
            v.objectValue = env->GetObjectField(
                v.event,
                FieldOf(env, "com/vexo/TraceFieldObjectEvent", "m_Value", "Ljava/lang/Object;"));
        }
        d.events.push_back(v);
    }
    return d;
}

Delivery DeliverEvents(JNIEnv* env) {
    jobject data = NewInstance(env, "com/vexo/RecordedData");
    Java_com_vexo_NativeApi_nativeGetRecordedData(env, nullptr, data);
    return ReadDelivery(env, data);
}

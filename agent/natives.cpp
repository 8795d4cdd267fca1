// The exported native methods other than nativeInitialize. Each looks up, checks and calls
// into the subsystem that owns the work.
#include "agent/java_boundary.h"
#include "heap/class_listing.h"
#include "registry/class_names.h"
#include "trace/delivery.h"
#include "trace/event_classes.h"
#include "trace/trace_points.h"

void JNICALL Java_com_vexo_NativeApi_nativeSetEventTreePanel(JNIEnv* env, jclass, jobject panel) {
    SetEventTreePanel(env, panel);
}

void JNICALL Java_com_vexo_NativeApi_nativeActivateTracePoints(JNIEnv* env, jclass,
                                                               jobject tracePoints) {
    ActivateTracePoints(env, tracePoints);
}

void JNICALL Java_com_vexo_NativeApi_nativeGetRecordedData(JNIEnv* env, jclass,
                                                           jobject recordedData) {
    DeliverRecordedData(env, recordedData);
}

void JNICALL Java_com_vexo_NativeApi_nativeOnResetEventList(JNIEnv*, jclass) { ResetEventList(); }

void JNICALL Java_com_vexo_NativeApi_nativeGetClasses(JNIEnv* env, jclass, jobject result) {
    GetClasses(env, result);
}

void JNICALL Java_com_vexo_NativeApi_nativeGetObjects(JNIEnv* env, jclass, jobject classFilter,
                                                     jobject result) {
    GetObjects(env, classFilter, result);
}

jboolean JNICALL Java_com_vexo_NativeApi_nativeConvertObjectIDs(JNIEnv* env, jclass,
                                                                jintArray ids, jint first,
                                                                jint count,
                                                                jobjectArray destination,
                                                                jint firstDestination) {
    return ConvertObjectIds(env, ids, first, count, destination, firstDestination);
}

jint JNICALL Java_com_vexo_NativeApi_nativeGetProgress(JNIEnv*, jclass, jboolean cancel,
                                                      jint scale) {
    return GetProgress(cancel, scale);
}

jint JNICALL Java_com_vexo_NativeApi_nativeGetClassesModificationCount(JNIEnv*, jclass) {
    return g_classModificationCount.load(std::memory_order_relaxed);
}

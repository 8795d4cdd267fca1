// The exported native methods other than nativeInitialize. Each looks up, checks and calls
// into the subsystem that owns the work.
#include "agent/java_boundary.h"
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

// Not yet wired: the class and object listings leave the result object untouched.
void JNICALL Java_com_vexo_NativeApi_nativeGetClasses(JNIEnv*, jclass, jobject) {}

void JNICALL Java_com_vexo_NativeApi_nativeGetObjects(JNIEnv*, jclass, jobject, jobject) {}

// Not yet wired: no handle is converted.
jboolean JNICALL Java_com_vexo_NativeApi_nativeConvertObjectIDs(JNIEnv*, jclass, jintArray, jint,
                                                                jint, jobjectArray, jint) {
    return JNI_FALSE;
}

// Not yet wired: no walk runs, so there is no progress to report.
jint JNICALL Java_com_vexo_NativeApi_nativeGetProgress(JNIEnv*, jclass, jboolean, jint) {
    return 0;
}

jint JNICALL Java_com_vexo_NativeApi_nativeGetClassesModificationCount(JNIEnv*, jclass) {
    return g_classModificationCount.load(std::memory_order_relaxed);
}

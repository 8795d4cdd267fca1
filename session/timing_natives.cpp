#include "session/timing_natives.h"

#include <vector>

#include "trace/call_timing.h"

jobjectArray JNICALL TimingTableNative(JNIEnv* env, jclass) {
    std::vector<TimingRow> rows;
    uint64_t unattributed = 0;
    TakeTimingTable(&rows, &unattributed);
    std::vector<jobject> points;
    std::vector<jlong> columns;
    points.reserve(rows.size());
    columns.reserve(rows.size() * kTimingColumns + 1);
    for (const TimingRow& row : rows) {
        jobject point = TimedTracePointOf(env, row.method);
        if (point == nullptr) {
            unattributed += row.columns[kTimedCalls];
            continue;
        }
        points.push_back(point);
        for (uint64_t c : row.columns) columns.push_back(static_cast<jlong>(c));
    }
    columns.push_back(static_cast<jlong>(unattributed));
    jobjectArray result = nullptr;
    jclass objectClass = env->FindClass("java/lang/Object");
    jclass pointClass = env->FindClass("com/vexo/TracePoints$TracePoint");
    jobjectArray pointArray = pointClass == nullptr ? nullptr
        : env->NewObjectArray(static_cast<jsize>(points.size()), pointClass, nullptr);
    jlongArray columnArray = env->NewLongArray(static_cast<jsize>(columns.size()));
    if (objectClass != nullptr && pointArray != nullptr && columnArray != nullptr) {
        for (size_t i = 0; i < points.size(); ++i) env->SetObjectArrayElement(pointArray, static_cast<jsize>(i), points[i]);
        env->SetLongArrayRegion(columnArray, 0, static_cast<jsize>(columns.size()), columns.data());
        result = env->NewObjectArray(2, objectClass, nullptr);
        if (result != nullptr) {
            env->SetObjectArrayElement(result, 0, pointArray);
            env->SetObjectArrayElement(result, 1, columnArray);
        }
    }
    for (jobject point : points) env->DeleteLocalRef(point);
    for (jobject local : {static_cast<jobject>(objectClass), static_cast<jobject>(pointClass),
                          static_cast<jobject>(pointArray), static_cast<jobject>(columnArray)}) {
        if (local != nullptr) env->DeleteLocalRef(local);
    }
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return nullptr;
    }
    return result;
}

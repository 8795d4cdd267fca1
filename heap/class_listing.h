// The listing native methods: loaded classes, objects, slot handle conversion, progress and
// cancellation.
#pragma once

#include <jni.h>

// nativeGetClasses: the debug interface's Class objects, else the class names of a heap dump.
void GetClasses(JNIEnv* env, jobject result);
// nativeGetObjects: the heap-dump listing (the filter has no effect), or without the profiler
// one null element, filtered.
void GetObjects(JNIEnv* env, jobject classFilter, jobject result);
// nativeConvertObjectIDs: slot handles to references. False without a profiler or when a range
// does not fit its array.
jboolean ConvertObjectIds(JNIEnv* env, jintArray ids, jint first, jint count,
                          jobjectArray destination, jint firstDestination);
// nativeGetProgress: sets or withdraws the cancel request; the running walk's progress.
jint GetProgress(jboolean cancel, jint scale);

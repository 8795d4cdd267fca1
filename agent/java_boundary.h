// The ten native methods of com.vexo.NativeApi and the start-up entry: the agent's exported edge.
#pragma once

#include <jni.h>

extern "C" {
JNIEXPORT jint JNICALL JVM_OnLoad(JavaVM* vm, char* options, void* reserved);
// The JVMTI start-up entry (-agentpath): the same start on the bridge's proxy.
JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void* reserved);
// The JVMTI entry of a library loaded into a running VM (the attach mechanism): starts the
// in-VM session there, on the roads the VM still grants.
JNIEXPORT jint JNICALL Agent_OnAttach(JavaVM* vm, char* options, void* reserved);

JNIEXPORT jboolean JNICALL Java_com_vexo_NativeApi_nativeInitialize(JNIEnv* env, jclass,
                                                                    jobject info);
JNIEXPORT void JNICALL Java_com_vexo_NativeApi_nativeSetEventTreePanel(JNIEnv* env, jclass,
                                                                      jobject panel);
JNIEXPORT void JNICALL Java_com_vexo_NativeApi_nativeActivateTracePoints(JNIEnv* env, jclass,
                                                                        jobject tracePoints);
JNIEXPORT void JNICALL Java_com_vexo_NativeApi_nativeGetRecordedData(JNIEnv* env, jclass,
                                                                    jobject recordedData);
JNIEXPORT void JNICALL Java_com_vexo_NativeApi_nativeOnResetEventList(JNIEnv* env, jclass);
JNIEXPORT void JNICALL Java_com_vexo_NativeApi_nativeGetClasses(JNIEnv* env, jclass,
                                                               jobject result);
JNIEXPORT void JNICALL Java_com_vexo_NativeApi_nativeGetObjects(JNIEnv* env, jclass,
                                                               jobject classFilter,
                                                               jobject result);
JNIEXPORT jboolean JNICALL Java_com_vexo_NativeApi_nativeConvertObjectIDs(
    JNIEnv* env, jclass, jintArray ids, jint first, jint count, jobjectArray destination,
    jint firstDestination);
JNIEXPORT jint JNICALL Java_com_vexo_NativeApi_nativeGetProgress(JNIEnv* env, jclass,
                                                                jboolean cancel, jint scale);
JNIEXPORT jint JNICALL Java_com_vexo_NativeApi_nativeGetClassesModificationCount(JNIEnv* env,
                                                                                jclass);
}

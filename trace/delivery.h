// Delivery of recorded events to Java.
#pragma once

#include <jni.h>

// nativeGetRecordedData: waits until a record is available, switches the banks and turns every
// record of the bank that was current into a Java event object in `data`'s m_Events, with the
// bank's overflow flag in m_bOverflow. One consumer thread at a time.
void DeliverRecordedData(JNIEnv* env, jobject data);

// nativeOnResetEventList: the recording limit counts from zero again.
void ResetEventList();

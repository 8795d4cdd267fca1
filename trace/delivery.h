// Delivery of recorded events to Java.
#pragma once

#include <jni.h>

// nativeGetRecordedData: waits until a record is available, switches the banks and turns every
// record of the bank that was current into a Java event object in `data`'s m_Events, with the
// bank's overflow flag in m_bOverflow. One consumer thread at a time.
void DeliverRecordedData(JNIEnv* env, jobject data);

// Every delivery's events are made by the event filler (trace/event_filler.h), defined in the
// event classes' loader at the next delivery, not only those holding arguments or exits: asked
// for by a Java side that knows of the filler, off again for the next one.
void SetFillEveryDelivery(bool on);

// nativeOnResetEventList: the recording limit counts from zero again.
void ResetEventList();

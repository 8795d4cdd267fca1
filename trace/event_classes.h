// The registered event tree panel and the six Java event classes delivery instantiates.
#pragma once

#include <jni.h>

enum EventClass {
    kMethodEventClass,  // com/vexo/TraceMethodEvent
    kFieldEventClass,   // com/vexo/TraceFieldEvent
    kIntEventClass,     // com/vexo/TraceFieldIntEvent
    kDoubleEventClass,  // com/vexo/TraceFieldDoubleEvent
    kFloatEventClass,   // com/vexo/TraceFieldFloatEvent
    kObjectEventClass,  // com/vexo/TraceFieldObjectEvent
    kEventClassCount
};

// nativeSetEventTreePanel: holds the panel, checks its displayEvent method and resolves the
// six event classes, all or nothing.
void SetEventTreePanel(JNIEnv* env, jobject panel);

// The global reference to an event class, or null while none is registered.
jclass EventClassRef(EventClass which);

// Both the panel and the TraceMethodEvent class are held: the debug hook records only then.
bool EventClassesRegistered();

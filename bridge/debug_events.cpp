#include "bridge/debug_events.h"

#include "bridge/jvmti_env.h"

namespace {
// One debug event being handled on this thread. Events raised by the hook's own work nest.
struct HookFrame {
    JNIEnv* jni;
    jthread thread;
    HookFrame* outer;
    bool fromEntryHook;  // raised by an instrumented method's entry call
    jobject receiver;    // that method's receiver (null for a static method)
};

thread_local HookFrame* t_innermost = nullptr;

void Raise(JNIEnv* jni, jthread thread, JVMDI_Event* event, bool fromEntryHook = false,
           jobject receiver = nullptr) {
    const JVMDI_EventHook hook = g_bridge.debugHook.load(std::memory_order_acquire);
    if (hook == nullptr) return;
    HookFrame frame{jni, thread, t_innermost, fromEntryHook, receiver};
    t_innermost = &frame;
    hook(jni, event);
    t_innermost = frame.outer;
}
}  // namespace

jvalue CleanValue(char signatureType, jvalue value) {
    jvalue clean;
    clean.j = 0;
    switch (signatureType) {
        case 'Z': clean.z = value.z; break;
        case 'B': clean.b = value.b; break;
        case 'C': clean.c = value.c; break;
        case 'S': clean.s = value.s; break;
        case 'I': clean.i = value.i; break;
        case 'J': clean.j = value.j; break;
        case 'F': clean.f = value.f; break;
        case 'D': clean.d = value.d; break;
        case 'L': case '[': clean.l = value.l; break;
        default: break;
    }
    return clean;
}

void JNICALL BridgeOnBreakpoint(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method,
                                jlocation location) {
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_BREAKPOINT;
    event.u.breakpoint.thread = thread;
    event.u.breakpoint.method = method;
    event.u.breakpoint.location = location;
    Raise(jni, thread, &event);
}

void BridgeRaiseMethodEntry(JNIEnv* jni, jmethodID method, jobject receiver) {
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_BREAKPOINT;
    event.u.breakpoint.method = method;
    Raise(jni, nullptr, &event, true, receiver);
}

// The fields an access and a modification record share, in the same order.
template <typename FieldEventData>
void FillFieldEvent(FieldEventData* data, jthread thread, jmethodID method, jlocation location,
                    jclass fieldClass, jobject object, jfieldID field) {
    data->thread = thread;
    data->method = method;
    data->location = location;
    data->field_clazz = fieldClass;
    data->object = object;
    data->field = field;
}

void JNICALL BridgeOnFieldAccess(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method,
                                 jlocation location, jclass fieldClass, jobject object,
                                 jfieldID field) {
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_FIELD_ACCESS;
    FillFieldEvent(&event.u.field_access, thread, method, location, fieldClass, object, field);
    Raise(jni, thread, &event);
}

// HotSpot hands over a modification's value as the whole interpreter stack slot, so the bytes
// beyond a narrow type's are not dependable; the hook gets them zeroed.
void JNICALL BridgeOnFieldModification(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method,
                                       jlocation location, jclass fieldClass, jobject object,
                                       jfieldID field, char signatureType, jvalue newValue) {
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_FIELD_MODIFICATION;
    JVMDI_field_modification_event_data& data = event.u.field_modification;
    FillFieldEvent(&data, thread, method, location, fieldClass, object, field);
    data.signature_type = signatureType;
    data.new_value = CleanValue(signatureType, newValue);
    Raise(jni, thread, &event);
}

// The frame of the innermost event this thread is handling; another thread's frames are not
// reachable (it is not stopped).
jvmdiError JNICALL BridgeGetCurrentFrame(jthread thread, jframeID* framePtr) {
    if (framePtr == nullptr) return JVMDI_ERROR_NULL_POINTER;
    HookFrame* frame = t_innermost;
    if (frame == nullptr) return JVMDI_ERROR_THREAD_NOT_SUSPENDED;
    if (thread != nullptr && !frame->jni->IsSameObject(thread, frame->thread)) {
        return JVMDI_ERROR_THREAD_NOT_SUSPENDED;
    }
    *framePtr = reinterpret_cast<jframeID>(frame);
    return JVMDI_ERROR_NONE;
}

// The object in `slot` of the frame's method, as a new global reference for the caller to
// delete. Only the innermost event's frame is current: at a breakpoint the method is depth 0
// of its thread; under the entry hook it is depth 1, and its receiver is at hand.
jvmdiError JNICALL BridgeGetLocalObject(jframeID frameId, jint slot, jobject* valuePtr) {
    if (valuePtr == nullptr) return JVMDI_ERROR_NULL_POINTER;
    HookFrame* frame = t_innermost;
    if (frame == nullptr || reinterpret_cast<jframeID>(frame) != frameId) {
        return JVMDI_ERROR_INVALID_FRAMEID;
    }
    if (frame->fromEntryHook && slot == 0) {
        *valuePtr = frame->receiver != nullptr ? frame->jni->NewGlobalRef(frame->receiver) : nullptr;
        return JVMDI_ERROR_NONE;
    }
    jobject local = nullptr;
    const jint depth = frame->fromEntryHook ? 1 : 0;
    const jvmtiError error = g_bridge.jvmti->GetLocalObject(frame->thread, depth, slot, &local);
    if (error != JVMTI_ERROR_NONE) return static_cast<jvmdiError>(error);
    *valuePtr = local != nullptr ? frame->jni->NewGlobalRef(local) : nullptr;
    if (local != nullptr) frame->jni->DeleteLocalRef(local);
    return JVMDI_ERROR_NONE;
}

namespace {
// The frame of an innermost event, checked like BridgeGetLocalObject's; null when not current.
HookFrame* CurrentHookFrame(jframeID frameId) {
    HookFrame* frame = t_innermost;
    return frame != nullptr && reinterpret_cast<jframeID>(frame) == frameId ? frame : nullptr;
}

template <typename T, typename Getter>
jvmdiError GetLocal(jframeID frameId, jint slot, T* valuePtr, Getter get) {
    if (valuePtr == nullptr) return JVMDI_ERROR_NULL_POINTER;
    HookFrame* frame = CurrentHookFrame(frameId);
    if (frame == nullptr) return JVMDI_ERROR_INVALID_FRAMEID;
    const jint depth = frame->fromEntryHook ? 1 : 0;
    return static_cast<jvmdiError>((g_bridge.jvmti->*get)(frame->thread, depth, slot, valuePtr));
}
}  // namespace

jvmdiError JNICALL BridgeGetLocalInt(jframeID frame, jint slot, jint* valuePtr) {
    return GetLocal(frame, slot, valuePtr, &jvmtiEnv::GetLocalInt);
}

jvmdiError JNICALL BridgeGetLocalLong(jframeID frame, jint slot, jlong* valuePtr) {
    return GetLocal(frame, slot, valuePtr, &jvmtiEnv::GetLocalLong);
}

jvmdiError JNICALL BridgeGetLocalFloat(jframeID frame, jint slot, jfloat* valuePtr) {
    return GetLocal(frame, slot, valuePtr, &jvmtiEnv::GetLocalFloat);
}

jvmdiError JNICALL BridgeGetLocalDouble(jframeID frame, jint slot, jdouble* valuePtr) {
    return GetLocal(frame, slot, valuePtr, &jvmtiEnv::GetLocalDouble);
}

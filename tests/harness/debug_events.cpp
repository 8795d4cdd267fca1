#include "tests/harness/debug_events.h"

#include <gtest/gtest.h>

#include "tests/harness/scripted_vm.h"

namespace {
void Raise(JNIEnv* env, JVMDI_Event* event) {
    JVMDI_EventHook hook = InstalledDebugHook();
    ASSERT_NE(hook, nullptr) << "the agent installed no debug hook";
    hook(env, event);
}
}  // namespace

void HitBreakpoint(JNIEnv* env, jmethodID method, jobject receiver) {
    SetCurrentFrameReceiver(receiver);
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_BREAKPOINT;
    event.u.breakpoint.method = method;
    event.u.breakpoint.location = 0;
    Raise(env, &event);
    SetCurrentFrameReceiver(nullptr);
}

void HitMethodEntry(JNIEnv* env, jmethodID method, jobject receiver) {
    SetCurrentFrameReceiver(receiver);
    jframeID frame = nullptr;
    ScriptedJvmdi()->GetCurrentFrame(nullptr, &frame);
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_METHOD_ENTRY;
    event.u.frame.method = method;
    event.u.frame.frame = frame;
    Raise(env, &event);
    SetCurrentFrameReceiver(nullptr);
}

void HitFieldAccess(JNIEnv* env, jfieldID field, jobject object) {
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_FIELD_ACCESS;
    event.u.field_access.field = field;
    event.u.field_access.object = object;
    Raise(env, &event);
}

void HitFieldModification(JNIEnv* env, jfieldID field, jobject object, char signatureType,
                          jvalue newValue) {
    JVMDI_Event event = {};
    event.kind = JVMDI_EVENT_FIELD_MODIFICATION;
    event.u.field_modification.field = field;
    event.u.field_modification.object = object;
    event.u.field_modification.signature_type = signatureType;
    event.u.field_modification.new_value = newValue;
    Raise(env, &event);
}

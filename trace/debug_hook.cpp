#include "trace/debug_hook.h"

#include "agent/agent_state.h"
#include "agent/error_out.h"
#include "agent/reentrancy.h"
#include "trace/call_details.h"
#include "trace/event_classes.h"
#include "trace/method_options.h"
#include "trace/recorder.h"
#include "trace/trace_flags.h"

namespace {
thread_local FieldAccessOffer t_offer;
thread_local MethodEntryOffer* t_entryOffer = nullptr;

constexpr int32_t kMaxArguments = 255;  // a method descriptor's limit, in slots
constexpr jint kAccStatic = 0x0008;

// The arguments of the method whose entry is the frame's current event, read from its locals
// (the breakpoint road), or null when they cannot all be read.
CallDetails* ArgumentsFromFrame(JNIEnv* env, jmethodID method, jframeID frame) {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    if (jvmdi->GetMethodName == nullptr || jvmdi->GetLocalInt == nullptr) return nullptr;
    char* name = nullptr;
    char* signature = nullptr;
    jint modifiers = 0;
    if (jvmdi->GetMethodName(nullptr, method, &name, &signature) != JVMDI_ERROR_NONE) return nullptr;
    char kinds[kMaxArguments];
    int32_t count = 0;
    char returnKind = 'V';
    const bool parsed = ParameterKinds(signature, kinds, kMaxArguments, &count, &returnKind);
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(name));
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(signature));
    if (!parsed || jvmdi->GetMethodModifiers(nullptr, method, &modifiers) != JVMDI_ERROR_NONE) return nullptr;
    CallDetails* details = NewCallDetails(count);
    if (details == nullptr) return nullptr;
    jint slot = (modifiers & kAccStatic) ? 0 : 1;
    bool complete = true;
    for (int32_t i = 0; i < count && complete; ++i) {
        jvalue wide;
        wide.j = 0;
        switch (kinds[i]) {
            case 'J': complete = jvmdi->GetLocalLong(frame, slot, &wide.j) == JVMDI_ERROR_NONE; slot += 2; break;
            case 'D': complete = jvmdi->GetLocalDouble(frame, slot, &wide.d) == JVMDI_ERROR_NONE; slot += 2; break;
            case 'F': complete = jvmdi->GetLocalFloat(frame, slot, &wide.f) == JVMDI_ERROR_NONE; ++slot; break;
            case 'L': {
                jobject global = nullptr;
                complete = jvmdi->GetLocalObject(frame, slot, &global) == JVMDI_ERROR_NONE;
                wide.l = global;
                details->arguments[i] = MakeCallValue(env, 'L', wide);
                if (global != nullptr) env->DeleteGlobalRef(global);
                ++slot;
                continue;
            }
            default: complete = jvmdi->GetLocalInt(frame, slot, &wide.i) == JVMDI_ERROR_NONE; ++slot; break;
        }
        details->arguments[i] = MakeCallValue(env, kinds[i], wide);
    }
    if (!complete) {
        ReleaseCallDetails(env, details);
        return nullptr;
    }
    return details;
}

void RecordMethodEntry(JNIEnv* env, jmethodID method, jframeID frame) {
    MethodEntryOffer* offer = t_entryOffer != nullptr && t_entryOffer->active ? t_entryOffer : nullptr;
    MethodEntryOffer fromFrame;
    if (offer == nullptr && (MethodOptions(method) & kArgumentsTracePoint)) {
        fromFrame.details = ArgumentsFromFrame(env, method, frame);
        fromFrame.active = true;
        offer = &fromFrame;
    }
    RecordTraceEvent(env, method, nullptr, 0, nullptr, false, frame, nullptr, offer);
    if (offer == &fromFrame) ReleaseCallDetails(env, fromFrame.details);
}

// The value offered for this access, or null (a watch: the field is read again).
const jvalue* OfferedValue(jfieldID field, jobject object) {
    if (!t_offer.active || t_offer.field != field || t_offer.object != object) return nullptr;
    return &t_offer.value;
}

void HandleEvent(JNIEnv* env, JVMDI_Event* event) {
    switch (event->kind) {
        case JVMDI_EVENT_BREAKPOINT: {
            jframeID frame = nullptr;
            if (g_agent.jvmdi->GetCurrentFrame(event->u.breakpoint.thread, &frame) !=
                JVMDI_ERROR_NONE) {
                ErrorOut("ERROR: cannot get current frame\n");
                return;
            }
            RecordMethodEntry(env, event->u.breakpoint.method, frame);
            return;
        }
        case JVMDI_EVENT_FIELD_ACCESS: {
            const JVMDI_field_access_event_data& e = event->u.field_access;
            // An instrumented site hands over the value it read; a watch's field is read again.
            RecordTraceEvent(env, e.field, e.object, 0, OfferedValue(e.field, e.object), false,
                             nullptr, e.field_clazz);
            return;
        }
        case JVMDI_EVENT_FIELD_MODIFICATION: {
            const JVMDI_field_modification_event_data& e = event->u.field_modification;
            RecordTraceEvent(env, e.field, e.object, 0, &e.new_value, true, nullptr,
                             e.field_clazz);
            return;
        }
        case JVMDI_EVENT_METHOD_ENTRY:
            RecordTraceEvent(env, event->u.frame.method, nullptr, 0, nullptr, false,
                             event->u.frame.frame);
            return;
        default:
            return;
    }
}
}  // namespace

MethodEntryOffer* OfferMethodEntry(MethodEntryOffer* offer) {
    MethodEntryOffer* previous = t_entryOffer;
    t_entryOffer = offer;
    return previous;
}

FieldAccessOffer OfferFieldAccessValue(const FieldAccessOffer& offer) {
    const FieldAccessOffer previous = t_offer;
    t_offer = offer;
    return previous;
}

void DebugEventHook(JNIEnv* env, JVMDI_Event* event) {
    unsigned char* busy = CurrentReentrancyFlag();
    if (busy == nullptr || *busy != 0) return;  // an event raised by the hook's own calls
    *busy = 1;
    if (EventClassesRegistered()) HandleEvent(env, event);
    *busy = 0;
}

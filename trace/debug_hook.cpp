#include "trace/debug_hook.h"

#include "core/agent_state.h"
#include "core/error_out.h"
#include "core/reentrancy.h"
#include "trace/access_sites.h"
#include "trace/event_classes.h"
#include "trace/recorder.h"

namespace {
thread_local FieldAccessOffer t_offer;
thread_local MethodEntryOffer* t_entryOffer = nullptr;

// The instrumented entry being raised on this thread, with its arguments, or null.
MethodEntryOffer* ActiveEntryOffer() {
    return t_entryOffer != nullptr && t_entryOffer->active ? t_entryOffer : nullptr;
}

// Where a field event happened: a watch's method and location, or, from an instrumented site
// (no method), the number the rewriter gave the site, in place of the location.
int32_t SiteOf(jmethodID method, jlocation location) {
    if (method != nullptr) return NumberMethodSite(method, location);
    return location > 0 && location < kMaxAccessSites ? static_cast<int32_t>(location) : 0;
}

// The value offered for this access, or null (a watch: the field is read again).
const jvalue* OfferedValue(jfieldID field, jobject object) {
    if (!t_offer.active || t_offer.field != field || t_offer.object != object) return nullptr;
    return &t_offer.value;
}

void HandleEvent(JNIEnv* env, JVMDI_Event* event) {
    switch (event->kind) {
        case JVMDI_EVENT_BREAKPOINT: {
            MethodEntryOffer* offer = ActiveEntryOffer();
            jframeID frame = nullptr;
            if (offer == nullptr && g_agent.jvmdi->GetCurrentFrame(event->u.breakpoint.thread, &frame) !=
                JVMDI_ERROR_NONE) {
                ErrorOut("ERROR: cannot get current frame\n");
                return;
            }
            TraceHit hit;
            hit.member = event->u.breakpoint.method;
            hit.frame = frame;
            hit.entryOffer = offer;
            RecordTraceEvent(env, hit);
            return;
        }
        case JVMDI_EVENT_FIELD_ACCESS: {
            const JVMDI_field_access_event_data& e = event->u.field_access;
            // An instrumented site hands over the value it read; a watch's field is read again.
            TraceHit hit;
            hit.member = e.field;
            hit.object = e.object;
            hit.newValue = OfferedValue(e.field, e.object);
            hit.fieldClass = e.field_clazz;
            hit.site = SiteOf(e.method, e.location);
            RecordTraceEvent(env, hit);
            return;
        }
        case JVMDI_EVENT_FIELD_MODIFICATION: {
            const JVMDI_field_modification_event_data& e = event->u.field_modification;
            TraceHit hit;
            hit.member = e.field;
            hit.object = e.object;
            hit.newValue = &e.new_value;
            hit.assigned = true;
            hit.fieldClass = e.field_clazz;
            hit.site = SiteOf(e.method, e.location);
            RecordTraceEvent(env, hit);
            return;
        }
        case JVMDI_EVENT_METHOD_ENTRY: {
            TraceHit hit;
            hit.member = event->u.frame.method;
            hit.frame = event->u.frame.frame;
            RecordTraceEvent(env, hit);
            return;
        }
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

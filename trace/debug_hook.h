// The debug event hook installed with the debug interface's SetEventHook.
#pragma once

#include "platform/jvmdi.h"
#include "trace/method_entry_offer.h"


// Runs on the thread that hit a breakpoint or touched a watched field.
void DebugEventHook(JNIEnv* env, JVMDI_Event* event);

// A raiser of field access events that holds the value read (an instrumented site) offers it,
// on this thread, for the access of `field` on `object` it is about to raise; the hook records
// that value instead of reading the field again. Returns the previous offer; hand it back to
// withdraw this one.
struct FieldAccessOffer {
    jfieldID field = nullptr;
    jobject object = nullptr;
    jvalue value = {};
    bool active = false;
};
FieldAccessOffer OfferFieldAccessValue(const FieldAccessOffer& offer);

// A raiser of a method entry that holds the call's receiver and arguments (an instrumented
// entry) offers them, on this thread, for the entry it is about to raise (see
// trace/method_entry_offer.h). Returns the previous offer; hand it back to withdraw this one.
MethodEntryOffer* OfferMethodEntry(MethodEntryOffer* offer);

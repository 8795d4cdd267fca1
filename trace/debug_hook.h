// The debug event hook installed with the debug interface's SetEventHook.
#pragma once

#include "platform/jvmdi.h"

#include <cstdint>

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

struct CallValue;

// A raiser of a method entry that holds the call's receiver and arguments (an instrumented
// entry) offers them, on this thread, for the entry it is about to raise: the receiver is taken
// as the frame's would be (null in a constructor before its object is made), so no frame is
// asked for. The recorder takes the arguments when it records the entry and its trace point asks
// for them: weak references pass to the record (and `argumentsTaken` is set); with
// `argumentsBorrowed` the objects are the caller's own references, which it keeps, and the record
// makes its own. It sets `recorded` and `time` (the record's) when it records the entry at all.
// Returns the previous offer; hand it back to withdraw this one.
struct MethodEntryOffer {
    jobject receiver = nullptr;
    const CallValue* arguments = nullptr;
    int32_t argumentCount = -1;  // -1: none handed over
    bool argumentsBorrowed = false;
    bool argumentsTaken = false;
    bool active = false;
    bool recorded = false;
    bool dropped = false;  // an event, not recorded: the banks were full (its exit is dropped too)
    int64_t time = 0;
};
MethodEntryOffer* OfferMethodEntry(MethodEntryOffer* offer);

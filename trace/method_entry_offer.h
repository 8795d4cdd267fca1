// What an instrumented method entry hands the recorder for the entry it is about to raise.
#pragma once

#include <jni.h>

#include <cstdint>

struct CallValue;

// The raiser holds the call's receiver and arguments: the receiver is taken as the frame's would
// be (null in a constructor before its object is made), so no frame is asked for. The recorder
// takes the arguments when it records the entry and its trace point asks for them: weak
// references pass to the record (and `argumentsTaken` is set); with `argumentsBorrowed` the
// objects are the caller's own references, which it keeps, and the record makes its own. It sets
// `recorded` and `time` (the record's) when it records the entry at all.
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
    // When not 0, the entry's time: an entry held until its call ended, raised then.
    int64_t entryTime = 0;
};

// The class rewritten methods call when a trace point asks for their arguments or exits
// (com/vexo/internal/MethodHook), defined at run time in the boot loader like the entry hook,
// with its natives bound to the bridge. The prologue hands over each argument, then enters:
// the entry is raised as the entry hook raises it, with the arguments offered to the recorder.
// Each return and the catch-all handler leave: when the call's entry was recorded, its exit is
// recorded with the value returned or the exception and the time since the entry. The calls
// of a thread are kept on a stack of its own, so entries and exits pair up through recursion
// and exceptions. No exception leaves a hook.
#pragma once

#include <jni.h>

#include <string>

// Defines the hook class and binds its natives (once). Returns false when that failed.
bool EnsureMethodHookClass(JNIEnv* env);

// What the hook needs to know of a probe's method, published before the probe is armed.
struct ProbeShape {
    std::string kinds;     // the parameters' descriptor characters (arrays as L)
    char returnKind = 'V';
    bool arguments = false;
    bool exits = false;
    bool timing = false;  // its calls are counted and timed (trace/call_timing.h) by hooks of their own
    // Exits with a threshold: a call's entry is held on its thread until its exit, and both are
    // recorded only when it took at least this long; shorter calls are counted (trace/call_timing.h),
    // every call with `countAll` (the method is timed as well).
    int64_t minNanos = 0;
    bool countAll = false;
    bool receiverAtExits = false;  // its exits pass `this` (so no entry holds it)
    bool bareEntry = false;        // its prologue calls timedEnter: no entry is held, its exit has all
    bool constructor = false;      // its exits pass the object made, their subject
};
void PublishProbeShape(int id, const ProbeShape& shape);

// Whether the hook class is defined, without defining it (the class file hook asks).
bool MethodHookClassReady();

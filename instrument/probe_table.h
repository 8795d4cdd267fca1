// The entry instrumentation's probes: one a method it was asked to arm, or that a class got as it
// loaded, known by its id (the int the rewritten code hands the hooks), with the lock they change
// under and what arming and the class file hook's passes share of them.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "instrument/breakpoint_reason.h"
#include "instrument/class_file_passes.h"
#include "instrument/class_rewriter.h"
#include "instrument/method_hook.h"
#include "platform/os.h"
#include "trace/trace_flags.h"

// The options whose probe calls the exit hooks: the exits, and the timing, which needs each exit
// to end its call's time.
constexpr int32_t kExitsOfProbe = kExitTracePoint | kTimingTracePoint;

struct Probe {
    jmethodID method = nullptr;
    jclass declaringClass = nullptr;  // global reference
    std::string name;
    std::string descriptor;
    bool fit = false;           // may take the instrumentation road
    bool wanted = false;        // armed on the instrumentation road
    bool instrumented = false;  // the class's current version calls the hook for it
    int32_t options = 0;        // what else its trace points ask for (arguments, exits)
    ProbeShape shape;           // as published for the method hook
    bool constructor = false;   // instrumented only when its exits are asked for
    BreakpointReason unfit = BreakpointReason::kNone;  // why it cannot be instrumented, when it cannot
    // Made in the class file hook as its class loaded, for the methods the session's patterns
    // name: its class's first version calls the hook for it with `loadOptions`. Until arming
    // finds it by its method, it is known by its class's name and loader.
    bool atLoad = false;
    int32_t loadOptions = 0;
    std::string className;   // internal form
    jweak loader = nullptr;  // while not found by its method; null for the boot loader
    bool bootLoader = false;
};

// A method on the breakpoint road whose exits were asked for, and why it is there.
struct UnrecordedExits {
    jmethodID method;
    jclass declaringClass;  // global reference
    std::string name;
    std::string descriptor;
    BreakpointReason reason;
};

struct Instrumentation {
    jvmtiEnv* jvmti = nullptr;
    bool available = false;
    bool forceBreakpoints = false;
    OsLock lock;                // arming may run on several threads at once
    std::vector<Probe> probes;  // the index is the probe's id
    std::unordered_map<jmethodID, jint> byMethod;
    // Probes made as their classes loaded that arming has not found yet, by class name.
    std::unordered_map<std::string, std::vector<jint>> madeAtLoad;
    std::vector<UnrecordedExits> unrecorded;  // each method once
    bool sessionTells = false;  // the in-VM session says what has no exits; standard error does not
};

extern Instrumentation g_inst;

jint ProbeId(const Probe* p);

bool SameClass(JNIEnv* env, const Probe& p, jclass clazz);

// What the method hook needs of a method of `descriptor` whose probe asks for `options`
// (arguments, exits). False when the descriptor cannot be read.
bool ShapeOf(const std::string& descriptor, int32_t options, ProbeShape* shape);

// The class file could not be handed to the VM: the probes a pass found instrumented are not.
void ProbesNotApplied(const std::vector<jint>& ids);

// Rewrites the class file for the entry probes `probes` into `result`, which learns how to take
// back what it recorded; each probe learns whether its method is instrumented. Under the lock.
void RewriteForEntryProbes(const uint8_t* data, size_t size, std::vector<EntryProbe>* probes, PassResult* result);

// Enters the instrumentation lock within about a millisecond, or gives up (false). The class file
// hook of a class loading on this thread must not wait for a thread that holds the lock while it
// waits, perhaps, for this very class (arming loads nothing, but the VM's operations it runs are
// long): a class that cannot have it now is armed as it is handed over, by retransforming it.
bool EnterWithinAMillisecond(OsLock* lock);

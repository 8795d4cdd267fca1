// The recording thread's stack for trace points that ask for it: frames (a method and a location)
// captured by a service the JVMTI side installs, placed beside a bank's records, and described
// (class, method, source file, line) at delivery.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/jvmdi.h"

constexpr int32_t kDefaultStackDepth = 16;
constexpr int32_t kMaxStackDepth = 256;
// Frames captured beyond those asked for, so that the frames of hidden classes (a lambda's proxy),
// which delivery leaves out as the JVM's own stack traces do, do not take the places of others.
constexpr int32_t kHiddenFrameSlack = 4;
constexpr int32_t kMaxCapturedFrames = kMaxStackDepth + kHiddenFrameSlack;

struct StackFrame {
    jmethodID method;
    jlocation location;  // -1 in a native method
};

// What delivery needs of a method to name its frames.
struct MethodFacts {
    std::string className;   // as Class.getName() spells it
    std::string methodName;
    std::string sourceFile;  // empty when the class has none
    bool native = false;
    bool hidden = false;     // of a hidden class (a lambda's proxy, a lambda form): left out
    std::vector<std::pair<jlocation, jint>> lines;  // start location and line, by location
};

struct StackService {
    // The calling thread's frames, the top one first, without the frames of the tracer's own
    // hooks: at most `depth` of them into `frames`. Returns how many, or -1 when none can be had.
    int32_t (*capture)(StackFrame* frames, int32_t depth);
    // The facts of `method`; false when it cannot be described (its class was unloaded).
    bool (*describe)(JNIEnv* env, jmethodID method, MethodFacts* facts);
};

// Installed once at the start by the room that holds the JVMTI environment; without it (a VM
// that has the old interfaces itself) no stack is recorded, and trace points that ask for one
// are told so by their flags.
void InstallStackService(const StackService& service);
bool StacksRecordable();

// The service's capture; -1 without a service.
int32_t CaptureStack(StackFrame* frames, int32_t depth);

// The line of `location` in a line number table sorted by location (a location before the first
// entry: the first line), -1 without a table, -2 in a native method.
jint LineOfLocation(const MethodFacts& facts, jlocation location);

// Delivery: a StackTraceElement[] of the first `shown` frames of `count` that are not hidden, or
// null without memory. Names are kept per method, so a method is described once (the cache is bounded; when
// full it is emptied). Runs the element constructor as the tracer's own work.
jobjectArray StackElements(JNIEnv* env, const StackFrame* frames, int32_t count, int32_t shown);

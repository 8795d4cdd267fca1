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
// Frames captured beyond those asked for: the tracer's hook frames on top (two at most, which the
// capture leaves out), and what they leave is room for the frames of hidden classes (a lambda's
// proxy), which delivery leaves out as the JVM's own stack traces do. Each frame costs its walk.
constexpr int32_t kExtraFrames = 2;
constexpr int32_t kMaxCapturedFrames = kMaxStackDepth + kExtraFrames;

struct StackFrame {
    jmethodID method;
    jlocation location;  // -1 in a native method
};

// A stack captured for a hit before the recording lock is taken (walking it is most of what a
// stack costs, and the lock serialises every recording thread): `count` -1 when none was.
struct CapturedStack {
    StackFrame frames[kMaxCapturedFrames];
    int32_t count = -1;
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
    // The calling thread's frames, the top one first: `depth` at most are walked, and those of
    // the tracer's own hooks among them left out, into `frames`. Returns how many, or -1 when none
    // can be had.
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

// The members whose trace points ask for a stack, and how deep, read without the recording lock:
// a hit of one captures its stack before it takes the lock. Written under the lock as the table
// of trace points is installed; a hit that reads a stale answer captures under the lock instead,
// or captures a stack its trace point does not keep.
void ForgetWantedStacksLocked();
void WantStackLocked(const void* member, int32_t depth);
int32_t WantedStackDepth(const void* member);

// Captures the stack of a hit of `member` when its trace point asks for one.
void CaptureWantedStack(const void* member, CapturedStack* stack);

// A new local StackTraceElement of `location` in `method`, named as a stack's frames are (access
// sites the watch road saw); null when the method cannot be described or there is no memory.
jobject FrameElement(JNIEnv* env, jmethodID method, jlocation location);

// A new local StackTraceElement of a class (dotted name), a method, a source file ("" for none)
// and a line (-1 for none), or null without memory (access sites the rewriter numbered).
jobject MadeFrameElement(JNIEnv* env, const std::string& className, const std::string& methodName,
                         const std::string& sourceFile, jint line);

// The names kept so far are forgotten before delivery names the next frame (the session ended;
// a jmethodID may be reused later).
void ForgetStackNames();

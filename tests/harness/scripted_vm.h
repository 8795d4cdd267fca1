// Scripted profiler (JVMPI) and debug (JVMDI) interfaces in front of the real test JVM.
//
// The agent reaches both tool interfaces only through a JavaVM's GetEnv. ScriptedVm() is a
// JavaVM proxy whose GetEnv answers the JVMPI and JVMDI versions from the script below and
// forwards every other version to the real virtual machine. Each call the agent makes on the
// proxy or the scripted tables is logged with its arguments, in order.
#pragma once

#include <jni.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

struct VmScript {
    // GetEnv results per version; 0 hands out the scripted table.
    jint jvmpi11Status = 0;
    jint jvmpi1Status = 0;
    jint jvmdiStatus = 0;

    jvmdiError setEventHookResult = JVMDI_ERROR_NONE;
    unsigned int capabilityBits = 0;  // the JVMDI_capabilities word GetCapabilities answers
    std::map<jint, jint> enableEventResults;  // event type -> EnableEvent result (default 0)

    // The JNI version GetVersion answers on every JNIEnv; 0 leaves the real one.
    jint jniVersion = 0;
    // Whether JNIEnv's GetJavaVM answers the scripted proxy (true) or the real VM (false).
    bool getJavaVmAnswersProxy = true;

    // A class JNIEnv's FindClass pretends not to find (NoClassDefFoundError), or null.
    const char* missingClass = nullptr;
    // A class JNIEnv's DefineClass refuses (LinkageError), or null.
    const char* refusedDefinition = nullptr;
    // JNIEnv's CallStaticVoidMethod throws a NoSuchFieldError instead of calling, this many more
    // times; it counts the calls it made or refused.
    int failingStaticVoidCalls = 0;
    int staticVoidCalls = 0;

    // Answers the profiler's RequestEvent: delivers the requested event (or not) before returning,
    // as the profiler does, on the requesting thread.
    std::function<void(jint type, jobjectID id)> onRequestEvent;

    jvmdiError getCurrentFrameResult = JVMDI_ERROR_NONE;
    // What GetLoadedClasses answers: the classes by name (as new global references), or an error.
    std::vector<const char*> loadedClasses;
    jvmdiError getLoadedClassesResult = JVMDI_ERROR_NONE;
    // When set, GetLocalObject raises a breakpoint on this method inside the hook that called it,
    // as a debugger reports events caused by the hook's own calls.
    jmethodID reenterFromGetLocalObject = nullptr;
};

// The script the scripted interfaces follow. Set it before the agent connects.
VmScript& Script();

// The JavaVM proxy. Also routes JNIEnv's GetVersion and GetJavaVM through the script.
JavaVM* ScriptedVm();

// Starts the agent as the virtual machine would (JVM_OnLoad on the proxy with `options`),
// discarding what it reports on standard error.
void StartAgent(const char* options);

// The scripted tables the proxy hands out.
JVMPI_Interface* ScriptedJvmpi();
JVMDI_Interface_1* ScriptedJvmdi();
JVMDI_EventHook InstalledDebugHook();

// The scripted profiler's identifiers of real Java objects: assigned on first sight (from
// 0x1000 up in steps of 8), answered by jobject2jobjectID and jobjectID2jobject too.
jobjectID ProfilerIdOf(JNIEnv* env, jobject object);
// Makes jobjectID2jobject answer `object` for `id` too, an identifier the test chose.
void ForceProfilerId(JNIEnv* env, jobject object, jobjectID id);
// Hands a profiler event to the dispatcher the agent installed as NotifyEvent.
void SendProfilerEvent(JVMPI_Event* event);

// The frame GetCurrentFrame hands out on the calling thread; GetLocalObject(frame, 0) answers
// `receiver` as a new global reference, as the debug interface did.
void SetCurrentFrameReceiver(jobject receiver);

// JNI global and weak global references created minus deleted, by anyone, since the proxy was
// built. Compare two readings around the code under test.
long LiveGlobalRefs();
long LiveWeakGlobalRefs();

// The calls made so far (GetEnv only for the JVMPI and JVMDI versions), e.g. "GetEnv 0x10000002", "EnableEvent 2",
// "SetEventNotificationMode 0 3 null".
std::vector<std::string> CallLog();
// Only the calls whose text starts with `prefix`.
std::vector<std::string> CallsStartingWith(const std::string& prefix);
// The breakpoint and field watch calls that arm trace points, in order.
std::vector<std::string> ArmingCalls();

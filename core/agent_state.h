// The agent's process-wide record: interface tables, negotiated versions, capability and mode
// flags, options and synchronisation objects.
#pragma once

#include <jni.h>

#include <atomic>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"
#include "platform/jvmpi_extension.h"
#include "platform/os.h"

struct AgentState {
    // 0: not made; 1: being made by the first caller; 2: the locks and the event exist.
    std::atomic<int> syncObjectsReady{0};
    OsLock recordingLock;       // guards the trace point table, the banks and the recorder's counters
    OsLock slotLock;            // guards the object table's free list and block creation
    OsEvent dataAvailableEvent; // auto-reset; set by the recorder, waited on by the consumer

    bool noJvmdiOption = false;
    bool noJvmpiOption = false;
    // The Java side that asked for nojvmdi (the in-VM session in profiler mode) says itself which
    // mode runs: the missing debug interface it asked for is not an error to print.
    bool modeToldByJavaSide = false;
    bool connected = false;  // ConnectToVm has run

    jint jniVersion = 0;
    JVMPI_Interface* jvmpi = nullptr;
    // Where the profiler offers it: reporting entries of the traced methods alone.
    VexoJvmpiExtension* jvmpiExtension = nullptr;
    // What the profiler's events are handed to once they are enabled (set when connecting).
    void (*profilerDispatch)(JVMPI_Event*) = nullptr;
    JVMDI_Interface_1* jvmdi = nullptr;
    jint jvmpiVersion = 0;  // 11, 1 or 0
    jint jvmdiVersion = 0;  // 1 or 0

    bool debugEventHookOK = false;
    bool debugCanWatchFieldModificationsOK = false;
    bool debugCanWatchFieldAccessOK = false;
    bool profilerMode = false;

    // Written after connection by whichever thread first needs the profiler events; read by any.
    std::atomic<bool> profileEventHookOK{false};
    std::atomic<bool> profilerEventsEnabled{false};
};

// The one instance. The negotiated fields are written only inside ConnectToVm.
extern AgentState g_agent;

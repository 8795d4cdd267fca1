// The JVMTI environment the bridge serves the old tool interfaces from, and what it was granted.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <atomic>

#include "platform/jvmdi.h"

struct BridgeSession {
    JavaVM* vm = nullptr;        // the virtual machine itself (never the proxy)
    jvmtiEnv* jvmti = nullptr;   // null: no session, the old interfaces come from the VM itself
    bool startedAtLoad = false;  // made in Agent_OnLoad, when the VM still grants everything
    // Made for an agent loaded into a running VM: its session tells the command that attached
    // what has no road, and the program's standard error is left alone.
    bool attached = false;
    bool forceBreakpoints = false;  // method entry by JVMTI breakpoints only (for comparison)
    // Profiler mode is wanted (the agent's option "nojvmdi"): take the capability for JVMTI
    // method entry events too, which HotSpot grants only at start-up.
    bool wantMethodEntryEvents = false;
    jvmtiCapabilities granted = {};
    std::atomic<JVMDI_EventHook> debugHook{nullptr};
};

extern BridgeSession g_bridge;

// Makes the JVMTI environment for `vm`, takes the capabilities the debug interface needs and
// installs the event callbacks. `atLoad`: called from Agent_OnLoad. Returns false (and leaves
// no session) when the VM has no JVMTI. A second call does nothing and returns whether the
// first succeeded.
bool BridgeStartSession(JavaVM* vm, bool atLoad);

// The JNI environment of the calling thread, or null when it is not attached.
JNIEnv* BridgeJni();

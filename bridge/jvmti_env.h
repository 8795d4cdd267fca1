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

// The JNI environment of the calling thread, or null when it is not attached.
JNIEnv* BridgeJni();

// The local references a callback may hold at once, nested requests included. Above a fresh
// handle block's 32, so that -Xcheck:jni takes it (see DeclareCallbackRoom).
constexpr jint kCallbackLocalRefs = 64;

// The first JNI call of a callback. HotSpot runs a JVMTI callback on a handle block of its own,
// linked to the block of the code the event interrupted: a JDK native that allocates through
// JNI with tens of its references live, say. HotSpot 17's -Xcheck:jni counts the live references
// of that whole chain against the fresh block's planned capacity of 32, so without this any JNI
// call of the callback warns ("JNI local refs: 33, exceeds capacity: 32"), though the callback
// frees what it makes. A capacity above the block's plan raises the plan to what is live plus
// the capacity. The block, with anything left in it, goes when the callback returns.
void DeclareCallbackRoom(JNIEnv* jni);

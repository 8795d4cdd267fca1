// The VM's events: one table of JVMTI callbacks, and the start of what serves them.
#pragma once

#include <jni.h>

// Makes the JVMTI environment for `vm`, takes the capabilities the debug interface needs, starts
// the rooms that serve events and installs the event callbacks. `atLoad`: called from
// Agent_OnLoad. Returns false (and leaves no session) when the VM has no JVMTI or refuses the
// callbacks. A second call does nothing and returns whether the first succeeded.
bool BridgeStartSession(JavaVM* vm, bool atLoad);

// The debug interface arms breakpoints and field watches through instrument/'s roads (by
// instrumentation where it can): hands them to it. Part of the start above.
void HandTheDebugInterfaceItsRoads();

// For a late load: `vm` wrapped in the bridge's proxy when the VM offers JVMTI (the bridge then
// serves the old interfaces), else `vm` itself (a VM that still has them).
JavaVM* BridgeWrapVm(JavaVM* vm);

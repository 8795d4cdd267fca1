// A JavaVM in front of the real one whose GetEnv serves the old tool interfaces from the
// bridge and forwards every other version.
#pragma once

#include <jni.h>

// The proxy for the VM of the bridge's session. Call after BridgeStartSession succeeded.
JavaVM* BridgeProxyVm();


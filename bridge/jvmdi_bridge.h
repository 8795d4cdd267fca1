// JVMDI 1 over JVMTI: the table GetEnv(JVMDI_VERSION_1) hands out through the proxy.
#pragma once

#include "bridge/field_watch_gate.h"
#include "platform/jvmdi.h"

// The roads that arm breakpoints and field watches (instrument/ serves them, by instrumentation
// where it can; the one owner of the VM's events hands them in before the table is handed out).
struct DebugRoads {
    jvmdiError (*setBreakpoint)(jmethodID method, jlocation location) = nullptr;
    jvmdiError (*clearBreakpoint)(jmethodID method, jlocation location) = nullptr;
    jvmdiError (*setFieldWatch)(FieldWatchKind kind, jclass clazz, jfieldID field) = nullptr;
    jvmdiError (*clearFieldWatch)(FieldWatchKind kind, jclass clazz, jfieldID field) = nullptr;
    bool (*fieldsInstrumented)() = nullptr;  // field watches by instrumentation are available
};
void JvmdiBridgeUseRoads(const DebugRoads& roads);

JVMDI_Interface_1* BridgeJvmdi();

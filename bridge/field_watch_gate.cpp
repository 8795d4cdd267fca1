#include "bridge/field_watch_gate.h"

#include "platform/os.h"

namespace {
struct GateSide {
    jvmtiEvent event;
    int watches;  // set and not yet cleared, as JVMTI accepted them
    bool wanted;  // the debug interface's notification mode
    bool on;      // the JVMTI event's mode
};

struct Gate {
    jvmtiEnv* jvmti = nullptr;
    OsLock lock;  // arming may run on several threads at once
    GateSide sides[2] = {{JVMTI_EVENT_FIELD_ACCESS, 0, false, false},
                         {JVMTI_EVENT_FIELD_MODIFICATION, 0, false, false}};
};

Gate g_gate;

// Brings the JVMTI event in line with the side's state. Under the gate's lock.
void Sync(GateSide* side) {
    const bool on = side->wanted && side->watches > 0;
    if (on == side->on) return;
    const jvmtiError error = g_gate.jvmti->SetEventNotificationMode(
        on ? JVMTI_ENABLE : JVMTI_DISABLE, side->event, static_cast<jthread>(nullptr));
    if (error == JVMTI_ERROR_NONE) side->on = on;
}

jvmtiError CallJvmti(FieldWatchKind kind, bool set, jclass clazz, jfieldID field) {
    jvmtiEnv* jvmti = g_gate.jvmti;
    if (kind == kAccessWatch) {
        return set ? jvmti->SetFieldAccessWatch(clazz, field)
                   : jvmti->ClearFieldAccessWatch(clazz, field);
    }
    return set ? jvmti->SetFieldModificationWatch(clazz, field)
               : jvmti->ClearFieldModificationWatch(clazz, field);
}

jvmtiError Change(FieldWatchKind kind, bool set, jclass clazz, jfieldID field) {
    if (g_gate.jvmti == nullptr) return JVMTI_ERROR_NOT_AVAILABLE;
    OsLockGuard held(&g_gate.lock);
    const jvmtiError error = CallJvmti(kind, set, clazz, field);
    GateSide* side = &g_gate.sides[kind];
    if (error == JVMTI_ERROR_NONE) {
        side->watches += set ? 1 : -1;
        Sync(side);
    }
    return error;
}
}  // namespace

void GateInit(jvmtiEnv* jvmti) {
    if (g_gate.lock.impl == nullptr) OsLockInit(&g_gate.lock);
    g_gate.jvmti = jvmti;
    for (GateSide& side : g_gate.sides) {
        side.watches = 0;
        side.wanted = false;
        side.on = false;
    }
}

jvmtiError GateSetWatch(FieldWatchKind kind, jclass clazz, jfieldID field) {
    return Change(kind, true, clazz, field);
}

jvmtiError GateClearWatch(FieldWatchKind kind, jclass clazz, jfieldID field) {
    return Change(kind, false, clazz, field);
}

void GateSetWanted(FieldWatchKind kind, bool wanted) {
    if (g_gate.jvmti == nullptr) return;
    OsLockGuard held(&g_gate.lock);
    g_gate.sides[kind].wanted = wanted;
    Sync(&g_gate.sides[kind]);
}

bool GateEventOn(FieldWatchKind kind) { return g_gate.sides[kind].on; }

int GateWatchCount(FieldWatchKind kind) { return g_gate.sides[kind].watches; }

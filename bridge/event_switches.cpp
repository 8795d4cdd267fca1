#include "bridge/event_switches.h"

#include "core/error_out.h"
#include "platform/os.h"

namespace {
struct Switches {
    jvmtiEnv* jvmti = nullptr;
    OsLock lock;              // taken last: nothing else is taken under it
    uint32_t classPrepare = 0;   // the clients asking, guarded by the lock
    uint32_t classFileLoad = 0;
};
Switches g_switches;
}  // namespace

void EventSwitchesInit(jvmtiEnv* jvmti) {
    OsLockInit(&g_switches.lock);
    g_switches.jvmti = jvmti;
}

jvmtiError WantEvent(jvmtiEvent event, EventClient client, bool want) {
    Switches& s = g_switches;
    if (s.jvmti == nullptr) return JVMTI_ERROR_NOT_AVAILABLE;
    uint32_t* asking = event == JVMTI_EVENT_CLASS_PREPARE ? &s.classPrepare
                     : event == JVMTI_EVENT_CLASS_FILE_LOAD_HOOK ? &s.classFileLoad : nullptr;
    if (asking == nullptr) return JVMTI_ERROR_INVALID_EVENT_TYPE;
    const auto bit = static_cast<uint32_t>(client);
    OsLockGuard held(&s.lock);
    const bool was = *asking != 0;
    *asking = want ? (*asking | bit) : (*asking & ~bit);
    const bool is = *asking != 0;
    jvmtiError error = JVMTI_ERROR_NONE;
    if (was != is) {
        error = s.jvmti->SetEventNotificationMode(is ? JVMTI_ENABLE : JVMTI_DISABLE, event, nullptr);
        if (error != JVMTI_ERROR_NONE) {
            ErrorOut("Vexo error:  JVMTI cannot switch event %d %s (%d)\n", static_cast<int>(event), is ? "on" : "off",
                     static_cast<int>(error));
        }
    }
    return error;
}

// Who asks for the class events, and one place that switches them. Each event is enabled while
// any of the rooms that serve it asks for it, and disabled when the last one stops asking, so no
// room switches off what another still needs.
#pragma once

#include <jvmti.h>

#include <cstdint>

enum class EventClient : uint32_t {
    // Class prepare
    kClassLoads = 1u << 0,         // the profiler interface's class-load events are on
    kProfilerEntryClasses = 1u << 1,  // the methods of classes instrumented as they load
    kFieldOwners = 1u << 2,        // classes that name an armed field through a class loading late
    kClassWaits = 1u << 3,         // the in-VM session waits for classes
    // Class file load hook
    kEntryRetransform = 1u << 8,   // entry instrumentation retransforms classes
    kFieldSites = 1u << 9,         // armed fields: every class that loads gets its sites rewritten
    kProfilerEntries = 1u << 10,   // profiler mode's method entries: application classes as they load
    kProfilerRetransform = 1u << 11,  // profiler mode retransforms the application's classes
    kLoadArming = 1u << 12,        // the session's patterns arm classes as they load
};

// Before any switch: the environment the events are switched on.
void EventSwitchesInit(jvmtiEnv* jvmti);

// `client` asks for `event` (JVMTI_EVENT_CLASS_PREPARE or JVMTI_EVENT_CLASS_FILE_LOAD_HOOK), or
// stops asking. Returns the VM's answer when the event changed state, else JVMTI_ERROR_NONE.
jvmtiError WantEvent(jvmtiEvent event, EventClient client, bool want);

#include "core/profiler_events.h"

#include "core/agent_state.h"
#include "core/error_out.h"
#include "platform/atomics.h"

namespace {
struct ProfilerEvent {
    jint type;
    const char* failureMessage;
};

// The events the agent lives on, in the order they are switched.
const ProfilerEvent kProfilerEvents[] = {
    {JVMPI_EVENT_METHOD_ENTRY2,
     "Vexo error:  EnableEvent(JVMPI_EVENT_METHOD_ENTRY2) failed (%x)\n"},
    {JVMPI_EVENT_CLASS_LOAD, "Vexo error:  EnableEvent(JVMPI_EVENT_CLASS_LOAD) failed (%x)\n"},
    {JVMPI_EVENT_CLASS_UNLOAD,
     "Vexo error:  EnableEvent(JVMPI_EVENT_CLASS_UNLOAD) failed (%x)\n"},
    {JVMPI_EVENT_OBJECT_ALLOC,
     "Vexo error:  EnableEvent(JVMPI_EVENT_OBJECT_ALLOC) failed (%x)\n"},
    {JVMPI_EVENT_OBJECT_MOVE, "Vexo error:  EnableEvent(JVMPI_EVENT_OBJECT_MOVE) failed (%x)\n"},
    {JVMPI_EVENT_OBJECT_FREE, "Vexo error:  EnableEvent(JVMPI_EVENT_OBJECT_FREE) failed (%x)\n"},
};
}  // namespace

void EnableProfilerEvents() {
    JVMPI_Interface* jvmpi = g_agent.jvmpi;
    if (jvmpi == nullptr || LoadRelaxed(g_agent.profilerEventsEnabled)) return;
    jvmpi->NotifyEvent = g_agent.profilerDispatch;
    // Set before enabling, and kept even when every call fails, so enabling is not retried.
    StoreRelaxed(g_agent.profilerEventsEnabled, true);
    StoreRelaxed(g_agent.profileEventHookOK, true);
    for (const ProfilerEvent& event : kProfilerEvents) {
        const jint status = jvmpi->EnableEvent(event.type, nullptr);
        if (status != 0) {
            StoreRelaxed(g_agent.profileEventHookOK, false);
            ErrorOut(event.failureMessage, static_cast<unsigned>(status));
        }
    }
}

void DisableProfilerEvents() {
    JVMPI_Interface* jvmpi = g_agent.jvmpi;
    if (jvmpi == nullptr) return;
    StoreRelaxed(g_agent.profilerEventsEnabled, false);
    for (const ProfilerEvent& event : kProfilerEvents) jvmpi->DisableEvent(event.type, nullptr);
}

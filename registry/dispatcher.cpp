#include "registry/dispatcher.h"

#include "agent/agent_state.h"

void DispatchProfilerEvent(JVMPI_Event* event) {
    // Outside profiler mode every event is ignored.
    if (!g_agent.profilerMode || event == nullptr) return;
    // Not yet wired: the object table and the class descriptors are fed from here once the
    // dispatcher's handlers exist.
}

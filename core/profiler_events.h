// The switch of the six profiler events the agent lives on.
#pragma once

// Installs the profiler dispatcher (g_agent.profilerDispatch, which connecting sets) and enables
// the six profiler events, unless they are enabled already. Takes no lock; two racing callers
// have the effect of one.
void EnableProfilerEvents();

// Disables the six profiler events; the dispatcher stays installed.
void DisableProfilerEvents();

// The profiler's event entry (JVMPI NotifyEvent).
#pragma once

#include "platform/jvmpi.h"

// Runs on the allocating thread, on the collector's thread during garbage collection, on the
// class-loading thread, and on the requesting thread for requested events.
void DispatchProfilerEvent(JVMPI_Event* event);

// Conversions between profiler object identifiers and Java references.
#pragma once

#include <jni.h>

#include <cstdint>

#include "platform/jvmpi.h"

// The profiler's identifier of the object `ref` refers to; 0 without a profiler. On JVMPI 1.1
// the profiler converts; on JVMPI 1 the identifier is read through the reference (two
// indirections, as that profiler lays references out).
jobjectID ObjectIdOfRef(jobject ref);

// JVMPI 1 has no identifier-to-reference call: asks for the object's allocation event again and,
// while it is being delivered, finds a stack cell of this thread that holds the identifier.
// Returns that cell's address, or 0. Called from native methods, never inside a profiler event;
// one recovery at a time.
uintptr_t RecoverObjectRef(jobjectID id);

// The identifier a recovery is waiting for, 0 when none; the dispatcher compares allocation
// events with it.
jobjectID RecoveringId();

// Scans this thread's stack (1000 words from this function's own return address toward older
// frames) for a word that is the address of a cell holding `id`. Only the dispatcher calls it,
// inside the allocation event being recovered; `eventEnd` is the first byte after the event.
void FindRefOnStack(jobjectID id, const void* eventEnd);

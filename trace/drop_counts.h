// Hits that were events but could not be recorded (the banks were full while the Java side fell
// behind, memory ran out, or their delivery could not be made), counted per trace point so that
// the Java side can say what it missed.
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

struct DropCount {
    jobject tracePointRef;  // the trace point's reference, as its entry holds it
    int64_t count;
};

// Counts `n` hits of the trace point `tracePointRef` as dropped. Called with the recording lock
// held; allocates no more than a small table's growth.
void CountDropLocked(jobject tracePointRef, int64_t n = 1);

// Moves the counts made so far into `taken` (one entry a trace point) and starts again from
// zero. Called with the recording lock held, by delivery when it takes a bank: the references
// are alive until that bank has been delivered.
void TakeDropsLocked(std::vector<DropCount>* taken);

// Every hit counted since the agent started (for tests and the end of a session).
int64_t DroppedSinceStart();

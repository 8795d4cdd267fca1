// Call timing: the calls of a method whose trace point asks for TIMING are counted, not
// recorded. The instrumented road's hooks tell each entry and exit of its probe; the calling
// thread keeps, per probe, the calls, the calls that threw, their total, shortest and longest
// durations and a histogram of durations by powers of two, in counters of its own (no lock, no
// atomic read-modify-write), and a stack of the entry times of its open calls, so that each call
// of a recursion has its own duration. A reader takes what was counted since its last read,
// merged over the threads, by method. A thread that ends hands its unread counts to the reader
// and frees its counters, so memory is bounded by the live threads and the probes they call.
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

constexpr int32_t kMaxTimedProbes = 1 << 16;  // probe ids from 0
constexpr int kTimingBuckets = 40;            // bucket b: 2^b to 2^(b+1) ns; 0 takes 0 ns, the last all above
constexpr int kMaxOpenTimedCalls = 4096;      // per thread; calls entered beyond are counted untimed

// The columns of a row of the timing table.
enum TimingColumn : int {
    kTimedCalls = 0,
    kTimedThrown,
    kTimedTotalNs,
    kTimedMinNs,    // UINT64_MAX (read as -1) with no call
    kTimedMaxNs,
    kTimedUntimed,  // calls counted without a duration: more open calls on their thread than it keeps
    kTimingHistogram,
    kTimingColumns = kTimingHistogram + kTimingBuckets,
};

struct TimingRow {
    jmethodID method = nullptr;
    uint64_t columns[kTimingColumns] = {};
};

// The hot path, on the calling thread, for the probe `id`. A thread of the agent's own work
// counts nothing.
// TimedCallEnter returns whether the entry was given a time (false: beyond the stack's room,
// or nothing is counted on this thread).
bool TimedCallEnter(int32_t id);
void TimedCallExit(int32_t id, bool thrown);

// A call of a probe with a slow-calls threshold ends: its duration in ns (kNotTimed when its
// entry has none: entered before the probe was armed, beyond the stack's room, or on a thread
// of the agent's own work), counted when shorter than `minNanos`, or whatever it took with
// `countAll` (the probe is timed as well).
constexpr uint64_t kNotTimed = UINT64_MAX;
uint64_t TimedCallEnd(int32_t id, bool thrown, uint64_t minNanos, bool countAll);

// The method of the probe `id`, told before the probe is first timed (probe ids stay with
// their methods).
void NoteTimedProbe(int32_t id, jmethodID method);

// Measures the clock before the first timed call (the factor from its ticks to nanoseconds).
void PrepareCallTiming();

// What was counted since the last take, one row per method with calls, merged over the
// threads (ended ones included). `*unattributed` gets the calls no counter could be had for
// (no memory for a thread's counters), since the last take.
void TakeTimingTable(std::vector<TimingRow>* rows, uint64_t* unattributed);

// The calling thread ends: its unread counts go to the next take; its counters are freed.
void RetireThreadTiming();

// The trace point a timed method was armed for (the latest one; a global reference is kept), so
// that a reader names its rows by trace point. Null when none was noted.
void NoteTimedTracePoint(JNIEnv* env, jmethodID method, jobject tracePoint);
jobject TimedTracePointOf(JNIEnv* env, jmethodID method);  // a local reference

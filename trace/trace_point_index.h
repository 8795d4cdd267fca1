// A hash index over an installed trace point table, built with it at activation (the table
// never changes once installed): the lookup of an event's member costs the same with 1 or
// 10,000 entries, and still finds the entries with that member in table order, so the first
// one decides.
#pragma once

#include <cstdint>

#include "trace/trace_point_entry.h"

struct TracePointIndex {
    int32_t* slots = nullptr;     // entry index + 1 of the first entry of a member, 0: empty
    int32_t* sameNext = nullptr;  // per entry: index + 1 of the next entry of its member, 0: none
    uint32_t mask = 0;            // slots - 1; no index when slots is null
};

// Builds the index of `count` entries. False (and an empty index) without memory.
bool BuildTracePointIndex(const TracePointEntry* entries, int32_t count, TracePointIndex* out);
void FreeTracePointIndex(TracePointIndex* index);

// The index of the first entry of `memberId`, or -1; then the next entry of that member after
// entry `i`, or -1.
int32_t FirstEntryOf(const TracePointIndex& index, const TracePointEntry* entries, const void* memberId);
inline int32_t NextEntryOf(const TracePointIndex& index, int32_t i) { return index.sameNext[i] - 1; }

// The table of armed trace points, and its replacement by a new list from Java.
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

#include "trace/trace_point_entry.h"

struct TracePointTable {
    TracePointEntry* entries;  // valid entries packed at the front; null when empty
    int32_t count;
    int32_t unlimited;      // entries with kUnlimitedTracePoint
    void* unlimitedMember;  // the member of the first of them, or null
};

// Guarded by the recording lock. Replaced as a whole, never changed once installed.
extern TracePointTable g_tracePoints;

// nativeActivateTracePoints: disarms and replaces the table with the given TracePoints list,
// arms the new trace points and writes the armed bit back into each; sets the recording limit.
void ActivateTracePoints(JNIEnv* env, jobject list);

// Adds the TracePoint objects of `points` to the armed table, behind the entries it holds
// (which stay armed, with their references), as an activation would have entered them; writes
// the armed bit back into each. The recording limit stays as it is. `refused` learns the indexes
// of the points entered whose members the debug interface refused (no road can trace them).
void AddTracePoints(JNIEnv* env, jobjectArray points, std::vector<jsize>* refused);

// Called with the recording lock held: the first entry for the member `memberId` names; for a field event whose declaring class
// `fieldClass` is known, the first entry of that very field.
const TracePointEntry* FindTracePoint(JNIEnv* env, const void* memberId, jclass fieldClass);

// Without the recording lock, between BeginTableRead and EndTableRead (trace/table_readers): the
// entry FindTracePoint would find in the published table, and in `*table` that table (null when
// none is published, or the thread could not announce its read: then look under the lock). The
// entry stays readable until EndTableRead; it is the installed table's while, under the lock,
// PublishedTableCurrentLocked(*table) holds.
const TracePointEntry* FindPublishedTracePoint(JNIEnv* env, const void* memberId, jclass fieldClass,
                                               const void** table);
bool PublishedTableCurrentLocked(const void* table);

// Told as an activation or an addition ends, before it returns and outside the recording lock:
// `reset` when the entries before are all gone, then the method trace points (not static) that
// are now the first entries of their methods, with their classes (global references the table
// keeps until its next activation). In debug mode only; set once at start, null: nobody asks.
struct FirstMethodEntry {
    jmethodID method;
    jclass clazz;
};
extern void (*g_firstEntriesListener)(JNIEnv* env, const FirstMethodEntry* entries, size_t count, bool reset);

// Called by delivery each time it has emptied a bank (`banksDelivered` is the count after it),
// under the recording lock: trace point references retired by an activation are deleted once
// no undelivered record can still carry them.
void ReleaseRetiredTracePointsLocked(JNIEnv* env, uint32_t banksDelivered);

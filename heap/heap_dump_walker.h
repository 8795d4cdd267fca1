// Walking JVMPI level-2 heap dumps: class dump records request class loads (which build class
// descriptors and collect class names) and give each class its super class.
#pragma once

#include <atomic>
#include <cstdint>

struct HeapWalkState {
    std::atomic<bool> cancelRequested{false};  // set by another thread; tested before each record
    std::atomic<int32_t> progressDone{0};      // offset of the record about to be parsed
    std::atomic<int32_t> progressTotal{0};     // owned by the listing
    int32_t classDumpCount = 0;                // class records of the last handled dump
    int32_t classCountAtDump = 0;              // the class modification count after it
};

extern HeapWalkState g_heapWalk;

// JVMPI_EVENT_HEAP_DUMP: collects class names while walking the whole dump. Runs on the thread
// that requested the dump, inside the profiler's callback.
void HandleHeapDump(int level, const char* begin, const char* end);

// Walks `length` bytes from `start`, counting class dump records in `classCount`.
void WalkHeapDump(const char* start, int32_t length, int32_t* classCount);

// Parses the record at `record`, which must lie before `limit`. Returns where the next record
// starts, or null when the record runs past `limit`, is malformed, or names a class without a
// descriptor.
const char* ParseDumpRecord(const char* record, const char* limit, int32_t* classCount);

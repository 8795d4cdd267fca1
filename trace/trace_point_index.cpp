#include "trace/trace_point_index.h"

#include <cstring>

#include "platform/heap.h"

namespace {
uint32_t Hash(const void* memberId) {
    auto v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(memberId));
    v ^= v >> 33;
    v *= 0xff51afd7ed558ccdULL;
    v ^= v >> 33;
    return static_cast<uint32_t>(v);
}
}  // namespace

bool BuildTracePointIndex(const TracePointEntry* entries, int32_t count, TracePointIndex* out) {
    *out = TracePointIndex();
    if (count <= 0) return true;
    uint32_t size = 16;
    while (size < static_cast<uint32_t>(count) * 2) size <<= 1;
    auto* slots = static_cast<int32_t*>(MemAlloc(sizeof(int32_t) * size));
    auto* sameNext = static_cast<int32_t*>(MemAlloc(sizeof(int32_t) * static_cast<size_t>(count)));
    if (slots == nullptr || sameNext == nullptr) {
        MemFree(slots);
        MemFree(sameNext);
        return false;
    }
    std::memset(slots, 0, sizeof(int32_t) * size);
    std::memset(sameNext, 0, sizeof(int32_t) * static_cast<size_t>(count));
    const uint32_t mask = size - 1;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t s = Hash(entries[i].memberId) & mask;
        while (slots[s] != 0 && entries[slots[s] - 1].memberId != entries[i].memberId) s = (s + 1) & mask;
        if (slots[s] == 0) {
            slots[s] = i + 1;
            continue;
        }
        int32_t last = slots[s] - 1;  // append to the member's chain, keeping table order
        while (sameNext[last] != 0) last = sameNext[last] - 1;
        sameNext[last] = i + 1;
    }
    *out = {slots, sameNext, mask};
    return true;
}

void FreeTracePointIndex(TracePointIndex* index) {
    MemFree(index->slots);
    MemFree(index->sameNext);
    *index = TracePointIndex();
}

int32_t FirstEntryOf(const TracePointIndex& index, const TracePointEntry* entries, const void* memberId) {
    uint32_t s = Hash(memberId) & index.mask;
    while (index.slots[s] != 0) {
        const int32_t i = index.slots[s] - 1;
        if (entries[i].memberId == memberId) return i;
        s = (s + 1) & index.mask;
    }
    return -1;
}

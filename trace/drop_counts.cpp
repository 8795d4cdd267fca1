#include "trace/drop_counts.h"

#include <atomic>
#include <cstring>

#include "platform/heap.h"

namespace {
// Open addressing on the reference's address; a table of no entries until the first drop. A
// trace point a full table cannot take is counted under the null reference instead, which
// delivery reports without a trace point.
struct DropTable {
    DropCount* slots = nullptr;
    uint32_t capacity = 0;  // a power of two, or 0
    uint32_t used = 0;
    int64_t unattributed = 0;
};

DropTable g_drops;  // guarded by the recording lock
std::atomic<int64_t> g_droppedSinceStart{0};

uint32_t SlotFor(const DropCount* slots, uint32_t capacity, jobject ref) {
    uint32_t i = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(ref) >> 3) * 2654435761u) & (capacity - 1);
    while (slots[i].tracePointRef != nullptr && slots[i].tracePointRef != ref) i = (i + 1) & (capacity - 1);
    return i;
}

// Twice the room (or a first 64 places), the counts carried over; false without memory.
bool Grow(DropTable* t) {
    const uint32_t capacity = t->capacity == 0 ? 64 : t->capacity * 2;
    auto* slots = static_cast<DropCount*>(MemAlloc(sizeof(DropCount) * capacity));
    if (slots == nullptr) return false;
    std::memset(static_cast<void*>(slots), 0, sizeof(DropCount) * capacity);
    for (uint32_t i = 0; i < t->capacity; ++i) {
        if (t->slots[i].tracePointRef != nullptr) slots[SlotFor(slots, capacity, t->slots[i].tracePointRef)] = t->slots[i];
    }
    MemFree(t->slots);
    t->slots = slots;
    t->capacity = capacity;
    return true;
}
}  // namespace

void CountDropLocked(jobject tracePointRef, int64_t n) {
    g_droppedSinceStart.fetch_add(n, std::memory_order_relaxed);
    DropTable& t = g_drops;
    if (tracePointRef == nullptr) {
        t.unattributed += n;
        return;
    }
    if (t.capacity != 0) {
        DropCount& slot = t.slots[SlotFor(t.slots, t.capacity, tracePointRef)];
        if (slot.tracePointRef == tracePointRef) {
            slot.count += n;
            return;
        }
    }
    // A new trace point: at most half full, so that a search always ends.
    if ((t.used + 1) * 2 > t.capacity && !Grow(&t)) {
        t.unattributed += n;
        return;
    }
    DropCount& slot = t.slots[SlotFor(t.slots, t.capacity, tracePointRef)];
    slot = {tracePointRef, n};
    ++t.used;
}

void TakeDropsLocked(std::vector<DropCount>* taken) {
    DropTable& t = g_drops;
    if (t.used == 0 && t.unattributed == 0) return;
    for (uint32_t i = 0; i < t.capacity; ++i) {
        if (t.slots[i].tracePointRef != nullptr) taken->push_back(t.slots[i]);
    }
    if (t.unattributed != 0) taken->push_back({nullptr, t.unattributed});
    if (t.capacity != 0) std::memset(static_cast<void*>(t.slots), 0, sizeof(DropCount) * t.capacity);
    t.used = 0;
    t.unattributed = 0;
}

int64_t DroppedSinceStart() { return g_droppedSinceStart.load(std::memory_order_relaxed); }

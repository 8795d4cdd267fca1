#include "trace/table_readers.h"

#include <atomic>

#include "platform/os.h"

namespace {
constexpr int32_t kSlots = 256;

// A slot per reading thread, each on a line of its own: a hit writes its own slot twice.
struct alignas(kCacheLine) ReaderSlot {
    std::atomic<uint64_t> reading{0};  // the generation read now, 0: none
    std::atomic<bool> taken{false};
};

ReaderSlot g_slots[kSlots];
alignas(kCacheLine) std::atomic<uint64_t> g_generation{1};

// The calling thread's slot (index + 1), claimed at its first read and given back when the
// thread ends; -1: every slot was taken when the thread asked.
thread_local int16_t t_slot = 0;

int16_t Claim() {
    for (int16_t i = 0; i < kSlots; ++i) {
        bool free = false;
        if (!g_slots[i].taken.load(std::memory_order_relaxed) &&
            g_slots[i].taken.compare_exchange_strong(free, true, std::memory_order_acq_rel)) {
            return static_cast<int16_t>(i + 1);
        }
    }
    return -1;
}
}  // namespace

uint64_t BeginTableRead() {
    if (t_slot == 0) t_slot = Claim();
    if (t_slot < 0) return 0;
    ReaderSlot& mine = g_slots[t_slot - 1];
    // Announced before the table is loaded, and confirmed: a generation that ended in between
    // is announced again, so a reclaimer that saw it end and scans after sees this slot.
    uint64_t generation = g_generation.load(std::memory_order_seq_cst);
    for (;;) {
        mine.reading.store(generation, std::memory_order_seq_cst);
        const uint64_t now = g_generation.load(std::memory_order_seq_cst);
        if (now == generation) return generation;
        generation = now;
    }
}

void EndTableRead() {
    if (t_slot > 0) g_slots[t_slot - 1].reading.store(0, std::memory_order_release);
}

void ReleaseTableReadSlot() {
    if (t_slot > 0) {
        g_slots[t_slot - 1].reading.store(0, std::memory_order_release);
        g_slots[t_slot - 1].taken.store(false, std::memory_order_release);
    }
    t_slot = 0;
}

uint64_t EndTableGenerationLocked() { return g_generation.fetch_add(1, std::memory_order_seq_cst); }

bool TableGenerationUnread(uint64_t generation) {
    for (const ReaderSlot& slot : g_slots) {
        const uint64_t reading = slot.reading.load(std::memory_order_seq_cst);
        if (reading != 0 && reading <= generation) return false;
    }
    return true;
}

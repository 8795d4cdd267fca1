#include "platform/heap.h"

#include <atomic>
#include <cstdlib>

namespace {
// Countdown to the allocation that fails; 0 when no failure is armed.
std::atomic<unsigned long> g_failCountdown{0};

bool ThisAllocationFails() {
    unsigned long n = g_failCountdown.load(std::memory_order_relaxed);
    while (n != 0) {
        if (g_failCountdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
            return n == 1;
        }
    }
    return false;
}
}  // namespace

void* MemAlloc(size_t bytes) {
    if (ThisAllocationFails()) return nullptr;
    return std::malloc(bytes);
}

void MemFree(void* block) { std::free(block); }

void MemFailAfter(unsigned long n) { g_failCountdown.store(n, std::memory_order_relaxed); }

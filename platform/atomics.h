// The few lock-free primitives the agent uses, with their memory orders stated once here.
//
// Publishing (a directory table, a leaf cell, a class descriptor) is a compare-exchange from the
// empty value with acq_rel order, so a reader that loads the published value with acquire order
// sees the fully initialised object behind it.  Readers on hot paths use acquire loads, which are
// plain loads on x86 and cost nothing extra.
#pragma once

#include <atomic>

// Installs `desired` into `cell` if it still holds `expected`. Returns the value the cell held
// before the call (equal to `expected` on success), like the Win32 interlocked exchange.
template <typename T>
inline T CompareExchange(std::atomic<T>& cell, T desired, T expected) {
    cell.compare_exchange_strong(expected, desired, std::memory_order_acq_rel,
                                 std::memory_order_acquire);
    return expected;
}

template <typename T>
inline T LoadAcquire(const std::atomic<T>& cell) {
    return cell.load(std::memory_order_acquire);
}

template <typename T>
inline void StoreRelease(std::atomic<T>& cell, T value) {
    cell.store(value, std::memory_order_release);
}

// For flags read by any thread without a lock where no other data hangs on the flag.
template <typename T>
inline T LoadRelaxed(const std::atomic<T>& cell) {
    return cell.load(std::memory_order_relaxed);
}

template <typename T>
inline void StoreRelaxed(std::atomic<T>& cell, T value) {
    cell.store(value, std::memory_order_relaxed);
}

// A cheap clock for timing calls: the processor's time-stamp counter where it runs at a constant
// rate whatever the core's state (an invariant TSC, which CPUID says), else the monotonic clock.
// Its ticks become nanoseconds by a factor measured against the monotonic clock.
#pragma once

#include <cstdint>

#include "platform/os.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#define VEXO_HAS_TSC 1
#else
#define VEXO_HAS_TSC 0
#endif

// Whether the time-stamp counter is invariant (asked once; false off x86).
inline bool OsTscInvariant() {
#if VEXO_HAS_TSC
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) < 0x80000007u) return false;
    __cpuid(0x80000007u, eax, ebx, ecx, edx);
    return (edx & (1u << 8)) != 0;
#else
    return false;
#endif
}

// The counter's ticks when `tsc`, else the monotonic clock's nanoseconds.
inline uint64_t OsFastTicks(bool tsc) {
#if VEXO_HAS_TSC
    if (tsc) return __rdtsc();
#else
    (void)tsc;
#endif
    return static_cast<uint64_t>(OsMonotonicNanos());
}

#include "trace/call_timing.h"

#include <atomic>
#include <cstring>
#include <new>
#include <unordered_map>

#include "platform/fast_clock.h"
#include "platform/heap.h"
#include "platform/os.h"
#include "trace/own_work.h"

namespace {
// A counter its thread alone writes and a reader reads meanwhile: relaxed loads and stores, which
// are plain moves, never a locked instruction.
struct Counter {
    std::atomic<uint64_t> v{0};
    void Add(uint64_t d) { v.store(v.load(std::memory_order_relaxed) + d, std::memory_order_relaxed); }
    uint64_t Get() const { return v.load(std::memory_order_relaxed); }
};

// One probe's counters on one thread. The shortest and longest duration are exchanged by the
// reader (a call that ends just then may give its duration to the interval after its count's).
struct TimedSlot {
    Counter calls, thrown, totalNs, untimed;
    std::atomic<uint64_t> minNs{UINT64_MAX}, maxNs{0};
    Counter histogram[kTimingBuckets];
    // The reader's: what it took of the counters so far.
    uint64_t seen[kTimingColumns] = {};
};

constexpr int32_t kSlotsPerPage = 64;
constexpr int32_t kPages = kMaxTimedProbes / kSlotsPerPage;

struct OpenTimedCall {
    int32_t id;
    uint64_t start;  // ticks
};

struct ThreadTiming {
    std::atomic<TimedSlot*> pages[kPages];
    OpenTimedCall open[kMaxOpenTimedCalls];
    int32_t depth = 0;
    int32_t beyond = 0;  // calls open above the stack's room (their exits come first)
    ThreadTiming* prev = nullptr;  // the live threads' list, under the lock
    ThreadTiming* next = nullptr;
};

thread_local ThreadTiming* t_timing = nullptr;
thread_local bool t_timingRefused = false;  // no memory for this thread's counters

// The clock: ticks of the time-stamp counter (or nanoseconds), and the factor from ticks to
// nanoseconds in 32.32 fixed point, measured against the monotonic clock from a base.
struct Clock {
    bool tsc = false;
    std::atomic<uint64_t> nanosPerTick{uint64_t{1} << 32};
    uint64_t baseTicks = 0;
    int64_t baseNanos = 0;
    std::atomic<bool> prepared{false};
};
Clock g_clock;

OsLock* TimingLock() {
    static OsLock lock;
    static const bool ready = OsLockInit(&lock);
    (void)ready;
    return &lock;
}

// Under the lock:
ThreadTiming* g_threads = nullptr;
std::unordered_map<jmethodID, TimingRow>* g_ended = nullptr;  // unread counts of ended threads
std::unordered_map<jmethodID, jobject>* g_points = nullptr;   // global references
std::atomic<uint64_t> g_unattributed{0};
std::atomic<jmethodID> g_probeMethods[kMaxTimedProbes];

uint64_t TicksToNanos(uint64_t ticks) {
    const uint64_t f = g_clock.nanosPerTick.load(std::memory_order_relaxed);
    // (ticks * f) >> 32 without a 128-bit product
    return (ticks >> 32) * f + (((ticks & 0xffffffffu) * f) >> 32);
}

int BucketOf(uint64_t ns) {
    int b = 0;
    while (ns > 1 && b < kTimingBuckets - 1) {
        ns >>= 1;
        ++b;
    }
    return b;
}

// The factor from the ticks since the base; the longer the base, the closer.
void Recalibrate() {
    if (!g_clock.tsc) return;
    const uint64_t ticks = OsFastTicks(true) - g_clock.baseTicks;
    const int64_t nanos = OsMonotonicNanos() - g_clock.baseNanos;
    if (ticks == 0 || nanos <= 0) return;
    const uint64_t f = static_cast<uint64_t>((static_cast<long double>(nanos) * 4294967296.0L) / ticks);
    if (f != 0) g_clock.nanosPerTick.store(f, std::memory_order_relaxed);
}

ThreadTiming* MakeThreadTiming() {
    void* block = MemAlloc(sizeof(ThreadTiming));
    if (block == nullptr) {
        t_timingRefused = true;
        return nullptr;
    }
    auto* t = new (block) ThreadTiming();
    for (auto& page : t->pages) page.store(nullptr, std::memory_order_relaxed);
    OsLockGuard held(TimingLock());
    t->next = g_threads;
    if (g_threads != nullptr) g_threads->prev = t;
    g_threads = t;
    t_timing = t;
    return t;
}

TimedSlot* SlotOf(ThreadTiming* t, int32_t id) {
    std::atomic<TimedSlot*>& page = t->pages[id / kSlotsPerPage];
    TimedSlot* slots = page.load(std::memory_order_relaxed);
    if (slots == nullptr) {
        void* block = MemAlloc(sizeof(TimedSlot) * kSlotsPerPage);
        if (block == nullptr) return nullptr;
        slots = static_cast<TimedSlot*>(block);
        for (int32_t i = 0; i < kSlotsPerPage; ++i) new (&slots[i]) TimedSlot();
        page.store(slots, std::memory_order_release);  // the reader may walk it from now on
    }
    return &slots[id % kSlotsPerPage];
}

void Count(int32_t id, bool thrown, bool timed, uint64_t ns) {
    ThreadTiming* t = t_timing;
    TimedSlot* slot = t == nullptr ? nullptr : SlotOf(t, id);
    if (slot == nullptr) {
        g_unattributed.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    slot->calls.Add(1);
    if (thrown) slot->thrown.Add(1);
    if (!timed) {
        slot->untimed.Add(1);
        return;
    }
    slot->totalNs.Add(ns);
    if (ns < slot->minNs.load(std::memory_order_relaxed)) slot->minNs.store(ns, std::memory_order_relaxed);
    if (ns > slot->maxNs.load(std::memory_order_relaxed)) slot->maxNs.store(ns, std::memory_order_relaxed);
    slot->histogram[BucketOf(ns)].Add(1);
}

void MergeInto(TimingRow* into, const TimingRow& from) {
    for (int c = 0; c < kTimingColumns; ++c) {
        if (c == kTimedMinNs) {
            if (from.columns[c] < into->columns[c]) into->columns[c] = from.columns[c];
        } else if (c == kTimedMaxNs) {
            if (from.columns[c] > into->columns[c]) into->columns[c] = from.columns[c];
        } else {
            into->columns[c] += from.columns[c];
        }
    }
}

// What `slot` counted since the reader's last look. Under the lock.
TimingRow TakeSlot(TimedSlot* slot, jmethodID method) {
    TimingRow row;
    row.method = method;
    uint64_t now[kTimingColumns] = {};
    now[kTimedCalls] = slot->calls.Get();
    now[kTimedThrown] = slot->thrown.Get();
    now[kTimedTotalNs] = slot->totalNs.Get();
    now[kTimedUntimed] = slot->untimed.Get();
    for (int b = 0; b < kTimingBuckets; ++b) now[kTimingHistogram + b] = slot->histogram[b].Get();
    for (int c = 0; c < kTimingColumns; ++c) {
        if (c == kTimedMinNs || c == kTimedMaxNs) continue;
        row.columns[c] = now[c] - slot->seen[c];
        slot->seen[c] = now[c];
    }
    row.columns[kTimedMinNs] = slot->minNs.exchange(UINT64_MAX, std::memory_order_relaxed);
    row.columns[kTimedMaxNs] = slot->maxNs.exchange(0, std::memory_order_relaxed);
    return row;
}

// Each slot of `t` with counts since the last look, to `visit`. Under the lock.
template <typename Visit>
void TakeThread(ThreadTiming* t, Visit visit) {
    for (int32_t p = 0; p < kPages; ++p) {
        TimedSlot* slots = t->pages[p].load(std::memory_order_acquire);
        for (int32_t i = 0; slots != nullptr && i < kSlotsPerPage; ++i) {
            const jmethodID method = g_probeMethods[p * kSlotsPerPage + i].load(std::memory_order_acquire);
            if (method == nullptr || slots[i].calls.Get() == slots[i].seen[kTimedCalls]) continue;
            visit(TakeSlot(&slots[i], method));
        }
    }
}

TimingRow EmptyRow(jmethodID method) {
    TimingRow row;
    row.method = method;
    row.columns[kTimedMinNs] = UINT64_MAX;
    return row;
}
}  // namespace

void PrepareCallTiming() {
    OsLockGuard held(TimingLock());
    if (g_clock.prepared.load(std::memory_order_relaxed)) return;
    g_clock.tsc = OsTscInvariant();
    g_clock.baseTicks = OsFastTicks(g_clock.tsc);
    g_clock.baseNanos = OsMonotonicNanos();
    if (g_clock.tsc) {
        // A first factor over 2 ms; each take refines it over the time since.
        while (OsMonotonicNanos() - g_clock.baseNanos < 2000000) {
        }
        Recalibrate();
    }
    g_clock.prepared.store(true, std::memory_order_release);
}

bool TimedCallEnter(int32_t id) {
    if (InOwnWork() || id < 0 || id >= kMaxTimedProbes) return false;
    ThreadTiming* t = t_timing;
    if (t == nullptr && (t_timingRefused || (t = MakeThreadTiming()) == nullptr)) {
        g_unattributed.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (t->depth == kMaxOpenTimedCalls) {
        ++t->beyond;
        return false;
    }
    t->open[t->depth++] = {id, OsFastTicks(g_clock.tsc)};
    return true;
}

uint64_t TimedCallEnd(int32_t id, bool thrown, uint64_t minNanos, bool countAll) {
    const uint64_t end = OsFastTicks(g_clock.tsc);
    ThreadTiming* t = t_timing;
    if (t == nullptr || InOwnWork() || id < 0 || id >= kMaxTimedProbes) return kNotTimed;
    if (t->beyond > 0) {  // the innermost call is one the stack had no room for
        --t->beyond;
        Count(id, thrown, false, 0);
        return kNotTimed;
    }
    // Calls above this one whose exits were never seen (a constructor left by its super call's
    // exception) are given up; a call entered before its probe was armed has no entry here.
    int32_t at = t->depth;
    while (at > 0 && t->open[at - 1].id != id) --at;
    if (at == 0) return kNotTimed;
    const uint64_t start = t->open[at - 1].start;
    t->depth = at - 1;
    // Counters of two processors may differ by a little: an end before its start is 0 ns.
    const uint64_t ns = end > start ? TicksToNanos(end - start) : 0;
    if (countAll || ns < minNanos) Count(id, thrown, true, ns);
    return ns;
}

void TimedCallExit(int32_t id, bool thrown) { TimedCallEnd(id, thrown, 0, true); }

void TakeTimingTable(std::vector<TimingRow>* rows, uint64_t* unattributed) {
    rows->clear();
    std::unordered_map<jmethodID, TimingRow> merged;
    auto add = [&](const TimingRow& row) {
        auto found = merged.find(row.method);
        if (found == merged.end()) found = merged.emplace(row.method, EmptyRow(row.method)).first;
        MergeInto(&found->second, row);
    };
    {
        OsLockGuard held(TimingLock());
        Recalibrate();
        for (ThreadTiming* t = g_threads; t != nullptr; t = t->next) TakeThread(t, add);
        if (g_ended != nullptr) {
            for (const auto& e : *g_ended) add(e.second);
            g_ended->clear();
        }
    }
    rows->reserve(merged.size());
    for (const auto& e : merged) rows->push_back(e.second);
    *unattributed = g_unattributed.exchange(0, std::memory_order_relaxed);
}

void RetireThreadTiming() {
    ThreadTiming* t = t_timing;
    if (t == nullptr) return;
    t_timing = nullptr;
    OsLockGuard held(TimingLock());
    if (g_ended == nullptr) g_ended = new (std::nothrow) std::unordered_map<jmethodID, TimingRow>();
    TakeThread(t, [&](const TimingRow& row) {
        if (g_ended == nullptr) {
            g_unattributed.fetch_add(row.columns[kTimedCalls], std::memory_order_relaxed);
            return;
        }
        auto found = g_ended->find(row.method);
        if (found == g_ended->end()) found = g_ended->emplace(row.method, EmptyRow(row.method)).first;
        MergeInto(&found->second, row);
    });
    if (t->prev != nullptr) t->prev->next = t->next;
    else g_threads = t->next;
    if (t->next != nullptr) t->next->prev = t->prev;
    for (auto& page : t->pages) {
        TimedSlot* slots = page.load(std::memory_order_relaxed);
        if (slots != nullptr) MemFree(slots);
    }
    t->~ThreadTiming();
    MemFree(t);
}

void NoteTimedProbe(int32_t id, jmethodID method) {
    if (id >= 0 && id < kMaxTimedProbes) g_probeMethods[id].store(method, std::memory_order_release);
}

void NoteTimedTracePoint(JNIEnv* env, jmethodID method, jobject tracePoint) {
    jobject ref = env->NewGlobalRef(tracePoint);
    if (ref == nullptr) return;
    jobject old = nullptr;
    {
        OsLockGuard held(TimingLock());
        if (g_points == nullptr) g_points = new (std::nothrow) std::unordered_map<jmethodID, jobject>();
        if (g_points == nullptr) {
            old = ref;
        } else {
            jobject& slot = (*g_points)[method];
            old = slot;
            slot = ref;
        }
    }
    if (old != nullptr) env->DeleteGlobalRef(old);
}

jobject TimedTracePointOf(JNIEnv* env, jmethodID method) {
    OsLockGuard held(TimingLock());
    if (g_points == nullptr) return nullptr;
    const auto found = g_points->find(method);
    return found == g_points->end() ? nullptr : env->NewLocalRef(found->second);
}

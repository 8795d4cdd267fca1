// The object table against the obvious alternative (an unordered_map behind a mutex) and against
// the floor for a lookup (a bare three-level array walk with no table logic).
//
//   build/bench/object_table_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

#include "core/sync.h"
#include "registry/object_table.h"

namespace {
constexpr uint32_t kPrefilled = 1 << 20;  // live objects before the measurements
constexpr size_t kProbeCount = 1 << 16;   // ids per lookup sweep

// Ids of live objects spread like a heap's addresses: 8-byte steps from a base.
uint32_t LiveId(uint32_t n) { return 0x10000000u + n * 8; }
uint32_t AbsentId(uint32_t n) { return LiveId(n) + 4; }  // same leaf tables, empty cells

// Probes over the first `range` live objects: a small range stays in the caches, the whole
// table does not.
std::vector<uint32_t> Probes(uint32_t (*id)(uint32_t), uint32_t range) {
    std::mt19937 random(42);
    std::uniform_int_distribution<uint32_t> any(0, range - 1);
    std::vector<uint32_t> probes(kProbeCount);
    for (auto& p : probes) p = id(any(random));
    return probes;
}

// --- the object table ---------------------------------------------------------------------

void PrefillTable() {
    static const bool done = [] {
        InitSyncObjects();
        for (uint32_t n = 0; n < kPrefilled; ++n) InsertObject(LiveId(n), 0, 0);
        return true;
    }();
    (void)done;
}

// Lookups are chained: the next probe depends on the last result, so each measures the latency
// of one lookup (as the recorder sees it), not the overlap of many independent ones.
void LookupSweep(benchmark::State& state, const std::vector<uint32_t>& probes) {
    PrefillTable();
    size_t i = 0;
    for (auto _ : state) {
        const SlotHandle h = LookupObject(probes[i & (kProbeCount - 1)]);
        benchmark::DoNotOptimize(h);
        i += 1 + (static_cast<uint32_t>(h) >> 31);
    }
}

void BM_Table_LookupHit(benchmark::State& state) {
    const auto probes = Probes(LiveId, static_cast<uint32_t>(state.range(0)));
    LookupSweep(state, probes);
}

void BM_Table_LookupMiss(benchmark::State& state) {
    const auto probes = Probes(AbsentId, static_cast<uint32_t>(state.range(0)));
    LookupSweep(state, probes);
}

// Each thread works on ids of its own, so the threads contend only for the slot lock.
uint32_t ThreadBase(const benchmark::State& state) {
    return 0x80000000u + static_cast<uint32_t>(state.thread_index()) * 0x01000000u;
}

void BM_Table_InsertRelease(benchmark::State& state) {
    PrefillTable();
    const uint32_t base = ThreadBase(state);
    uint32_t n = 0;
    for (auto _ : state) {
        const uint32_t id = base + (n++ & 0xffff) * 8;
        benchmark::DoNotOptimize(InsertObject(id, 0, 0));
        ReleaseObject(id);
    }
}

void BM_Table_Move(benchmark::State& state) {
    PrefillTable();
    const uint32_t base = ThreadBase(state);
    for (uint32_t k = 0; k < 1024; ++k) InsertObject(base + k * 16, 0, 0);
    uint32_t n = 0;
    for (auto _ : state) {
        // Move back and forth between two ids, as a collector moving an object twice.
        const uint32_t k = n++ & 1023;
        const uint32_t from = base + k * 16 + ((n >> 10) & 1) * 8;
        MoveObject(from, from ^ 8);
    }
    for (uint32_t k = 0; k < 1024; ++k) {
        ReleaseObject(base + k * 16);
        ReleaseObject(base + k * 16 + 8);
    }
}

// --- the mutex-guarded map ----------------------------------------------------------------

struct LockedMap {
    std::mutex mutex;  // guards map and next
    std::unordered_map<uint32_t, int32_t> map;
    int32_t next = 1;
};

LockedMap& PrefilledMap() {
    static LockedMap* m = [] {
        auto* fresh = new LockedMap;
        fresh->map.reserve(kPrefilled * 2);
        for (uint32_t n = 0; n < kPrefilled; ++n) fresh->map.emplace(LiveId(n), fresh->next++);
        return fresh;
    }();
    return *m;
}

int32_t MapLookup(LockedMap& m, uint32_t id) {
    std::lock_guard<std::mutex> hold(m.mutex);
    auto it = m.map.find(id);
    return it == m.map.end() ? 0 : it->second;
}

void MapSweep(benchmark::State& state, const std::vector<uint32_t>& probes) {
    LockedMap& m = PrefilledMap();
    size_t i = 0;
    for (auto _ : state) {
        const int32_t h = MapLookup(m, probes[i & (kProbeCount - 1)]);
        benchmark::DoNotOptimize(h);
        i += 1 + (static_cast<uint32_t>(h) >> 31);
    }
}

void BM_Map_LookupHit(benchmark::State& state) {
    const auto probes = Probes(LiveId, static_cast<uint32_t>(state.range(0)));
    MapSweep(state, probes);
}

void BM_Map_LookupMiss(benchmark::State& state) {
    const auto probes = Probes(AbsentId, static_cast<uint32_t>(state.range(0)));
    MapSweep(state, probes);
}

void BM_Map_InsertRelease(benchmark::State& state) {
    LockedMap& m = PrefilledMap();
    const uint32_t base = ThreadBase(state);
    uint32_t n = 0;
    for (auto _ : state) {
        const uint32_t id = base + (n++ & 0xffff) * 8;
        {
            std::lock_guard<std::mutex> hold(m.mutex);
            benchmark::DoNotOptimize(m.map.emplace(id, m.next++).first->second);
        }
        std::lock_guard<std::mutex> hold(m.mutex);
        m.map.erase(id);
    }
}

void BM_Map_Move(benchmark::State& state) {
    LockedMap& m = PrefilledMap();
    const uint32_t base = ThreadBase(state);
    {
        std::lock_guard<std::mutex> hold(m.mutex);
        for (uint32_t k = 0; k < 1024; ++k) m.map.emplace(base + k * 16, m.next++);
    }
    uint32_t n = 0;
    for (auto _ : state) {
        const uint32_t k = n++ & 1023;
        const uint32_t from = base + k * 16 + ((n >> 10) & 1) * 8;
        std::lock_guard<std::mutex> hold(m.mutex);
        auto it = m.map.find(from);
        if (it == m.map.end()) continue;
        const int32_t handle = it->second;
        m.map.erase(it);
        m.map.emplace(from ^ 8, handle);
    }
    std::lock_guard<std::mutex> hold(m.mutex);
    for (uint32_t k = 0; k < 1024; ++k) {
        m.map.erase(base + k * 16);
        m.map.erase(base + k * 16 + 8);
    }
}

// --- the floor: a bare three-level walk over the same shape -------------------------------

struct BareDirectory {
    int32_t** middles[1024] = {};
};

BareDirectory& PrefilledBare() {
    static BareDirectory* d = [] {
        auto* fresh = new BareDirectory;
        for (uint32_t n = 0; n < kPrefilled; ++n) {
            const uint32_t id = LiveId(n);
            int32_t**& middle = fresh->middles[id >> 22];
            if (middle == nullptr) middle = new int32_t*[1024]();
            int32_t*& leaf = middle[(id >> 12) & 0x3ff];
            if (leaf == nullptr) leaf = new int32_t[4096]();
            leaf[id & 0xfff] = static_cast<int32_t>(n + 1);
        }
        return fresh;
    }();
    return *d;
}

void BM_BareWalk_LookupHit(benchmark::State& state) {
    const auto probes = Probes(LiveId, static_cast<uint32_t>(state.range(0)));
    BareDirectory& d = PrefilledBare();
    size_t i = 0;
    for (auto _ : state) {
        const uint32_t id = probes[i & (kProbeCount - 1)];
        int32_t handle = d.middles[id >> 22][(id >> 12) & 0x3ff][id & 0xfff];
        benchmark::DoNotOptimize(handle);
        i += 1 + (static_cast<uint32_t>(handle) >> 31);
    }
}
}  // namespace

// Argument: how many live objects the probes range over (cache-resident, then the whole table).
BENCHMARK(BM_BareWalk_LookupHit)->Arg(4096)->Arg(kPrefilled);
BENCHMARK(BM_Table_LookupHit)->Arg(4096)->Arg(kPrefilled);
BENCHMARK(BM_Table_LookupMiss)->Arg(4096)->Arg(kPrefilled);
BENCHMARK(BM_Map_LookupHit)->Arg(4096)->Arg(kPrefilled);
BENCHMARK(BM_Map_LookupMiss)->Arg(4096)->Arg(kPrefilled);
BENCHMARK(BM_Table_InsertRelease)->Threads(1)->Threads(2);
BENCHMARK(BM_Map_InsertRelease)->Threads(1)->Threads(2);
BENCHMARK(BM_Table_Move)->Threads(1)->Threads(2);
BENCHMARK(BM_Map_Move)->Threads(1)->Threads(2);

BENCHMARK_MAIN();

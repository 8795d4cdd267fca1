#include "instrument/armed_members.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<jmethodID> g_armed[kMaxProbes];
std::atomic<uint8_t> g_live[kMaxFields];  // bit 0: access armed, bit 1: modification armed
ArmedFieldSite g_sites[kMaxFields];       // written once before the first live bit
std::atomic<jmethodID>* g_profilerMethods = nullptr;  // by offset from kProfilerEntryIdBase
std::atomic<bool> g_profilerEntriesOn{false};
}  // namespace

jmethodID ArmedProbeMethod(jint id) {
    if (id < 0 || id >= kMaxProbes) return nullptr;
    return g_armed[id].load(std::memory_order_acquire);
}

void SetArmedProbe(jint id, jmethodID method) {
    if (id >= 0 && id < kMaxProbes) g_armed[id].store(method, std::memory_order_release);
}

jint ArmedProbesOf(jmethodID method, jint* first) {
    jint count = 0;
    for (jint id = kMaxProbes - 1; id >= 0; --id) {
        if (g_armed[id].load(std::memory_order_acquire) != method) continue;
        *first = id;
        ++count;
    }
    return count;
}

bool ArmedFieldOf(jint id, bool write, ArmedFieldSite* out) {
    if (id < 0 || id >= kMaxFields) return false;
    const uint8_t bits = g_live[id].load(std::memory_order_acquire);
    if (!(bits & (write ? 2 : 1))) return false;
    *out = g_sites[id];
    return true;
}

void SetArmedFieldSite(jint id, const ArmedFieldSite& site) {
    if (id >= 0 && id < kMaxFields) g_sites[id] = site;
}

void SetArmedFieldBits(jint id, uint8_t bits) {
    if (id >= 0 && id < kMaxFields) g_live[id].store(bits, std::memory_order_release);
}

bool ReserveProfilerEntryMethods() {
    if (g_profilerMethods == nullptr) {
        g_profilerMethods = static_cast<std::atomic<jmethodID>*>(
            std::calloc(kMaxProfilerEntries, sizeof(std::atomic<jmethodID>)));
    }
    return g_profilerMethods != nullptr;
}

jmethodID ProfilerEntryMethod(jint id) {
    const jint offset = id - kProfilerEntryIdBase;
    if (offset < 0 || offset >= kMaxProfilerEntries || g_profilerMethods == nullptr) return nullptr;
    return g_profilerMethods[offset].load(std::memory_order_acquire);
}

void SetProfilerEntryMethod(jint id, jmethodID method) {
    const jint offset = id - kProfilerEntryIdBase;
    if (offset < 0 || offset >= kMaxProfilerEntries || g_profilerMethods == nullptr) return;
    g_profilerMethods[offset].store(method, std::memory_order_release);
}

bool ProfilerEntriesOn() { return g_profilerEntriesOn.load(std::memory_order_acquire); }

void SetProfilerEntriesOn(bool on) { g_profilerEntriesOn.store(on, std::memory_order_release); }

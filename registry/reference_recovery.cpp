#include "registry/reference_recovery.h"

#include <cstring>

#include "core/agent_state.h"
#include "platform/export.h"
#include "platform/os.h"

namespace {
constexpr int kWindowWords = 1000;

struct Recovery {
    jobjectID recoveringId;     // 0 when no recovery is in progress
    uintptr_t recoveredRef;     // the last scan's result, 0 when none
    int cachedWindowIndex = -1; // where the last reference was found in the window
    OsRegionInfo cachedRegion;  // the region of the last accepted candidate
};

Recovery g_recovery;

bool Inside(uintptr_t address, const OsRegionInfo& region) {
    return address >= region.base && address - region.base < region.size;
}

// The region test, plus room for the whole 32-bit word inside the region.
bool Scannable(uintptr_t address, const OsRegionInfo& region) {
    return region.committed && region.readable && Inside(address, region) &&
           region.base + region.size - address >= sizeof(uint32_t);
}

VEXO_RAW_MEMORY_ACCESS bool HoldsId(uintptr_t address, jobjectID id) {
    uint32_t word;
    std::memcpy(&word, reinterpret_cast<const void*>(address), sizeof word);
    return word == id;
}

// First try: the window position that held the reference last time.
VEXO_RAW_MEMORY_ACCESS bool FastPath(const uintptr_t* window, int words, jobjectID id) {
    if (g_recovery.cachedWindowIndex < 0 || g_recovery.cachedWindowIndex >= words) return false;
    const uintptr_t w = window[g_recovery.cachedWindowIndex];
    if (!Inside(w, g_recovery.cachedRegion)) {
        OsRegionInfo region;
        if (!OsQueryRegion(reinterpret_cast<const void*>(w), &region) || !Scannable(w, region)) {
            return false;
        }
        g_recovery.cachedRegion = region;
    }
    if (!Scannable(w, g_recovery.cachedRegion) || !HoldsId(w, id)) return false;
    g_recovery.recoveredRef = w;
    return true;
}

// Else: the whole window, nearest frame first.
VEXO_RAW_MEMORY_ACCESS void FullScan(const uintptr_t* window, int words, jobjectID id) {
    OsRegionInfo last;  // the last region queried: a word inside it needs no new query
    bool haveLast = false;
    for (int i = 0; i < words; ++i) {
        const uintptr_t w = window[i];
        if (w < kUserAddressLow || w >= kUserAddressEnd) continue;
        if (!haveLast || !Inside(w, last)) {
            haveLast = OsQueryRegion(reinterpret_cast<const void*>(w), &last);
            if (!haveLast) continue;
        }
        if (!Scannable(w, last) || !HoldsId(w, id)) continue;
        g_recovery.cachedWindowIndex = i;
        g_recovery.recoveredRef = w;
        g_recovery.cachedRegion = last;
        return;
    }
}
}  // namespace

jobjectID ObjectIdOfRef(jobject ref) {
    JVMPI_Interface* jvmpi = g_agent.jvmpi;
    if (jvmpi == nullptr) return 0;
    if (g_agent.jvmpiVersion == 11) return jvmpi->jobject2jobjectID(ref);
    if (ref == nullptr) return 0;
    uintptr_t cell;
    std::memcpy(&cell, ref, sizeof cell);
    if (cell == 0) return 0;
    uint32_t id;
    std::memcpy(&id, reinterpret_cast<const void*>(cell), sizeof id);
    return id;
}

uintptr_t RecoverObjectRef(jobjectID id) {
    JVMPI_Interface* jvmpi = g_agent.jvmpi;
    if (jvmpi == nullptr) return 0;
    g_recovery.recoveredRef = 0;
    g_recovery.recoveringId = id;
    jvmpi->RequestEvent(JVMPI_EVENT_OBJECT_ALLOC, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
    const uintptr_t found = g_recovery.recoveredRef;
    g_recovery.recoveringId = 0;
    return found;
}

jobjectID RecoveringId() { return g_recovery.recoveringId; }

__attribute__((noinline)) void FindRefOnStack(jobjectID id, const void* eventEnd) {
    // The window starts at this function's return-address word and runs toward older frames;
    // the end-of-event address is kept in this frame so the scan sees it as a candidate too.
    const void* volatile keptEventEnd = eventEnd;
    (void)keptEventEnd;
    const auto* window = static_cast<const uintptr_t*>(__builtin_frame_address(0)) + 1;
    // A shallow stack may end before 1000 words: the window stops at the stack's own end.
    int words = kWindowWords;
    OsRegionInfo stack;
    if (OsQueryRegion(window, &stack)) {
        const uintptr_t room = (stack.base + stack.size - reinterpret_cast<uintptr_t>(window)) /
                               sizeof(uintptr_t);
        if (room < static_cast<uintptr_t>(words)) words = static_cast<int>(room);
    }
    if (!FastPath(window, words, id)) FullScan(window, words, id);
}

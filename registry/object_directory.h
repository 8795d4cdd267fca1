// The object table's directory: a three-level radix tree over the 32 bits of an object id.
// Each table is installed once, by compare-exchange from null, and never freed; a leaf cell
// changes only by compare-exchange, from 0 to a handle or from a handle to 0.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/atomics.h"
#include "platform/jvmpi.h"

using SlotHandle = int32_t;

struct LeafTable {
    std::atomic<SlotHandle> cells[4096];  // by bits 0-11 of the id; 0 means absent
};
struct MiddleTable {
    std::atomic<LeafTable*> cells[1024];  // by bits 12-21
};
struct TopTable {
    std::atomic<MiddleTable*> cells[1024];  // by bits 22-31
};

extern std::atomic<TopTable*> g_objectDirectory;

inline unsigned TopIndex(jobjectID id) { return id >> 22; }
inline unsigned MiddleIndex(jobjectID id) { return (id >> 12) & 0x3ff; }
inline unsigned LeafIndex(jobjectID id) { return id & 0xfff; }

// The leaf cell of `id`, or null when the directory has no leaf table for it. Creates nothing.
inline std::atomic<SlotHandle>* LeafCell(jobjectID id) {
    TopTable* top = LoadAcquire(g_objectDirectory);
    if (top == nullptr) return nullptr;
    MiddleTable* middle = LoadAcquire(top->cells[TopIndex(id)]);
    if (middle == nullptr) return nullptr;
    LeafTable* leaf = LoadAcquire(middle->cells[MiddleIndex(id)]);
    if (leaf == nullptr) return nullptr;
    return &leaf->cells[LeafIndex(id)];
}

// The object table: profiler object identifiers mapped to stable slot handles.
//
// A slot handle names a fixed record (an ObjectSlot) that keeps its handle for the life of the
// object while the object's profiler identifier changes with every move. The directory from
// identifiers to handles is a three-level radix tree that is extended and changed without a
// lock; only the slot store's free list and block creation take the slot lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/jvmpi.h"
#include "registry/object_directory.h"

struct ClassDescriptor;

// SlotHandle: block number in bits 16-31, slot index in bits 0-15. 0 means none; -1 ends the
// free list.

constexpr int kSlotsPerBlock = 0xffff;
constexpr int kBlockCapacity = 256;
constexpr SlotHandle kEndOfFreeList = -1;

// Five words. The fields are atomics only so that holders of a handle may read them without the
// lock while their owner changes them; every access is relaxed, and a slot's contents become
// visible to other threads through the directory cell that publishes its handle.
struct ObjectSlot {
    // In use: the object's current identifier. Free: the handle of the next free slot.
    std::atomic<int32_t> objectId;
    // Handle of the slot of the object's class object; 0 when the class has none.
    std::atomic<SlotHandle> classHandle;
    int32_t reserved1;
    int32_t reserved2;
    // Set only in the slot of a class object whose class load has been seen; owned by the slot.
    std::atomic<ClassDescriptor*> descriptor;
};

// Creates the slot store's first block. Runs once, from a static initialiser at library load.
void InitObjectTable();

// With handle 0: enters `id` in a new slot with the given class handle (an allocation).
// With a handle: enters `id` pointing to that slot, leaving the slot untouched (a move).
// Returns the handle the directory holds for `id` afterwards (the present one when `id` was
// already entered), or 0 on failure.
SlotHandle InsertObject(jobjectID id, SlotHandle classHandle, SlotHandle handle);

// The handle of `id`, or 0. Three dependent loads; no lock, no allocation.
inline SlotHandle LookupObject(jobjectID id) {
    std::atomic<SlotHandle>* cell = LeafCell(id);
    return cell == nullptr ? 0 : LoadAcquire(*cell);
}

// Removes `id` and recycles its slot, freeing the slot's descriptor.
void ReleaseObject(jobjectID id);

// Re-keys the entry of `oldId` to `newId`. When `newId` is already entered (or a directory table
// cannot be allocated), the moved object's slot is released instead.
void MoveObject(jobjectID oldId, jobjectID newId);

// The slot a handle designates, or null for 0, -1 and handles outside the created blocks.
ObjectSlot* SlotOf(SlotHandle handle);

// For diagnostics: how many slots the created blocks hold for use, and how many of them are on
// the free list (walks the list under the slot lock).
size_t SlotsCreated();
size_t CountFreeSlots();

#include "registry/object_table.h"

#include <cstring>
#include <new>

#include "core/agent_state.h"
#include "core/error_out.h"
#include "platform/atomics.h"
#include "platform/heap.h"
#include "platform/os.h"
#include "registry/class_descriptor.h"
#include "registry/object_directory.h"

namespace {
struct SlotStore {
    // A block pointer is written once, under the slot lock, before any handle into the block
    // is published; readers reach it through a published handle.
    std::atomic<ObjectSlot*> blocks[kBlockCapacity];
    int blockCount;       // guarded by the slot lock
    SlotHandle freeHead;  // guarded by the slot lock, as are the links in free slots
};

SlotStore g_store;

inline ObjectSlot& Slot(SlotHandle h) {
    return LoadAcquire(g_store.blocks[h >> 16])[h & 0xffff];
}

// Returns the table behind `cell`, allocating and installing a zero-filled one when the cell is
// empty. Returns null (after reporting) when the allocation fails.
template <typename Table>
Table* TableCreating(std::atomic<Table*>& cell) {
    Table* table = LoadAcquire(cell);
    if (table != nullptr) return table;
    void* memory = MemAlloc(sizeof(Table));
    if (memory == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes\n", static_cast<int>(sizeof(Table)));
        return nullptr;
    }
    std::memset(memory, 0, sizeof(Table));
    auto* fresh = new (memory) Table;
    Table* installed = CompareExchange(cell, fresh, static_cast<Table*>(nullptr));
    if (installed == nullptr) return fresh;
    MemFree(fresh);  // another thread installed its table first
    return installed;
}

std::atomic<SlotHandle>* LeafCellCreating(jobjectID id) {
    TopTable* top = TableCreating(g_objectDirectory);
    if (top == nullptr) return nullptr;
    MiddleTable* middle = TableCreating(top->cells[TopIndex(id)]);
    if (middle == nullptr) return nullptr;
    LeafTable* leaf = TableCreating(middle->cells[MiddleIndex(id)]);
    if (leaf == nullptr) return nullptr;
    return &leaf->cells[LeafIndex(id)];
}

// Allocates the next block and links its slots 1..65534 into the (empty) free list, so they are
// handed out from the highest index down. Returns the block number, or -1 when the allocation
// fails. Called with the slot lock held, or at load.
int CreateBlock() {
    const size_t bytes = sizeof(ObjectSlot) * kSlotsPerBlock;
    auto* block = static_cast<ObjectSlot*>(MemAlloc(bytes));
    if (block == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes\n", static_cast<int>(bytes));
        return -1;
    }
    std::memset(static_cast<void*>(block), 0, bytes);
    const int b = g_store.blockCount++;
    block[1].objectId.store(kEndOfFreeList, std::memory_order_relaxed);
    for (int i = 2; i < kSlotsPerBlock; ++i) {
        block[i].objectId.store((b << 16) | (i - 1), std::memory_order_relaxed);
    }
    g_store.freeHead = (b << 16) | (kSlotsPerBlock - 1);
    StoreRelease(g_store.blocks[b], block);
    return b;
}

// Pops a free slot, creating a block when the list is empty. Returns 0 when there is none.
SlotHandle TakeFreeSlot() {
    OsLockGuard slots(&g_agent.slotLock);
    if (g_store.freeHead != kEndOfFreeList) {
        const SlotHandle h = g_store.freeHead;
        g_store.freeHead = Slot(h).objectId.load(std::memory_order_relaxed);
        return h;
    }
    if (g_store.blockCount < kBlockCapacity) {
        const int b = CreateBlock();
        return b >= 0 ? b << 16 : 0;  // a new block's slot 0 goes to the insertion that needed it
    }
    ErrorOut("ERROR: out of space in object table");
    return 0;
}

void PushFreeSlot(SlotHandle h) {
    OsLockGuard slots(&g_agent.slotLock);
    Slot(h).objectId.store(g_store.freeHead, std::memory_order_relaxed);
    g_store.freeHead = h;
}

// Frees the slot's descriptor and puts the slot back on the free list. The descriptor pointer
// is taken out of the slot, so a stale reader of a free slot never finds a freed descriptor.
void RecycleSlot(SlotHandle h) {
    std::atomic<ClassDescriptor*>& descriptor = Slot(h).descriptor;
    if (descriptor.load(std::memory_order_relaxed) != nullptr) {
        FreeClassDescriptor(descriptor.exchange(nullptr, std::memory_order_acq_rel));
    }
    PushFreeSlot(h);
}

void FillSlot(SlotHandle h, jobjectID id, SlotHandle classHandle) {
    ObjectSlot& slot = Slot(h);
    slot.objectId.store(static_cast<int32_t>(id), std::memory_order_relaxed);
    slot.classHandle.store(classHandle, std::memory_order_relaxed);
    slot.reserved1 = 0;
    slot.reserved2 = 0;
    slot.descriptor.store(nullptr, std::memory_order_relaxed);
}

// Removes the entry of `id` from the directory. Returns its handle, or 0 when there was no
// entry or another thread changed the cell first.
SlotHandle Unlink(jobjectID id) {
    std::atomic<SlotHandle>* cell = LeafCell(id);
    if (cell == nullptr) return 0;
    const SlotHandle h = LoadAcquire(*cell);
    if (h == 0) return 0;
    return CompareExchange(*cell, static_cast<SlotHandle>(0), h) == h ? h : 0;
}

const bool g_objectTableReady = (InitObjectTable(), true);
}  // namespace

std::atomic<TopTable*> g_objectDirectory{nullptr};

void InitObjectTable() {
    g_store.blockCount = 0;
    g_store.freeHead = kEndOfFreeList;
    for (auto& block : g_store.blocks) block.store(nullptr, std::memory_order_relaxed);
    CreateBlock();  // slot 0 of block 0 is never used, so handle 0 never names a slot
}

SlotHandle InsertObject(jobjectID id, SlotHandle classHandle, SlotHandle handle) {
    std::atomic<SlotHandle>* cell = LeafCellCreating(id);
    if (cell == nullptr) return 0;
    const SlotHandle present = LoadAcquire(*cell);
    if (present != 0) return present;

    const bool newSlot = handle == 0;
    if (newSlot) {
        handle = TakeFreeSlot();
        if (handle == 0) return 0;
        FillSlot(handle, id, classHandle);  // private to this call until published
    }
    const SlotHandle was = CompareExchange(*cell, handle, static_cast<SlotHandle>(0));
    if (was == 0) return handle;
    // Another thread entered the id meanwhile: its entry stands, and our new slot goes back.
    if (newSlot) PushFreeSlot(handle);
    return was;
}

void ReleaseObject(jobjectID id) {
    const SlotHandle h = Unlink(id);
    if (h != 0) RecycleSlot(h);
}

void MoveObject(jobjectID oldId, jobjectID newId) {
    const SlotHandle h = Unlink(oldId);
    if (h == 0) return;
    Slot(h).objectId.store(static_cast<int32_t>(newId), std::memory_order_relaxed);
    if (InsertObject(newId, 0, h) != h) RecycleSlot(h);
}

ObjectSlot* SlotOf(SlotHandle handle) {
    if (handle <= 0) return nullptr;
    const int block = handle >> 16;
    const int index = handle & 0xffff;
    if (block >= kBlockCapacity || index >= kSlotsPerBlock) return nullptr;
    ObjectSlot* base = LoadAcquire(g_store.blocks[block]);
    return base == nullptr ? nullptr : base + index;
}

size_t SlotsCreated() {
    OsLockGuard slots(&g_agent.slotLock);
    const size_t blocks = static_cast<size_t>(g_store.blockCount);
    return blocks == 0 ? 0 : blocks * kSlotsPerBlock - 1;
}

size_t CountFreeSlots() {
    size_t count = 0;
    OsLockGuard slots(&g_agent.slotLock);
    for (SlotHandle h = g_store.freeHead; h != kEndOfFreeList;
         h = Slot(h).objectId.load(std::memory_order_relaxed)) {
        ++count;
    }
    return count;
}

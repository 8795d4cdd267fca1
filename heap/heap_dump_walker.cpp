#include "heap/heap_dump_walker.h"

#include <cstring>

#include "core/agent_state.h"
#include "core/error_out.h"
#include "registry/class_descriptor.h"
#include "registry/class_names.h"
#include "registry/object_table.h"

HeapWalkState g_heapWalk;

namespace {
constexpr size_t kClassDumpHead = 33;  // tag and eight 4-byte words
constexpr size_t kConstantPoolEntry = 7;

// Identifiers and other words in the machine's own order; counts in Java (big-endian) order.
jobjectID ReadId(const char* at) {
    jobjectID id;
    std::memcpy(&id, at, sizeof id);
    return id;
}

uint32_t ReadU4(const char* at) {
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint32_t ReadU2(const char* at) {
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return (uint32_t{b[0]} << 8) | b[1];
}

// Whether `bytes` bytes from `at` lie inside the dump. Lengths are 64-bit, so that a length
// made of counts from the dump cannot wrap around on a 32-bit machine.
bool Fits(const char* at, uint64_t bytes, const char* limit) {
    return at <= limit && static_cast<uint64_t>(limit - at) >= bytes;
}

// The start of the next record, or null when the record of `length` bytes runs past `limit`.
const char* Step(const char* record, uint64_t length, const char* limit) {
    return Fits(record, length, limit) ? record + length : nullptr;
}

void RequestClassLoad(jobjectID id) {
    g_agent.jvmpi->RequestEvent(JVMPI_EVENT_CLASS_LOAD,
                                reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

// The super class's handle, requesting its class load when it is not in the table yet.
SlotHandle SuperHandleOf(jobjectID superId) {
    if (superId == 0) return 0;
    SlotHandle h = LookupObject(superId);
    if (h == 0) {
        RequestClassLoad(superId);
        h = LookupObject(superId);
    }
    return h;
}

const char* ParseClassDump(const char* record, const char* limit, int32_t* classCount) {
    if (!Fits(record, kClassDumpHead, limit)) return nullptr;
    const jobjectID classId = ReadId(record + 1);
    RequestClassLoad(classId);  // always: it builds the descriptor and collects the name
    const ObjectSlot* slot = SlotOf(LookupObject(classId));
    ClassDescriptor* d =
        slot == nullptr ? nullptr : slot->descriptor.load(std::memory_order_acquire);
    if (d == nullptr) {
        ErrorOut("ERROR: unexpected object type");
        return nullptr;
    }
    d->superHandle.store(SuperHandleOf(ReadId(record + 5)), std::memory_order_release);
    if (d->interfaceCount < 0 || d->staticDataSize < 0) return nullptr;
    const uint64_t poolAt = kClassDumpHead + 4 * uint64_t{static_cast<uint32_t>(d->interfaceCount)};
    if (!Fits(record, poolAt + 2, limit)) return nullptr;
    const uint64_t pool = ReadU2(record + poolAt);
    const char* next = Step(record,
                            poolAt + 2 + kConstantPoolEntry * pool +
                                uint64_t{static_cast<uint32_t>(d->staticDataSize)},
                            limit);
    if (next != nullptr) ++*classCount;
    return next;
}

// The length of a record whose size its own fields give, or 0 when they do not fit.
uint64_t SizedRecordLength(const char* record, const char* limit) {
    switch (static_cast<unsigned char>(record[0])) {
        case JVMPI_GC_INSTANCE_DUMP:
            return Fits(record, 13, limit) ? 13 + uint64_t{ReadU4(record + 9)} : 0;
        case JVMPI_GC_OBJ_ARRAY_DUMP:
            return Fits(record, 13, limit) ? 13 + 4 * uint64_t{ReadU4(record + 5)} : 0;
        case JVMPI_GC_PRIM_ARRAY_DUMP: {
            if (!Fits(record, 10, limit)) return 0;
            const unsigned type = static_cast<unsigned char>(record[9]);
            if (type >= 12) return 0;  // not an element type
            return 10 + uint64_t{ReadU4(record + 5)} * static_cast<uint64_t>(kTypeSizeTable[type]);
        }
        default:
            return 0;
    }
}
}  // namespace

const char* ParseDumpRecord(const char* record, const char* limit, int32_t* classCount) {
    if (!Fits(record, 1, limit)) return nullptr;
    switch (static_cast<unsigned char>(record[0])) {
        case JVMPI_GC_ROOT_UNKNOWN: case JVMPI_GC_ROOT_STICKY_CLASS:
        case JVMPI_GC_ROOT_MONITOR_USED: case JVMPI_GC_ROOT_THREAD_OBJ:
            return Step(record, 5, limit);
        case JVMPI_GC_ROOT_JNI_GLOBAL: case JVMPI_GC_ROOT_NATIVE_STACK:
        case JVMPI_GC_ROOT_THREAD_BLOCK:
            return Step(record, 9, limit);
        case JVMPI_GC_ROOT_JNI_LOCAL: case JVMPI_GC_ROOT_JAVA_FRAME:
            return Step(record, 13, limit);
        case JVMPI_GC_CLASS_DUMP:
            return ParseClassDump(record, limit, classCount);
        case JVMPI_GC_INSTANCE_DUMP: case JVMPI_GC_OBJ_ARRAY_DUMP: case JVMPI_GC_PRIM_ARRAY_DUMP: {
            const uint64_t length = SizedRecordLength(record, limit);
            return length == 0 ? nullptr : Step(record, length, limit);
        }
        default:
            return record + 1;  // not a record start: step over the byte
    }
}

void WalkHeapDump(const char* start, int32_t length, int32_t* classCount) {
    *classCount = 0;
    if (length <= 0) return;
    const char* end = start + length;
    for (const char* position = start;;) {
        if (g_heapWalk.cancelRequested.load(std::memory_order_relaxed)) return;
        g_heapWalk.progressDone.store(static_cast<int32_t>(position - start),
                                      std::memory_order_relaxed);
        const char* next = ParseDumpRecord(position, end, classCount);
        if (next == nullptr || next >= end) return;
        position = next;
    }
}

void HandleHeapDump(int, const char* begin, const char* end) {
    const int32_t size = begin == nullptr || end < begin ? 0 : static_cast<int32_t>(end - begin);
    if (!BeginCollectingClassNames(static_cast<size_t>(size))) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes\n", size);
        return;
    }
    WalkHeapDump(begin, size, &g_heapWalk.classDumpCount);
    EndCollectingClassNames();
    g_heapWalk.classCountAtDump = g_classModificationCount.load(std::memory_order_relaxed);
}

#include "trace/event_bank.h"

#include <cstring>
#include <new>

#include "platform/atomics.h"
#include "platform/heap.h"
#include "trace/call_details.h"
#include "trace/stack_frames.h"

Recording g_recording;

TraceEventRecord* PlaceRecord(EventBank* bank) {
    // The first chunk from head with room, as the chunks before the cursor are full.
    for (EventChunk* chunk = bank->fillCursor != nullptr ? bank->fillCursor : bank->head; chunk != nullptr;
         chunk = chunk->next) {
        if (chunk->usedCount + 1 < kChunkPlaces) {
            if (chunk->usedCount == 0) chunk->firstRecord = bank->eventCount;
            bank->fillCursor = chunk;
            return &chunk->records[chunk->usedCount++];
        }
    }
    // Places are not cleared: the recorder writes every field of a record it fills.
    auto* chunk = static_cast<EventChunk*>(MemAlloc(sizeof(EventChunk)));
    if (chunk == nullptr) return nullptr;
    chunk->usedCount = 1;
    chunk->firstRecord = bank->eventCount;
    chunk->next = bank->head;
    bank->head = chunk;
    bank->fillCursor = chunk;
    return &chunk->records[0];
}

namespace {
size_t ArgumentRoom(int32_t count, int32_t frameCount) {
    const size_t values = sizeof(CallValue) * static_cast<size_t>(count > 0 ? count : 0);
    const size_t frames = sizeof(StackFrame) * static_cast<size_t>(frameCount > 0 ? frameCount : 0);
    return (sizeof(CallDetails) + values + frames + 15) & ~size_t{15};
}
}  // namespace

bool BankAdmits(const EventBank& bank, int32_t argumentCount, int32_t frameCount) {
    const int32_t capacity = LoadRelaxed(g_recording.bankCapacity);
    if (capacity == 0) return true;
    if (bank.eventCount >= capacity) return false;
    return (argumentCount < 0 && frameCount < 0) ||
           static_cast<int64_t>(bank.argumentBytes + ArgumentRoom(argumentCount, frameCount)) <=
               LoadRelaxed(g_recording.argumentCapacity);
}

void BoundRecording(int32_t bankRecords, int64_t argumentBytes, int32_t sliceEvents) {
    StoreRelaxed(g_recording.bankCapacity, bankRecords > 0 ? bankRecords : 0);
    StoreRelaxed(g_recording.argumentCapacity, argumentBytes > 0 ? argumentBytes : 0);
    StoreRelaxed(g_recording.sliceEvents, sliceEvents > 0 ? sliceEvents : 0);
}

CallDetails* PlaceArguments(EventBank* bank, const CallValue* values, int32_t count, const StackFrame* frames,
                            int32_t frameCount, int32_t framesShown) {
    const size_t bytes = ArgumentRoom(count, frameCount);
    if (bytes > kArgumentBlockBytes) return nullptr;
    // The blocks after the cursor hold nothing of this filling; an emptied bank starts again at
    // its first block.
    ArgumentBlock* block = bank->argumentCursor;
    if (block == nullptr && (block = bank->arguments) != nullptr) block->used = 0;
    while (block != nullptr && block->used + bytes > kArgumentBlockBytes) {
        block = block->next;
        if (block != nullptr) block->used = 0;
    }
    if (block == nullptr) {
        block = static_cast<ArgumentBlock*>(MemAlloc(sizeof(ArgumentBlock)));
        if (block == nullptr) return nullptr;
        block->next = nullptr;
        block->used = 0;
        // Linked last, so the blocks are filled in order from the first.
        ArgumentBlock** last = &bank->arguments;
        while (*last != nullptr) last = &(*last)->next;
        *last = block;
    }
    bank->argumentCursor = block;
    auto* details = new (block->bytes + block->used) CallDetails;
    block->used += bytes;
    bank->argumentBytes += bytes;
    details->argumentCount = count;
    details->arguments = reinterpret_cast<CallValue*>(details + 1);
    if (count > 0) std::memcpy(static_cast<void*>(details->arguments), values, sizeof(CallValue) * static_cast<size_t>(count));
    details->frameCount = static_cast<int16_t>(frameCount);
    details->framesShown = static_cast<int16_t>(framesShown);
    if (frameCount > 0) std::memcpy(details->Frames(), frames, sizeof(StackFrame) * static_cast<size_t>(frameCount));
    return details;
}

void EmptyArguments(EventBank* bank) {
    bank->argumentCursor = nullptr;
    bank->argumentBytes = 0;
}

#include "trace/event_bank.h"

#include "platform/heap.h"

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

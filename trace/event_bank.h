// The two alternating recording banks, their chunk lists and the record layout.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "platform/os.h"

struct CallDetails;
struct CallValue;
struct StackFrame;
struct ThreadTag;

struct TraceEventRecord {
    uintptr_t subject;     // by subject kind: 0, a weak global reference, or a SlotHandle
    int32_t flags;         // subject kind | value kind | assigned bit | exit bit
    int32_t site;          // a field event: where it happened (trace/access_sites), 0 if not known
    jobject tracePointRef; // the matching entry's reference, copied (not a new reference)
    // The field's value in its natural width, the other bytes 0; an exit's return value or
    // exception (its kind is the value kind of `flags`, an object a weak global reference).
    jvalue value;
    ThreadTag* thread;     // the thread it happened on, or null
    int64_t time;          // when, on the monotonic clock (ns)
    union {
        CallDetails* details;  // an entry's arguments; null when none were recorded
        int64_t duration;      // an exit (kExitEvent): ns from its entry
    };
};

static_assert(sizeof(void*) != 8 || sizeof(TraceEventRecord) == 56, "the site fills the padding after the flags");

constexpr int kChunkPlaces = 1024;  // a chunk takes at most kChunkPlaces - 1 records

struct EventChunk {
    TraceEventRecord records[kChunkPlaces];
    int32_t usedCount;
    EventChunk* next;  // an older chunk
    // The bank's event count when this chunk took its first record since it was last emptied:
    // the order chunks were filled in, which delivery keeps (a refilled bank fills its chunks
    // from the head, the newest first, before a new one is linked in front).
    int32_t firstRecord;
};

// The arguments of a bank's records, placed one after another and all given back when the bank
// is emptied: a record's arguments cost no allocation of their own, and nothing is freed on the
// consumer's thread that a program's thread allocated.
constexpr size_t kArgumentBlockBytes = 64 * 1024;

struct ArgumentBlock {
    ArgumentBlock* next;
    size_t used;
    alignas(16) unsigned char bytes[kArgumentBlockBytes];
};

// Each bank has lines of its own, and so has the recording's state: the recording threads write
// the current bank and the count on every record, while delivery empties the other bank and
// reads globals of its own for every record it converts.
struct alignas(kCacheLine) EventBank {
    EventChunk* head;    // null until the bank's first record
    int32_t eventCount;  // records added since the bank was last emptied
    uint8_t overflow;    // an event was refused at the limit while this bank was current
    // The data-available event was set for this bank's records and no delivery has taken the
    // signal since. Normally the same as a non-zero count; after a failed delivery leaves its
    // records in the bank, it lets the next record announce them again.
    uint8_t announced;
    // The chunk the last record went into: every chunk before it (from head) is full, so the
    // search for room starts here rather than at head. Null after the bank was emptied.
    EventChunk* fillCursor;
    ArgumentBlock* arguments;       // the blocks, in the order they are filled
    ArgumentBlock* argumentCursor;  // the block being filled; null when the bank is empty
    size_t argumentBytes;           // placed since the bank was last emptied
    // Counts the times delivery took the bank, under the recording lock: records of one filling
    // may share weak references, as delivery deletes a bank's references after its last record.
    uint32_t filling;
};

struct alignas(kCacheLine) Recording {
    EventBank banks[2];  // guarded by the recording lock while current
    int32_t currentBank; // guarded by the recording lock; switched only by delivery
    // Records since the last reset; written under the recording lock, reset without it.
    std::atomic<int32_t> totalRecorded{0};
    // The most recent activation's m_iMaxNumTraces; written without the lock.
    std::atomic<int32_t> recordingLimit{4096};
    // Bounded recording, which a Java side asks for (see BoundRecording); all 0 until then: a bank
    // grows with its records and a delivery hands over a whole bank.
    std::atomic<int32_t> bankCapacity{0};       // records a bank holds at most
    std::atomic<int64_t> argumentCapacity{0};   // bytes of arguments a bank holds at most
    std::atomic<int32_t> sliceEvents{0};        // events one delivery hands over at most
    // Set under the recording lock when a hit found the limit reached with the current bank's
    // overflow already set: until the limit, the count, the bank or the table changes (each of
    // which clears it under the lock), every hit but those of `refusedExcept` (the one mark
    // recorded past the limit, or null) would be refused and change nothing. Read without the
    // lock, so such hits need not take it; a hit that reads it clear takes the lock, which still
    // decides.
    std::atomic<bool> refusingAll{false};
    std::atomic<const void*> refusedExcept{nullptr};
    // Told under the lock whenever refusingAll changes (the hooks' gates in Java); set at start.
    void (*refusalListener)(bool refusing, const void* except) = nullptr;
    // Told under the lock whenever the limit comes to leave room for a record, or no longer
    // (the entry hook's gate refuses objects by their class only while it does); set at start.
    void (*roomListener)(bool room) = nullptr;
    bool roomTold = true;  // under the lock
};

extern Recording g_recording;

// Whether a hit of `member` would only be refused at the limit: it need not take the lock.
inline bool RefusedWithoutTheLock(const void* member) {
    return g_recording.refusingAll.load(std::memory_order_acquire) &&
           member != g_recording.refusedExcept.load(std::memory_order_relaxed);
}

// Under the recording lock: tells the room listener whether the limit leaves room, if that changed.
inline void TellRoomLocked() {
    const bool room = g_recording.totalRecorded.load(std::memory_order_relaxed) <
                      g_recording.recordingLimit.load(std::memory_order_relaxed);
    if (room == g_recording.roomTold) return;
    g_recording.roomTold = room;
    if (g_recording.roomListener != nullptr) g_recording.roomListener(room);
}

// Under the recording lock: the limit, the count, the current bank or the trace points changed.
inline void StopRefusingLocked() {
    TellRoomLocked();
    if (g_recording.refusingAll.exchange(false, std::memory_order_relaxed) && g_recording.refusalListener != nullptr) {
        g_recording.refusalListener(false, nullptr);
    }
}

// Under the recording lock: a hit found the limit reached and the current bank's overflow set.
inline void StartRefusingLocked(const void* except) {
    if (g_recording.refusingAll.load(std::memory_order_relaxed)) return;  // `except` is as then
    g_recording.refusedExcept.store(except, std::memory_order_relaxed);
    g_recording.refusingAll.store(true, std::memory_order_release);
    if (g_recording.refusalListener != nullptr) g_recording.refusalListener(true, except);
}

// The place for one more record in `bank`: the first chunk from head with room, or a new chunk
// linked in front. Returns null when a new chunk is needed and cannot be allocated.
// Called with the recording lock held.
TraceEventRecord* PlaceRecord(EventBank* bank);

// A copy of `count` arguments (their weak references pass to it; -1: none) and of `frameCount`
// stack frames (-1: none) beside `bank`'s records, or null when no memory can be had. Called with
// the recording lock held.
CallDetails* PlaceArguments(EventBank* bank, const CallValue* values, int32_t count,
                            const StackFrame* frames = nullptr, int32_t frameCount = -1, int32_t framesShown = 0);

// Whether `bank` has room for one more record with `argumentCount` arguments and `frameCount`
// stack frames (-1: none of them), within the bounds a Java side asked for: the frames count
// against the argument bytes. Called with the recording lock held.
bool BankAdmits(const EventBank& bank, int32_t argumentCount, int32_t frameCount = -1);

// The bounds of bounded recording (0, 0, 0: unbounded, as the agent starts). Past the capacity
// a hit is dropped and counted (trace/drop_counts.h), never waited for.
void BoundRecording(int32_t bankRecords, int64_t argumentBytes, int32_t sliceEvents);

// Gives back the room of every argument placed in `bank` (the blocks are kept for its next
// filling), once its records are converted or released.
void EmptyArguments(EventBank* bank);

// Reading the trace point table without the recording lock. A thread that looks a hit's entry up
// first, to do its JNI work (the instance test, weak references, the field and frame reads)
// before it takes the lock, announces the table generation it reads in a slot of its own; what a
// replaced table held (its entries, its index, its class references) is freed only once no slot
// announces a generation up to the one that ended with it. Nothing ever waits for a reader: what
// a reader may still hold is kept until a later check finds it unread.
#pragma once

#include <cstdint>

// Announces that the calling thread reads the published table and returns the generation it
// reads, or 0 when the thread has no slot (all are taken): it then reads the table under the
// lock only. Pairs with EndTableRead; does not nest.
uint64_t BeginTableRead();
void EndTableRead();

// The calling thread ends: its slot is given back.
void ReleaseTableReadSlot();

// A new table is published: readers from now on announce a later generation. Returns the
// generation that ended, which may still be read until TableGenerationUnread says otherwise.
// Under the recording lock.
uint64_t EndTableGenerationLocked();

// Whether no thread still reads `generation` or an earlier one.
bool TableGenerationUnread(uint64_t generation);

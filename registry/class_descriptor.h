// What the agent knows of a loaded class. One heap allocation per class (the four fields, then
// the name), owned by the object slot of the class object.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/jvmpi.h"

struct ClassDescriptor {
    int32_t staticDataSize;  // bytes of the class's static values in a heap-dump class record
    int32_t interfaceCount;  // directly declared interfaces
    // SlotHandle of the super class's slot: -1 while not known, 0 for none. Set by the heap
    // dump walker, read by the recorder without a lock.
    std::atomic<int32_t> superHandle;
    const char* name;  // points just behind the four fields, into the same allocation
};

constexpr int32_t kSuperNotKnown = -1;

// Size in bytes of a value of each JVMPI basic type code in a heap dump (codes 0 to 11).
extern const int32_t kTypeSizeTable[12];

// The JVMPI basic type code of a field signature's first character.
int SignatureTypeCode(const char* signature);

// Bytes the static values of these fields take in a heap-dump class record.
int32_t StaticDataSize(jint count, const JVMPI_Field* fields);

// A new descriptor for a class-load event (superHandle not yet known), or null after
// reporting a failed allocation.
ClassDescriptor* NewClassDescriptor(const char* name, jint interfaceCount, jint staticCount,
                                    const JVMPI_Field* statics);

// Frees a descriptor (null is allowed).
void FreeClassDescriptor(ClassDescriptor* descriptor);

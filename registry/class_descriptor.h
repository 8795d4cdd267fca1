// What the agent knows of a loaded class. One heap allocation per class (the four fields, then
// the name), owned by the object slot of the class object.
#pragma once

#include <atomic>
#include <cstdint>

struct ClassDescriptor {
    int32_t staticDataSize;  // bytes of the class's static values in a heap-dump class record
    int32_t interfaceCount;  // directly declared interfaces
    // SlotHandle of the super class's slot: -1 while not known, 0 for none. Set by the heap
    // dump walker, read by the recorder without a lock.
    std::atomic<int32_t> superHandle;
    const char* name;  // points just behind the four fields, into the same allocation
};

constexpr int32_t kSuperNotKnown = -1;

// Frees a descriptor (null is allowed).
void FreeClassDescriptor(ClassDescriptor* descriptor);

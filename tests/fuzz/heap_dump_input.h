// The heap dump fuzzer's input: a few classes the profiler knows, then the dump itself.
//
//   u1  class count (taken modulo 16)
//   u1  cancel after the Nth class load the profiler answers (0: never)
//   per class:
//     u4  class identifier, in the machine's order (as in the dump)
//     u1  directly declared interfaces
//     u1  flags: bit 0 = the class load event carries no name
//     u1  static field count M (modulo 32), then M bytes: each static's signature (one
//         character, taken as it is; unknown characters count as references)
//   the rest: the level-2 heap dump
//
// The seed writer encodes real dumps this way, the fuzz target decodes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/jvmpi.h"

struct FuzzClass {
    jobjectID id = 0;
    uint8_t interfaces = 0;
    bool nameless = false;
    std::string staticSignatures;  // one character per static field
};

struct HeapDumpInput {
    std::vector<FuzzClass> classes;
    uint8_t cancelAfter = 0;
    const uint8_t* dump = nullptr;
    size_t dumpSize = 0;
};

constexpr size_t kMaxFuzzClasses = 16;
constexpr size_t kMaxFuzzStatics = 32;

// False when the descriptor part runs past the input.
inline bool DecodeHeapDumpInput(const uint8_t* data, size_t size, HeapDumpInput* in) {
    size_t at = 0;
    auto take = [&](size_t n) {
        const uint8_t* p = at <= size && size - at >= n ? data + at : nullptr;
        if (p != nullptr) at += n;
        return p;
    };
    const uint8_t* head = take(2);
    if (head == nullptr) return false;
    in->classes.assign(head[0] % kMaxFuzzClasses, FuzzClass());
    in->cancelAfter = head[1];
    for (FuzzClass& c : in->classes) {
        const uint8_t* fixed = take(7);
        if (fixed == nullptr) return false;
        std::memcpy(&c.id, fixed, 4);
        c.interfaces = fixed[4];
        c.nameless = (fixed[5] & 1) != 0;
        const uint8_t* statics = take(fixed[6] % kMaxFuzzStatics);
        if (statics == nullptr) return false;
        c.staticSignatures.assign(reinterpret_cast<const char*>(statics), fixed[6] % kMaxFuzzStatics);
    }
    in->dump = data + at;
    in->dumpSize = size - at;
    return true;
}

inline void EncodeHeapDumpInput(const std::vector<FuzzClass>& classes, const uint8_t* dump,
                                size_t dumpSize, std::vector<uint8_t>* out) {
    out->clear();
    out->push_back(static_cast<uint8_t>(classes.size() % kMaxFuzzClasses));
    out->push_back(0);
    for (size_t i = 0; i < classes.size() % kMaxFuzzClasses; ++i) {
        const FuzzClass& c = classes[i];
        const auto* id = reinterpret_cast<const uint8_t*>(&c.id);
        out->insert(out->end(), id, id + 4);
        out->push_back(c.interfaces);
        out->push_back(c.nameless ? 1 : 0);
        const size_t statics = c.staticSignatures.size() % kMaxFuzzStatics;
        out->push_back(static_cast<uint8_t>(statics));
        out->insert(out->end(), c.staticSignatures.begin(), c.staticSignatures.begin() + statics);
    }
    out->insert(out->end(), dump, dump + dumpSize);
}

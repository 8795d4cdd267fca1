// Level-2 heap dump bytes built from a description, as the profiler writes them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/jvmpi.h"

// Builds level-2 dump bytes: identifiers in the machine's order, counts big-endian.
struct Dump {
    std::string bytes;

    Dump& Byte(unsigned v) { bytes.push_back(static_cast<char>(v)); return *this; }
    Dump& Id(jobjectID id) { bytes.append(reinterpret_cast<const char*>(&id), 4); return *this; }
    Dump& U4(uint32_t v) { return Byte(v >> 24).Byte((v >> 16) & 0xff).Byte((v >> 8) & 0xff).Byte(v & 0xff); }
    Dump& U2(uint32_t v) { return Byte((v >> 8) & 0xff).Byte(v & 0xff); }
    Dump& Zeros(size_t n) { bytes.append(n, '\0'); return *this; }

    Dump& Root(unsigned tag, size_t length) { return Byte(tag).Zeros(length - 1); }
    Dump& Class(jobjectID id, jobjectID super, int interfaces, int pool, int staticBytes) {
        Byte(JVMPI_GC_CLASS_DUMP).Id(id).Id(super).Zeros(24 + 4 * interfaces).U2(pool);
        return Zeros(7 * pool + staticBytes);
    }
    Dump& Instance(jobjectID id, jobjectID cls, uint32_t n) {
        return Byte(JVMPI_GC_INSTANCE_DUMP).Id(id).Id(cls).U4(n).Zeros(n);
    }
    Dump& PrimArray(jobjectID id, uint32_t n, unsigned type, size_t valueBytes) {
        return Byte(JVMPI_GC_PRIM_ARRAY_DUMP).Id(id).U4(n).Byte(type).Zeros(valueBytes);
    }
    const char* Begin() const { return bytes.data(); }
    const char* End() const { return bytes.data() + bytes.size(); }
};


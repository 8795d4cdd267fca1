#include "registry/class_descriptor.h"

#include <cstring>
#include <new>

#include "core/error_out.h"
#include "platform/heap.h"

// An object reference counts as one 4-byte identifier; codes 1 and 3 are undefined.
const int32_t kTypeSizeTable[12] = {4, 0, 4, 0, 1, 2, 4, 8, 1, 2, 4, 8};

int SignatureTypeCode(const char* signature) {
    if (signature == nullptr) return JVMPI_NORMAL_OBJECT;
    switch (signature[0]) {
        case 'B': return JVMPI_BYTE;
        case 'C': return JVMPI_CHAR;
        case 'D': return JVMPI_DOUBLE;
        case 'F': return JVMPI_FLOAT;
        case 'I': return JVMPI_INT;
        case 'J': return JVMPI_LONG;
        case 'L': case '[': return JVMPI_CLASS;
        case 'S': return JVMPI_SHORT;
        case 'Z': return JVMPI_BOOLEAN;
        default: return JVMPI_NORMAL_OBJECT;
    }
}

int32_t StaticDataSize(jint count, const JVMPI_Field* fields) {
    int32_t size = 0;
    for (jint i = 0; i < count && fields != nullptr; ++i) {
        size += kTypeSizeTable[SignatureTypeCode(fields[i].field_signature)];
    }
    return size;
}

ClassDescriptor* NewClassDescriptor(const char* name, jint interfaceCount, jint staticCount,
                                    const JVMPI_Field* statics) {
    const size_t length = name == nullptr ? 0 : std::strlen(name);
    const size_t bytes = sizeof(ClassDescriptor) + length + 1;
    void* memory = MemAlloc(bytes);
    if (memory == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes\n", static_cast<int>(bytes));
        return nullptr;
    }
    auto* d = new (memory) ClassDescriptor;
    d->interfaceCount = static_cast<int32_t>(interfaceCount);
    d->superHandle.store(kSuperNotKnown, std::memory_order_relaxed);
    char* copy = reinterpret_cast<char*>(d + 1);
    if (length > 0) std::memcpy(copy, name, length);
    copy[length] = '\0';
    d->name = copy;
    d->staticDataSize = StaticDataSize(staticCount, statics);
    return d;
}

void FreeClassDescriptor(ClassDescriptor* descriptor) { MemFree(descriptor); }

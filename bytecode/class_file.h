// A class file as a model: the constant pool decoded, fields and methods with their
// attributes kept as bytes, everything else copied through as it was. Parsing checks every
// length against the bytes it has (they come from the VM's class file hook, untrusted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytecode/access_flags.h"
#include "bytecode/constant_pool.h"
#include "bytecode/refusal.h"

namespace bytecode {


constexpr uint16_t kOldestMajorVersion = 45;
constexpr uint16_t kNewestMajorVersion = 69;  // Java 25

struct Attribute {
    uint16_t name = 0;           // constant pool index of its name
    std::vector<uint8_t> bytes;  // the info, after attribute_length
};

struct Member {
    uint16_t access = 0;
    uint16_t name = 0;
    uint16_t descriptor = 0;
    std::vector<Attribute> attributes;
};

struct ClassFile {
    uint16_t minor = 0;
    uint16_t major = 0;
    ConstantPool pool;
    uint16_t access = 0;
    uint16_t thisClass = 0;
    uint16_t superClass = 0;
    std::vector<uint16_t> interfaces;
    std::vector<Member> fields;
    std::vector<Member> methods;
    std::vector<Attribute> attributes;
};

// kMalformedClass, kUnsupportedVersion, or kNone with `out` filled.
Refusal ParseClassFile(const uint8_t* data, size_t size, ClassFile* out);
void WriteClassFile(const ClassFile& cls, std::vector<uint8_t>* out);

// The method's one Code attribute, or null (none, or more than one).
Attribute* FindCodeAttribute(const ClassFile& cls, Member* method);
// The method of that name and descriptor, or null.
Member* FindMethod(ClassFile* cls, const char* name, const char* descriptor);

}  // namespace bytecode

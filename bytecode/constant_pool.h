// A class file's constant pool, read whole and appendable: entries keep their tags and raw
// operands, so the pool writes back byte for byte, and the engine finds or adds the entries
// inserted code refers to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytecode/byte_io.h"

namespace bytecode {

enum ConstantTag : uint8_t {
    kTagUnusable = 0,  // index 0, and the slot after a Long or Double
    kTagUtf8 = 1,
    kTagInteger = 3,
    kTagFloat = 4,
    kTagLong = 5,
    kTagDouble = 6,
    kTagClass = 7,
    kTagString = 8,
    kTagFieldref = 9,
    kTagMethodref = 10,
    kTagInterfaceMethodref = 11,
    kTagNameAndType = 12,
    kTagMethodHandle = 15,
    kTagMethodType = 16,
    kTagDynamic = 17,
    kTagInvokeDynamic = 18,
    kTagModule = 19,
    kTagPackage = 20,
};

struct Constant {
    uint8_t tag = kTagUnusable;
    std::string utf8;    // Utf8: the modified UTF-8 bytes as they are
    uint32_t first = 0;  // the first u2 reference (u1 kind of a MethodHandle), or a u4 value
    uint32_t second = 0; // the second u2 reference, or a Long's or Double's low u4
};

struct ConstantPool {
    std::vector<Constant> entries;  // entries[0] unusable; size is constant_pool_count

    // Checked accessors: null or "" when the index is out of range or names another kind.
    const Constant* At(uint32_t index, uint8_t tag) const;
    const std::string* Utf8(uint32_t index) const;
    const std::string* ClassName(uint32_t classIndex) const;
    // The name and descriptor of a Fieldref, Methodref, InterfaceMethodref, or (through its
    // NameAndType) an InvokeDynamic or Dynamic entry.
    bool MemberNameAndType(uint32_t index, std::string* name, std::string* descriptor) const;

    // Find-or-add: the index of an equal entry, appended when there is none; 0 when the pool
    // is full (65535 entries).
    uint16_t Utf8Index(const std::string& s);
    uint16_t ClassIndex(const std::string& internalName);
    uint16_t StringIndex(const std::string& s);
    uint16_t IntegerIndex(int32_t value);
    uint16_t NameAndTypeIndex(const std::string& name, const std::string& descriptor);
    uint16_t FieldrefIndex(const std::string& owner, const std::string& name, const std::string& descriptor);
    uint16_t MethodrefIndex(const std::string& owner, const std::string& name, const std::string& descriptor);
    uint16_t InterfaceMethodrefIndex(const std::string& owner, const std::string& name,
                                     const std::string& descriptor);

  private:
    uint16_t FindOrAdd(const Constant& c);
    uint16_t MemberRefIndex(uint8_t tag, const std::string& owner, const std::string& name,
                            const std::string& descriptor);
};

// Reads constant_pool_count and the entries. False when they do not parse.
bool ReadConstantPool(Reader* r, ConstantPool* pool);
void WriteConstantPool(const ConstantPool& pool, Writer* w);

}  // namespace bytecode

#include "bytecode/constant_pool.h"

namespace bytecode {
namespace {
constexpr size_t kMaxEntries = 65535;  // constant_pool_count is a u2

bool SameConstant(const Constant& a, const Constant& b) {
    return a.tag == b.tag && a.first == b.first && a.second == b.second && a.utf8 == b.utf8;
}

bool ReadEntry(Reader* r, uint8_t tag, Constant* c) {
    c->tag = tag;
    switch (tag) {
        case kTagUtf8: {
            const uint32_t length = r->U2();
            const uint8_t* p = r->Take(length);
            if (p != nullptr) c->utf8.assign(reinterpret_cast<const char*>(p), length);
            break;
        }
        case kTagInteger: case kTagFloat: c->first = r->U4(); break;
        case kTagLong: case kTagDouble: c->first = r->U4(); c->second = r->U4(); break;
        case kTagClass: case kTagString: case kTagMethodType: case kTagModule: case kTagPackage:
            c->first = r->U2();
            break;
        case kTagFieldref: case kTagMethodref: case kTagInterfaceMethodref: case kTagNameAndType:
        case kTagDynamic: case kTagInvokeDynamic:
            c->first = r->U2();
            c->second = r->U2();
            break;
        case kTagMethodHandle: c->first = r->U1(); c->second = r->U2(); break;
        default: return false;
    }
    return !r->failed;
}
}  // namespace

bool ReadConstantPool(Reader* r, ConstantPool* pool) {
    const uint32_t count = r->U2();
    if (r->failed || count == 0) return false;
    pool->entries.assign(count, Constant());
    for (uint32_t i = 1; i < count; ++i) {
        if (!ReadEntry(r, static_cast<uint8_t>(r->U1()), &pool->entries[i])) return false;
        const uint8_t tag = pool->entries[i].tag;
        if (tag == kTagLong || tag == kTagDouble) {
            if (++i >= count) return false;  // takes two entries, so it cannot be the last
        }
    }
    return true;
}

void WriteConstantPool(const ConstantPool& pool, Writer* w) {
    w->U2(static_cast<uint32_t>(pool.entries.size()));
    for (size_t i = 1; i < pool.entries.size(); ++i) {
        const Constant& c = pool.entries[i];
        if (c.tag == kTagUnusable) continue;  // the second slot of a Long or Double
        w->U1(c.tag);
        switch (c.tag) {
            case kTagUtf8:
                w->U2(static_cast<uint32_t>(c.utf8.size()));
                w->Bytes(reinterpret_cast<const uint8_t*>(c.utf8.data()), c.utf8.size());
                break;
            case kTagInteger: case kTagFloat: w->U4(c.first); break;
            case kTagLong: case kTagDouble: w->U4(c.first); w->U4(c.second); break;
            case kTagClass: case kTagString: case kTagMethodType: case kTagModule: case kTagPackage:
                w->U2(c.first);
                break;
            case kTagMethodHandle: w->U1(c.first); w->U2(c.second); break;
            default: w->U2(c.first); w->U2(c.second); break;
        }
    }
}

const Constant* ConstantPool::At(uint32_t index, uint8_t tag) const {
    if (index == 0 || index >= entries.size() || entries[index].tag != tag) return nullptr;
    return &entries[index];
}

const std::string* ConstantPool::Utf8(uint32_t index) const {
    const Constant* c = At(index, kTagUtf8);
    return c != nullptr ? &c->utf8 : nullptr;
}

const std::string* ConstantPool::ClassName(uint32_t classIndex) const {
    const Constant* c = At(classIndex, kTagClass);
    return c != nullptr ? Utf8(c->first) : nullptr;
}

bool ConstantPool::MemberNameAndType(uint32_t index, std::string* name, std::string* descriptor) const {
    if (index == 0 || index >= entries.size()) return false;
    const Constant& c = entries[index];
    switch (c.tag) {
        case kTagFieldref: case kTagMethodref: case kTagInterfaceMethodref:
        case kTagDynamic: case kTagInvokeDynamic: break;
        default: return false;
    }
    const Constant* nat = At(c.second, kTagNameAndType);
    if (nat == nullptr) return false;
    const std::string* n = Utf8(nat->first);
    const std::string* d = Utf8(nat->second);
    if (n == nullptr || d == nullptr) return false;
    *name = *n;
    *descriptor = *d;
    return true;
}

uint16_t ConstantPool::FindOrAdd(const Constant& c) {
    if (entries.empty()) entries.resize(1);
    for (size_t i = 1; i < entries.size(); ++i) {
        if (SameConstant(entries[i], c)) return static_cast<uint16_t>(i);
    }
    if (entries.size() >= kMaxEntries) return 0;
    entries.push_back(c);
    return static_cast<uint16_t>(entries.size() - 1);
}

uint16_t ConstantPool::Utf8Index(const std::string& s) {
    if (s.size() > 65535) return 0;
    Constant c;
    c.tag = kTagUtf8;
    c.utf8 = s;
    return FindOrAdd(c);
}

uint16_t ConstantPool::ClassIndex(const std::string& internalName) {
    const uint16_t name = Utf8Index(internalName);
    if (name == 0) return 0;
    return FindOrAdd({kTagClass, std::string(), name, 0});
}

uint16_t ConstantPool::StringIndex(const std::string& s) {
    const uint16_t utf8 = Utf8Index(s);
    if (utf8 == 0) return 0;
    return FindOrAdd({kTagString, std::string(), utf8, 0});
}

uint16_t ConstantPool::IntegerIndex(int32_t value) {
    return FindOrAdd({kTagInteger, std::string(), static_cast<uint32_t>(value), 0});
}

uint16_t ConstantPool::NameAndTypeIndex(const std::string& name, const std::string& descriptor) {
    const uint16_t n = Utf8Index(name);
    const uint16_t d = Utf8Index(descriptor);
    if (n == 0 || d == 0) return 0;
    return FindOrAdd({kTagNameAndType, std::string(), n, d});
}

uint16_t ConstantPool::MemberRefIndex(uint8_t tag, const std::string& owner, const std::string& name,
                                      const std::string& descriptor) {
    const uint16_t cls = ClassIndex(owner);
    const uint16_t nat = NameAndTypeIndex(name, descriptor);
    if (cls == 0 || nat == 0) return 0;
    return FindOrAdd({tag, std::string(), cls, nat});
}

uint16_t ConstantPool::FieldrefIndex(const std::string& owner, const std::string& name,
                                     const std::string& descriptor) {
    return MemberRefIndex(kTagFieldref, owner, name, descriptor);
}

uint16_t ConstantPool::MethodrefIndex(const std::string& owner, const std::string& name,
                                      const std::string& descriptor) {
    return MemberRefIndex(kTagMethodref, owner, name, descriptor);
}

uint16_t ConstantPool::InterfaceMethodrefIndex(const std::string& owner, const std::string& name,
                                               const std::string& descriptor) {
    return MemberRefIndex(kTagInterfaceMethodref, owner, name, descriptor);
}

}  // namespace bytecode

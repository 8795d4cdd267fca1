#include "bytecode/class_file.h"

namespace bytecode {
namespace {
bool ReadAttributes(Reader* r, std::vector<Attribute>* out) {
    const uint32_t n = r->U2();
    if (r->failed) return false;
    out->resize(n);
    for (Attribute& a : *out) {
        a.name = static_cast<uint16_t>(r->U2());
        const uint32_t length = r->U4();
        const uint8_t* p = r->Take(length);
        if (p == nullptr) return false;
        a.bytes.assign(p, p + length);
    }
    return true;
}

bool ReadMembers(Reader* r, std::vector<Member>* out) {
    const uint32_t n = r->U2();
    if (r->failed) return false;
    out->resize(n);
    for (Member& m : *out) {
        m.access = static_cast<uint16_t>(r->U2());
        m.name = static_cast<uint16_t>(r->U2());
        m.descriptor = static_cast<uint16_t>(r->U2());
        if (!ReadAttributes(r, &m.attributes)) return false;
    }
    return true;
}

void WriteAttributes(const std::vector<Attribute>& attributes, Writer* w) {
    w->U2(static_cast<uint32_t>(attributes.size()));
    for (const Attribute& a : attributes) {
        w->U2(a.name);
        w->U4(static_cast<uint32_t>(a.bytes.size()));
        w->Bytes(a.bytes);
    }
}

void WriteMembers(const std::vector<Member>& members, Writer* w) {
    w->U2(static_cast<uint32_t>(members.size()));
    for (const Member& m : members) {
        w->U2(m.access);
        w->U2(m.name);
        w->U2(m.descriptor);
        WriteAttributes(m.attributes, w);
    }
}
}  // namespace

Refusal ParseClassFile(const uint8_t* data, size_t size, ClassFile* out) {
    *out = ClassFile();
    Reader r{data, size};
    if (r.U4() != 0xCAFEBABE) return Refusal::kMalformedClass;
    out->minor = static_cast<uint16_t>(r.U2());
    out->major = static_cast<uint16_t>(r.U2());
    if (r.failed) return Refusal::kMalformedClass;
    if (out->major < kOldestMajorVersion || out->major > kNewestMajorVersion) {
        return Refusal::kUnsupportedVersion;
    }
    if (!ReadConstantPool(&r, &out->pool)) return Refusal::kMalformedClass;
    out->access = static_cast<uint16_t>(r.U2());
    out->thisClass = static_cast<uint16_t>(r.U2());
    out->superClass = static_cast<uint16_t>(r.U2());
    out->interfaces.resize(r.U2());
    for (uint16_t& i : out->interfaces) i = static_cast<uint16_t>(r.U2());
    if (r.failed || !ReadMembers(&r, &out->fields) || !ReadMembers(&r, &out->methods) ||
        !ReadAttributes(&r, &out->attributes) || !r.AtEnd()) {
        return Refusal::kMalformedClass;
    }
    if (out->pool.ClassName(out->thisClass) == nullptr) return Refusal::kMalformedClass;
    for (const Member& m : out->methods) {
        if (out->pool.Utf8(m.name) == nullptr || out->pool.Utf8(m.descriptor) == nullptr) {
            return Refusal::kMalformedClass;
        }
    }
    return Refusal::kNone;
}

void WriteClassFile(const ClassFile& cls, std::vector<uint8_t>* out) {
    out->clear();
    Writer w{out};
    w.U4(0xCAFEBABE);
    w.U2(cls.minor);
    w.U2(cls.major);
    WriteConstantPool(cls.pool, &w);
    w.U2(cls.access);
    w.U2(cls.thisClass);
    w.U2(cls.superClass);
    w.U2(static_cast<uint32_t>(cls.interfaces.size()));
    for (uint16_t i : cls.interfaces) w.U2(i);
    WriteMembers(cls.fields, &w);
    WriteMembers(cls.methods, &w);
    WriteAttributes(cls.attributes, &w);
}

Attribute* FindCodeAttribute(const ClassFile& cls, Member* method) {
    Attribute* code = nullptr;
    for (Attribute& a : method->attributes) {
        const std::string* name = cls.pool.Utf8(a.name);
        if (name == nullptr || *name != "Code") continue;
        if (code != nullptr) return nullptr;
        code = &a;
    }
    return code;
}

Member* FindMethod(ClassFile* cls, const char* name, const char* descriptor) {
    for (Member& m : cls->methods) {
        const std::string* n = cls->pool.Utf8(m.name);
        const std::string* d = cls->pool.Utf8(m.descriptor);
        if (n != nullptr && d != nullptr && *n == name && *d == descriptor) return &m;
    }
    return nullptr;
}

}  // namespace bytecode

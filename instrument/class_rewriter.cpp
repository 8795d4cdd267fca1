#include "instrument/class_rewriter.h"

#include <cstring>

#include "bytecode/access_flags.h"
#include "bytecode/byte_io.h"

namespace {
constexpr uint32_t kPrefixLength = 8;
using bytecode::kAccStatic;
using bytecode::kAccNative;
using bytecode::kAccAbstract;

using bytecode::Reader;
using bytecode::Writer;

// The constant pool's Utf8 entries, by index (empty for other entries).
struct ConstantPool {
    uint32_t count = 0;
    std::vector<std::string> utf8;
    std::vector<uint16_t> classNames;  // a Class entry's name index, 0 for other entries
    size_t begin = 0;  // offset of the first entry
    size_t end = 0;    // offset just past the last entry
};

bool ReadConstantPool(Reader* r, ConstantPool* pool) {
    pool->count = r->U2();
    pool->utf8.assign(pool->count, std::string());
    pool->classNames.assign(pool->count, 0);
    pool->begin = r->pos;
    for (uint32_t i = 1; i < pool->count && !r->failed; ++i) {
        const uint32_t tag = r->U1();
        switch (tag) {
            case 1: {
                const uint32_t length = r->U2();
                if (!r->Has(length)) return false;
                pool->utf8[i].assign(reinterpret_cast<const char*>(r->data + r->pos), length);
                r->pos += length;
                break;
            }
            case 3: case 4: case 9: case 10: case 11: case 12: case 17: case 18: r->Skip(4); break;
            case 5: case 6:  // takes two entries, so it cannot be the last
                if (++i >= pool->count) return false;
                r->Skip(8);
                break;
            case 7: pool->classNames[i] = static_cast<uint16_t>(r->U2()); break;
            case 8: case 16: case 19: case 20: r->Skip(2); break;
            case 15: r->Skip(3); break;
            default: return false;
        }
    }
    pool->end = r->pos;
    return !r->failed;
}

// Constant pool indices of what the prefix refers to.
struct HookConstants {
    uint32_t methodref;
    uint32_t firstId;  // the Integer of probe i is firstId + i
};

// Appends the hook's Methodref and one Integer per probe to the pool.
HookConstants AppendHookConstants(Writer* w, uint32_t count, const std::vector<EntryProbe>& probes) {
    const uint32_t className = count, classRef = count + 1, name = count + 2,
                   descriptor = count + 3, nameAndType = count + 4, methodref = count + 5;
    w->Utf8(kEntryHookClass);
    w->U1(7); w->U2(className);
    w->Utf8(kEntryHookMethod);
    w->Utf8(kEntryHookDescriptor);
    w->U1(12); w->U2(name); w->U2(descriptor);
    w->U1(10); w->U2(classRef); w->U2(nameAndType);
    for (const EntryProbe& p : probes) {
        w->U1(3);
        w->U4(static_cast<uint32_t>(p.id));
    }
    return {methodref, count + 6};
}

// Copies `n` attributes (or fields' and methods' member_info with their attributes) verbatim.
void SkipAttributes(Reader* r) {
    const uint32_t n = r->U2();
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        r->U2();
        r->Skip(r->U4());
    }
}

// One verification type; an uninitialized value's offset (of its `new` instruction) moves.
bool CopyVerificationType(Reader* r, Writer* w) {
    const uint32_t tag = r->U1();
    w->U1(tag);
    if (tag == 7) w->U2(r->U2());                      // Object: a constant pool index
    else if (tag == 8) w->U2(r->U2() + kPrefixLength);  // Uninitialized: a code offset
    else if (tag > 8) return false;
    return !r->failed;
}

bool CopyVerificationTypes(Reader* r, uint32_t n, Writer* w) {
    for (uint32_t i = 0; i < n; ++i) {
        if (!CopyVerificationType(r, w)) return false;
    }
    return true;
}

// Reads the header and the constant pool and steps over the class's own fields: the reader
// stops at the method count.
bool ReadUpToMethods(Reader* r, ConstantPool* pool, uint32_t* superClass = nullptr) {
    if (r->U4() != 0xCAFEBABE) return false;
    r->U2(); r->U2();  // minor and major version
    if (!ReadConstantPool(r, pool)) return false;
    r->Skip(4);  // access flags, this class
    const uint32_t super = r->U2();
    if (superClass != nullptr) *superClass = super;
    r->Skip(2 * size_t{r->U2()});  // interfaces
    const uint32_t fields = r->U2();
    for (uint32_t i = 0; i < fields && !r->failed; ++i) {
        r->Skip(6);
        SkipAttributes(r);
    }
    return !r->failed;
}

// The first frame's offset moves by the prefix (the others are relative to it), and so do the
// offsets of uninitialized values in every frame.
bool WriteStackMapTable(Reader* r, uint32_t length, Writer* w) {
    const size_t end = r->pos + length;
    const size_t lengthAt = w->out->size();
    w->U4(0);
    const size_t start = w->out->size();
    const uint32_t frames = r->U2();
    w->U2(frames);
    for (uint32_t f = 0; f < frames && !r->failed; ++f) {
        const uint32_t type = r->U1();
        const uint32_t shift = f == 0 ? kPrefixLength : 0;
        bool ok = true;
        if (type < 64) {
            const uint32_t delta = type + shift;
            if (delta < 64) w->U1(delta);
            else { w->U1(251); w->U2(delta); }
        } else if (type < 128) {
            const uint32_t delta = type - 64 + shift;
            if (delta < 64) w->U1(64 + delta);
            else { w->U1(247); w->U2(delta); }
            ok = CopyVerificationType(r, w);
        } else if (type < 247) {
            return false;  // reserved frame types
        } else {
            w->U1(type);
            w->U2(r->U2() + shift);
            if (type == 247) {
                ok = CopyVerificationType(r, w);
            } else if (type >= 252 && type <= 254) {
                ok = CopyVerificationTypes(r, type - 251, w);
            } else if (type == 255) {
                const uint32_t locals = r->U2();
                w->U2(locals);
                ok = CopyVerificationTypes(r, locals, w);
                const uint32_t stack = r->U2();
                w->U2(stack);
                ok = ok && CopyVerificationTypes(r, stack, w);
            }
        }
        if (!ok) return false;
    }
    if (r->failed || r->pos != end) return false;
    w->PatchU4(lengthAt, static_cast<uint32_t>(w->out->size() - start));
    return true;
}

// LineNumberTable, LocalVariableTable, LocalVariableTypeTable: each entry starts with a pc.
bool WritePcTable(Reader* r, uint32_t length, uint32_t entrySize, Writer* w) {
    const size_t end = r->pos + length;
    w->U4(length);
    const uint32_t n = r->U2();
    w->U2(n);
    if (2 + size_t{n} * entrySize != length) return false;
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        w->U2(r->U2() + kPrefixLength);
        for (uint32_t k = 2; k < entrySize; ++k) w->U1(r->U1());
    }
    return !r->failed && r->pos == end;
}

// Writes the Code attribute (from its length on) with the prefix. Returns why the method cannot
// be instrumented (the writer's output then in an unspecified state), or kNone.
ProbeRefusal WriteInstrumentedCode(Reader* r, const ConstantPool& pool, uint32_t length,
                                   bool isStatic, uint32_t methodref, uint32_t idConstant,
                                   Writer* w) {
    const size_t end = r->pos + length;
    const size_t lengthAt = w->out->size();
    w->U4(0);
    const size_t start = w->out->size();
    const uint32_t maxStack = r->U2();
    const uint32_t maxLocals = r->U2();
    const uint32_t codeLength = r->U4();
    if (r->failed || codeLength == 0 || !r->Has(codeLength)) return ProbeRefusal::kMalformedCode;
    if (codeLength + kPrefixLength > 65535) return ProbeRefusal::kCodeTooLong;
    w->U2(maxStack < 2 ? 2 : maxStack);
    w->U2(maxLocals);
    w->U4(codeLength + kPrefixLength);
    w->U1(isStatic ? 0x01 : 0x2a);  // aconst_null or aload_0
    w->U1(0x13); w->U2(idConstant);  // ldc_w
    w->U1(0xb8); w->U2(methodref);   // invokestatic
    w->U1(0x00);                     // nop
    w->Bytes(r->data + r->pos, codeLength);
    r->pos += codeLength;
    // Exception table: start, end and handler move; the catch type stays.
    const uint32_t handlers = r->U2();
    w->U2(handlers);
    for (uint32_t i = 0; i < handlers && !r->failed; ++i) {
        for (int k = 0; k < 3; ++k) w->U2(r->U2() + kPrefixLength);
        w->U2(r->U2());
    }
    const uint32_t attributes = r->U2();
    w->U2(attributes);
    for (uint32_t i = 0; i < attributes && !r->failed; ++i) {
        const uint32_t nameIndex = r->U2();
        const uint32_t attrLength = r->U4();
        if (nameIndex >= pool.count || !r->Has(attrLength)) return ProbeRefusal::kMalformedCode;
        const std::string& name = pool.utf8[nameIndex];
        w->U2(nameIndex);
        bool ok;
        if (name == "StackMapTable") ok = WriteStackMapTable(r, attrLength, w);
        else if (name == "LineNumberTable") ok = WritePcTable(r, attrLength, 4, w);
        else if (name == "LocalVariableTable" || name == "LocalVariableTypeTable")
            ok = WritePcTable(r, attrLength, 10, w);
        else return ProbeRefusal::kUnknownCodeAttribute;  // it may hold code offsets too
        if (!ok) return ProbeRefusal::kMalformedCode;
    }
    if (r->failed || r->pos != end) return ProbeRefusal::kMalformedCode;
    w->PatchU4(lengthAt, static_cast<uint32_t>(w->out->size() - start));
    return ProbeRefusal::kNone;
}

// Copies one method, instrumenting it when a probe names it.
bool CopyMethod(Reader* r, const ConstantPool& pool, const HookConstants& hook,
                std::vector<EntryProbe>* probes, Writer* w) {
    const uint32_t access = r->U2(), name = r->U2(), descriptor = r->U2();
    if (name >= pool.count || descriptor >= pool.count) return false;
    w->U2(access); w->U2(name); w->U2(descriptor);
    EntryProbe* probe = nullptr;
    for (EntryProbe& p : *probes) {
        if (p.name == pool.utf8[name] && p.descriptor == pool.utf8[descriptor]) probe = &p;
    }
    const bool constructor = pool.utf8[name] == "<init>";
    const bool codeless = (access & (kAccNative | kAccAbstract)) != 0;
    const bool candidate = probe != nullptr && !constructor && !codeless;
    if (probe != nullptr) {
        probe->refusal = constructor ? ProbeRefusal::kConstructor : ProbeRefusal::kNoCode;
    }
    const uint32_t attributes = r->U2();
    w->U2(attributes);
    for (uint32_t i = 0; i < attributes && !r->failed; ++i) {
        const uint32_t attrName = r->U2();
        const uint32_t length = r->U4();
        if (attrName >= pool.count || !r->Has(length)) return false;
        w->U2(attrName);
        // One Code attribute gets the prefix: a method has one (the VM refuses more).
        if (candidate && !probe->instrumented && pool.utf8[attrName] == "Code") {
            const size_t readFrom = r->pos;
            const size_t writtenTo = w->out->size();
            const uint32_t idConstant = hook.firstId + static_cast<uint32_t>(probe - probes->data());
            // A <clinit> has no receiver even without ACC_STATIC, which class files before
            // version 51 may omit (the VM treats it as static; later versions require the flag).
            const bool isStatic = (access & kAccStatic) != 0 || pool.utf8[name] == "<clinit>";
            probe->refusal = WriteInstrumentedCode(r, pool, length, isStatic, hook.methodref,
                                                   idConstant, w);
            if (probe->refusal == ProbeRefusal::kNone) {
                probe->instrumented = true;
                continue;
            }
            // Not instrumentable: the method stays as it was.
            r->pos = readFrom;
            r->failed = false;
            w->out->resize(writtenTo);
        }
        w->U4(length);
        w->Bytes(r->data + r->pos, length);
        r->pos += length;
    }
    return !r->failed;
}

// The class file as a whole is refused: no probe is instrumented.
bool RefuseAll(std::vector<EntryProbe>* probes, ProbeRefusal refusal, std::vector<uint8_t>* out) {
    out->clear();
    for (EntryProbe& p : *probes) {
        p.instrumented = false;
        p.refusal = refusal;
    }
    return false;
}
}  // namespace

const char* ProbeRefusalName(ProbeRefusal refusal) {
    switch (refusal) {
        case ProbeRefusal::kNone: return "none";
        case ProbeRefusal::kMethodNotFound: return "method not found";
        case ProbeRefusal::kConstructor: return "constructor";
        case ProbeRefusal::kNoCode: return "no code";
        case ProbeRefusal::kCodeTooLong: return "code too long";
        case ProbeRefusal::kUnknownCodeAttribute: return "unknown code attribute";
        case ProbeRefusal::kMalformedCode: return "malformed code";
        case ProbeRefusal::kMalformedClass: return "malformed class";
        case ProbeRefusal::kConstantPoolFull: return "constant pool full";
    }
    return "unknown";
}

bool ListInstrumentableMethods(const uint8_t* data, size_t size, std::vector<DeclaredMethod>* out,
                               std::string* superName) {
    out->clear();
    Reader r{data, size};
    ConstantPool pool;
    uint32_t super = 0;
    if (!ReadUpToMethods(&r, &pool, &super)) return false;
    if (superName != nullptr) superName->clear();
    if (superName != nullptr && super != 0) {
        const uint32_t name = super < pool.count ? pool.classNames[super] : 0;
        if (name == 0 || name >= pool.count) return false;
        *superName = pool.utf8[name];
    }
    const uint32_t methods = r.U2();
    for (uint32_t i = 0; i < methods && !r.failed; ++i) {
        const uint32_t access = r.U2(), name = r.U2(), descriptor = r.U2();
        SkipAttributes(&r);
        if (name >= pool.count || descriptor >= pool.count) return false;
        if ((access & (kAccNative | kAccAbstract)) || pool.utf8[name] == "<init>") continue;
        out->push_back({pool.utf8[name], pool.utf8[descriptor], static_cast<uint16_t>(access)});
    }
    return !r.failed;
}

bool RewriteClass(const uint8_t* data, size_t size, std::vector<EntryProbe>* probes,
                  std::vector<uint8_t>* out) {
    out->clear();
    for (EntryProbe& p : *probes) {
        p.instrumented = false;
        p.refusal = ProbeRefusal::kMethodNotFound;
    }
    Reader r{data, size};
    ConstantPool pool;
    if (!ReadUpToMethods(&r, &pool)) return RefuseAll(probes, ProbeRefusal::kMalformedClass, out);
    const size_t added = 6 + probes->size();
    if (pool.count + added > 65535) return RefuseAll(probes, ProbeRefusal::kConstantPoolFull, out);

    out->reserve(size + 128 + probes->size() * 16);
    Writer w{out};
    w.Bytes(data, 8);
    w.U2(static_cast<uint32_t>(pool.count + added));
    w.Bytes(data + pool.begin, pool.end - pool.begin);
    const HookConstants hook = AppendHookConstants(&w, pool.count, *probes);

    // access flags, this and super class, interfaces and fields, as they are
    w.Bytes(data + pool.end, r.pos - pool.end);
    // methods
    const uint32_t methods = r.U2();
    w.U2(methods);
    for (uint32_t i = 0; i < methods; ++i) {
        if (!CopyMethod(&r, pool, hook, probes, &w)) {
            return RefuseAll(probes, ProbeRefusal::kMalformedClass, out);
        }
    }
    // class attributes
    const size_t attributesFrom = r.pos;
    SkipAttributes(&r);
    if (r.failed || r.pos != size) return RefuseAll(probes, ProbeRefusal::kMalformedClass, out);
    w.Bytes(data + attributesFrom, r.pos - attributesFrom);

    bool any = false;
    for (const EntryProbe& p : *probes) any = any || p.instrumented;
    if (!any) out->clear();
    return any;
}

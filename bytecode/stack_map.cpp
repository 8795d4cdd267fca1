#include "bytecode/stack_map.h"

#include "bytecode/descriptors.h"

namespace bytecode {
namespace {
constexpr uint32_t kSameExtended = 251;
constexpr uint32_t kSameLocals1Extended = 247;
constexpr uint32_t kFull = 255;

bool ReadType(Reader* r, VerificationType* t) {
    t->tag = static_cast<uint8_t>(r->U1());
    if (t->tag == kObject) {
        // Index 0 names no constant; in the model it means "a class by name", so reading it
        // would write back another index.
        t->classIndex = static_cast<uint16_t>(r->U2());
        if (t->classIndex == 0) return false;
    } else if (t->tag == kUninitialized) t->newLabel = r->U2();
    else if (t->tag > kUninitialized) return false;
    return !r->failed;
}

bool ReadTypes(Reader* r, uint32_t n, std::vector<VerificationType>* out) {
    for (uint32_t i = 0; i < n; ++i) {
        VerificationType t;
        if (!ReadType(r, &t)) return false;
        out->push_back(t);
    }
    return true;
}

// Reads one frame after its frame_type byte; `f` starts as a copy of the previous frame.
bool ReadFrameBody(Reader* r, uint32_t type, Frame* f, uint32_t* delta) {
    f->stack.clear();
    if (type < 64) {
        *delta = type;
        return true;
    }
    if (type < 128) {
        *delta = type - 64;
        return ReadTypes(r, 1, &f->stack);
    }
    if (type < kSameLocals1Extended) return false;  // reserved
    *delta = r->U2();
    if (type == kSameLocals1Extended) return ReadTypes(r, 1, &f->stack);
    if (type < kSameExtended) {  // chop
        const uint32_t k = kSameExtended - type;
        if (f->locals.size() < k) return false;
        f->locals.resize(f->locals.size() - k);
        return !r->failed;
    }
    if (type == kSameExtended) return !r->failed;
    if (type < kFull) return ReadTypes(r, type - kSameExtended, &f->locals);  // append
    f->locals.clear();
    const uint32_t locals = r->U2();
    if (!ReadTypes(r, locals, &f->locals)) return false;
    const uint32_t stack = r->U2();
    return ReadTypes(r, stack, &f->stack);
}

Refusal WriteType(const VerificationType& t, const std::vector<uint32_t>& offsets,
                  ConstantPool* pool, Writer* w) {
    w->U1(t.tag);
    if (t.tag == kObject) {
        const uint16_t index = t.classIndex != 0 ? t.classIndex : pool->ClassIndex(t.className);
        if (index == 0) return Refusal::kConstantPoolFull;
        w->U2(index);
    } else if (t.tag == kUninitialized) {
        if (t.newLabel >= offsets.size()) return Refusal::kMalformedCode;
        w->U2(offsets[t.newLabel]);
    }
    return Refusal::kNone;
}

Refusal WriteTypes(const std::vector<VerificationType>& types, size_t from,
                   const std::vector<uint32_t>& offsets, ConstantPool* pool, Writer* w) {
    for (size_t i = from; i < types.size(); ++i) {
        const Refusal refusal = WriteType(types[i], offsets, pool, w);
        if (refusal != Refusal::kNone) return refusal;
    }
    return Refusal::kNone;
}

Refusal WriteFullFrame(const Frame& f, uint32_t delta, const std::vector<uint32_t>& offsets,
                       ConstantPool* pool, Writer* w) {
    w->U1(kFull);
    w->U2(delta);
    w->U2(static_cast<uint32_t>(f.locals.size()));
    Refusal refusal = WriteTypes(f.locals, 0, offsets, pool, w);
    if (refusal != Refusal::kNone) return refusal;
    w->U2(static_cast<uint32_t>(f.stack.size()));
    return WriteTypes(f.stack, 0, offsets, pool, w);
}

// The frame in the compressed form it was read with (its predecessor being the same).
Refusal WriteCompressedFrame(const Frame& f, uint32_t delta, const std::vector<uint32_t>& offsets,
                             ConstantPool* pool, Writer* w) {
    const uint32_t type = static_cast<uint32_t>(f.encoding);
    if (type < 64 || type == kSameExtended) {
        if (type < 64 && delta < 64) w->U1(delta);
        else { w->U1(kSameExtended); w->U2(delta); }
        return Refusal::kNone;
    }
    if (type < 128 || type == kSameLocals1Extended) {
        if (type < 128 && delta < 64) w->U1(64 + delta);
        else { w->U1(kSameLocals1Extended); w->U2(delta); }
        return WriteTypes(f.stack, 0, offsets, pool, w);
    }
    if (type == kFull) return WriteFullFrame(f, delta, offsets, pool, w);
    w->U1(type);
    w->U2(delta);
    if (type < kSameExtended) return Refusal::kNone;  // chop
    const size_t appended = type - kSameExtended;
    return WriteTypes(f.locals, f.locals.size() - appended, offsets, pool, w);
}
}  // namespace

bool InitialFrame(const MethodContext& method, Frame* out) {
    *out = Frame();
    std::vector<std::string> parameters;
    std::string returnType;
    if (!ParseMethodDescriptor(method.descriptor, &parameters, &returnType)) return false;
    if (!method.isStatic) {
        if (method.isConstructor && method.thisClass != "java/lang/Object") {
            VerificationType t;
            t.tag = kUninitializedThis;
            out->locals.push_back(t);
        } else {
            out->locals.push_back(ObjectType(method.thisClass));
        }
    }
    for (const std::string& p : parameters) out->locals.push_back(TypeOfDescriptor(p));
    return true;
}

bool ReadStackMapTable(Reader* r, const Frame& initial, std::vector<Frame>* out) {
    out->clear();
    const uint32_t n = r->U2();
    Frame previous = initial;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        const uint32_t type = r->U1();
        Frame f = previous;
        uint32_t delta = 0;
        if (!ReadFrameBody(r, type, &f, &delta)) return false;
        offset = i == 0 ? delta : offset + delta + 1;
        if (offset > 65535) return false;
        f.at = static_cast<LabelId>(offset);
        f.encoding = static_cast<int16_t>(type);
        f.ordinal = i;
        out->push_back(f);
        previous = f;
    }
    return !r->failed;
}

Refusal WriteStackMapTable(const std::vector<Frame>& frames, const std::vector<uint32_t>& offsets,
                           ConstantPool* pool, Writer* w) {
    w->U2(static_cast<uint32_t>(frames.size()));
    const Frame* previous = nullptr;
    for (const Frame& f : frames) {
        if (f.at >= offsets.size()) return Refusal::kMalformedCode;
        const uint32_t offset = offsets[f.at];
        if (previous != nullptr && offset <= offsets[previous->at]) return Refusal::kMalformedCode;
        const uint32_t delta = previous == nullptr ? offset : offset - offsets[previous->at] - 1;
        const bool sameOrigin =
            f.encoding >= 0 && (previous == nullptr ? f.ordinal == 0
                                                    : previous->encoding >= 0 &&
                                                          previous->ordinal + 1 == f.ordinal);
        const Refusal refusal = sameOrigin ? WriteCompressedFrame(f, delta, offsets, pool, w)
                                           : WriteFullFrame(f, delta, offsets, pool, w);
        if (refusal != Refusal::kNone) return refusal;
        previous = &f;
    }
    return Refusal::kNone;
}

std::vector<VerificationType> ItemsToSlots(const std::vector<VerificationType>& items) {
    std::vector<VerificationType> slots;
    for (const VerificationType& t : items) {
        slots.push_back(t);
        if (t.IsWide()) slots.push_back(VerificationType());
    }
    return slots;
}

std::vector<VerificationType> SlotsToItems(const std::vector<VerificationType>& slots, bool trimTops) {
    std::vector<VerificationType> items;
    for (size_t i = 0; i < slots.size(); ++i) {
        items.push_back(slots[i]);
        if (slots[i].IsWide()) ++i;
    }
    while (trimTops && !items.empty() && items.back().tag == kTop) items.pop_back();
    return items;
}

}  // namespace bytecode

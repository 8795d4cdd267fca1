#include "bytecode/code_reader.h"

#include "bytecode/byte_io.h"
#include "bytecode/opcodes.h"

namespace bytecode {
namespace {
constexpr uint32_t kMaxCodeLength = 65535;

// The code's offsets while it is read: which are instruction starts, and which need a label.
struct OffsetMap {
    uint32_t codeLength = 0;
    std::vector<bool> isStart;     // by offset, codeLength + 1 entries (the end counts)
    std::vector<int64_t> labelAt;  // by offset: a label id, or -1
    std::vector<int64_t> newAt;    // by offset: the label a `new` there binds, or -1
    uint32_t labels = 0;

    // Marks `offset` as needing a label; false when it is not an instruction start (or the
    // end, where `endAllowed`).
    bool Want(int64_t offset, bool endAllowed = false) {
        if (offset < 0 || offset > codeLength) return false;
        if (offset == codeLength ? !endAllowed : !isStart[static_cast<size_t>(offset)]) return false;
        if (labelAt[static_cast<size_t>(offset)] < 0) labelAt[static_cast<size_t>(offset)] = labels++;
        return true;
    }
    LabelId Label(int64_t offset) const { return static_cast<LabelId>(labelAt[static_cast<size_t>(offset)]); }
};

struct ReadInstruction {
    uint32_t offset;
    Instruction ins;  // targets hold absolute code offsets until mapped
};

int64_t BranchTarget(uint32_t at, int32_t relative) { return int64_t{at} + relative; }

Refusal ReadSwitch(Reader* r, uint32_t at, Instruction* ins) {
    // Padding is written back as zeros; the verifier of current class files refuses any other
    // (older ones ignore it), so a method with other padding is left as it is.
    for (uint32_t pad = (4 - (at + 1) % 4) % 4; pad > 0; --pad) {
        if (r->U1() != 0) return Refusal::kMalformedCode;
    }
    ins->target = static_cast<LabelId>(BranchTarget(at, r->S4()));
    if (ins->opcode == op::kTableswitch) {
        ins->low = r->S4();
        const int32_t high = r->S4();
        if (r->failed || high < ins->low) return Refusal::kMalformedCode;
        const int64_t n = int64_t{high} - ins->low + 1;
        if (n > kMaxCodeLength) return Refusal::kMalformedCode;
        for (int64_t i = 0; i < n && !r->failed; ++i) {
            ins->targets.push_back(static_cast<LabelId>(BranchTarget(at, r->S4())));
        }
    } else {
        const int32_t n = r->S4();
        if (r->failed || n < 0 || n > static_cast<int32_t>(kMaxCodeLength)) return Refusal::kMalformedCode;
        for (int32_t i = 0; i < n && !r->failed; ++i) {
            ins->keys.push_back(r->S4());
            ins->targets.push_back(static_cast<LabelId>(BranchTarget(at, r->S4())));
        }
    }
    return r->failed ? Refusal::kMalformedCode : Refusal::kNone;
}

Refusal ReadOne(Reader* r, uint32_t at, Instruction* ins) {
    uint32_t opcode = r->U1();
    if (opcode == op::kWide) {
        ins->wide = true;
        opcode = r->U1();
        const bool widenable = FormOf(static_cast<uint8_t>(opcode)) == OperandForm::kLocal ||
                               opcode == op::kIinc;
        if (r->failed || !widenable) return Refusal::kMalformedCode;
    }
    ins->opcode = static_cast<uint16_t>(opcode);
    switch (FormOf(static_cast<uint8_t>(opcode))) {
        case OperandForm::kInvalid: case OperandForm::kWide: return Refusal::kUnknownOpcode;
        case OperandForm::kNone: break;
        case OperandForm::kLocal: ins->operand = static_cast<int32_t>(ins->wide ? r->U2() : r->U1()); break;
        case OperandForm::kByte:
            ins->operand = opcode == op::kBipush ? static_cast<int8_t>(r->U1()) : static_cast<int32_t>(r->U1());
            break;
        case OperandForm::kShort: ins->operand = static_cast<int16_t>(r->U2()); break;
        case OperandForm::kConstant1: ins->operand = static_cast<int32_t>(r->U1()); break;
        case OperandForm::kConstant2: ins->operand = static_cast<int32_t>(r->U2()); break;
        case OperandForm::kIinc:
            ins->operand = static_cast<int32_t>(ins->wide ? r->U2() : r->U1());
            ins->operand2 = ins->wide ? static_cast<int16_t>(r->U2()) : static_cast<int8_t>(r->U1());
            break;
        case OperandForm::kBranch2:
            ins->target = static_cast<LabelId>(BranchTarget(at, static_cast<int16_t>(r->U2())));
            break;
        case OperandForm::kBranch4: ins->target = static_cast<LabelId>(BranchTarget(at, r->S4())); break;
        case OperandForm::kTableswitch: case OperandForm::kLookupswitch: return ReadSwitch(r, at, ins);
        case OperandForm::kInvokeinterface:
            ins->operand = static_cast<int32_t>(r->U2());
            ins->operand2 = static_cast<int32_t>(r->U1());
            if (r->U1() != 0 || ins->operand2 == 0) return Refusal::kMalformedCode;
            break;
        case OperandForm::kInvokedynamic:
            ins->operand = static_cast<int32_t>(r->U2());
            if (r->U2() != 0) return Refusal::kMalformedCode;
            break;
        case OperandForm::kMultianewarray:
            ins->operand = static_cast<int32_t>(r->U2());
            ins->operand2 = static_cast<int32_t>(r->U1());
            if (ins->operand2 == 0) return Refusal::kMalformedCode;
            break;
    }
    return r->failed ? Refusal::kMalformedCode : Refusal::kNone;
}

bool IsBranch(const Instruction& ins) {
    const OperandForm f = FormOf(static_cast<uint8_t>(ins.opcode));
    return f == OperandForm::kBranch2 || f == OperandForm::kBranch4;
}
bool IsSwitch(const Instruction& ins) {
    return ins.opcode == op::kTableswitch || ins.opcode == op::kLookupswitch;
}

// Reads the instructions and marks their starts.
Refusal ReadInstructions(const uint8_t* code, uint32_t length, OffsetMap* map,
                         std::vector<ReadInstruction>* out) {
    Reader r{code, length};
    while (r.pos < length) {
        ReadInstruction ri{static_cast<uint32_t>(r.pos), Instruction()};
        map->isStart[r.pos] = true;
        const Refusal refusal = ReadOne(&r, ri.offset, &ri.ins);
        if (refusal != Refusal::kNone) return refusal;
        out->push_back(std::move(ri));
    }
    return Refusal::kNone;
}

// Gives every branch and switch target, and every `new`, a label.
bool LabelInstructions(std::vector<ReadInstruction>* instructions, OffsetMap* map) {
    for (ReadInstruction& ri : *instructions) {
        Instruction& ins = ri.ins;
        if (ins.opcode == op::kNew) {
            map->newAt[ri.offset] = map->labels;
            ins.target = map->labels++;
            continue;
        }
        if (IsBranch(ins) || IsSwitch(ins)) {
            if (!map->Want(static_cast<int32_t>(ins.target))) return false;
            ins.target = map->Label(static_cast<int32_t>(ins.target));
        }
        for (LabelId& t : ins.targets) {
            if (!map->Want(static_cast<int32_t>(t))) return false;
            t = map->Label(static_cast<int32_t>(t));
        }
    }
    return true;
}

bool ReadHandlers(Reader* r, OffsetMap* map, std::vector<ExceptionHandler>* out) {
    const uint32_t n = r->U2();
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        const uint32_t start = r->U2(), end = r->U2(), handler = r->U2();
        ExceptionHandler h;
        h.catchType = static_cast<uint16_t>(r->U2());
        if (r->failed || start >= end || !map->Want(start) || !map->Want(end, true) || !map->Want(handler)) {
            return false;
        }
        h.start = map->Label(start);
        h.end = map->Label(end);
        h.handler = map->Label(handler);
        out->push_back(h);
    }
    return !r->failed;
}

bool LabelFrames(std::vector<Frame>* frames, OffsetMap* map) {
    for (Frame& f : *frames) {
        if (!map->Want(f.at)) return false;
        f.at = map->Label(f.at);
        for (std::vector<VerificationType>* types : {&f.locals, &f.stack}) {
            for (VerificationType& t : *types) {
                if (t.tag != kUninitialized) continue;
                // The offset of the `new` that made the value, which binds a label of its own.
                if (t.newLabel >= map->codeLength || map->newAt[t.newLabel] < 0) return false;
                t.newLabel = static_cast<LabelId>(map->newAt[t.newLabel]);
            }
        }
    }
    return true;
}

bool ReadLineNumbers(Reader* r, uint32_t length, OffsetMap* map, CodeAttribute* a) {
    const uint32_t n = r->U2();
    if (2 + size_t{n} * 4 != length) return false;
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        LineNumber l;
        const uint32_t pc = r->U2();
        l.line = static_cast<uint16_t>(r->U2());
        if (r->failed || !map->Want(pc)) return false;
        l.at = map->Label(pc);
        a->lines.push_back(l);
    }
    return !r->failed;
}

bool ReadLocalVariables(Reader* r, uint32_t length, OffsetMap* map, CodeAttribute* a) {
    const uint32_t n = r->U2();
    if (2 + size_t{n} * 10 != length) return false;
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        LocalVariable v;
        const uint32_t start = r->U2(), extent = r->U2();
        v.name = static_cast<uint16_t>(r->U2());
        v.descriptor = static_cast<uint16_t>(r->U2());
        v.index = static_cast<uint16_t>(r->U2());
        if (r->failed || !map->Want(start, true) || !map->Want(start + extent, true)) return false;
        v.start = map->Label(start);
        v.end = map->Label(start + extent);
        a->variables.push_back(v);
    }
    return !r->failed;
}

Refusal ReadCodeAttributes(Reader* r, const ConstantPool& pool, const MethodContext& method,
                           OffsetMap* map, Code* out) {
    const uint32_t n = r->U2();
    for (uint32_t i = 0; i < n && !r->failed; ++i) {
        CodeAttribute a;
        a.name = static_cast<uint16_t>(r->U2());
        const uint32_t length = r->U4();
        const uint8_t* body = r->Take(length);
        const std::string* name = pool.Utf8(a.name);
        if (body == nullptr || name == nullptr) return Refusal::kMalformedCode;
        Reader sub{body, length};
        bool ok;
        if (*name == "StackMapTable") {
            a.kind = CodeAttributeKind::kStackMapTable;
            Frame initial;
            if (out->hasStackMap || !InitialFrame(method, &initial)) return Refusal::kMalformedCode;
            out->hasStackMap = true;
            ok = ReadStackMapTable(&sub, initial, &out->frames) && LabelFrames(&out->frames, map);
        } else if (*name == "LineNumberTable") {
            a.kind = CodeAttributeKind::kLineNumberTable;
            ok = ReadLineNumbers(&sub, length, map, &a);
        } else if (*name == "LocalVariableTable" || *name == "LocalVariableTypeTable") {
            a.kind = *name == "LocalVariableTable" ? CodeAttributeKind::kLocalVariableTable
                                                   : CodeAttributeKind::kLocalVariableTypeTable;
            ok = ReadLocalVariables(&sub, length, map, &a);
        } else {
            return Refusal::kUnknownCodeAttribute;  // it may hold code offsets
        }
        if (!ok || !sub.AtEnd()) return Refusal::kMalformedCode;
        out->attributes.push_back(std::move(a));
    }
    return r->AtEnd() ? Refusal::kNone : Refusal::kMalformedCode;
}

// The instruction list: each instruction preceded by the mark of its offset's label.
void Assemble(std::vector<ReadInstruction>* instructions, const OffsetMap& map, Code* out) {
    for (ReadInstruction& ri : *instructions) {
        if (map.labelAt[ri.offset] >= 0) out->instructions.push_back(LabelMark(map.Label(ri.offset)));
        out->instructions.push_back(std::move(ri.ins));
    }
    if (map.labelAt[map.codeLength] >= 0) out->instructions.push_back(LabelMark(map.Label(map.codeLength)));
    out->labelCount = map.labels;
}
}  // namespace

Refusal DecodeCode(const ConstantPool& pool, const MethodContext& method, const uint8_t* data,
                   size_t size, Code* out) {
    *out = Code();
    Reader r{data, size};
    out->maxStack = out->originalMaxStack = static_cast<uint16_t>(r.U2());
    out->maxLocals = static_cast<uint16_t>(r.U2());
    const uint32_t codeLength = r.U4();
    if (r.failed || codeLength == 0 || codeLength > kMaxCodeLength) return Refusal::kMalformedCode;
    const uint8_t* code = r.Take(codeLength);
    if (code == nullptr) return Refusal::kMalformedCode;

    OffsetMap map;
    map.codeLength = codeLength;
    map.isStart.assign(codeLength + 1, false);
    map.labelAt.assign(codeLength + 1, -1);
    map.newAt.assign(codeLength + 1, -1);
    std::vector<ReadInstruction> instructions;
    Refusal refusal = ReadInstructions(code, codeLength, &map, &instructions);
    if (refusal != Refusal::kNone) return refusal;
    if (!LabelInstructions(&instructions, &map) || !ReadHandlers(&r, &map, &out->handlers)) {
        return Refusal::kMalformedCode;
    }
    refusal = ReadCodeAttributes(&r, pool, method, &map, out);
    if (refusal != Refusal::kNone) return refusal;
    Assemble(&instructions, map, out);
    return Refusal::kNone;
}

}  // namespace bytecode

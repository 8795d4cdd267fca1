#include "bytecode/insertion.h"

#include <algorithm>

#include "bytecode/opcodes.h"

namespace bytecode {
namespace {
Refusal CheckStraightLine(const std::vector<Instruction>& inserted) {
    for (const Instruction& ins : inserted) {
        if (ins.IsLabel() || ins.opcode > 0xff) return Refusal::kNotStraightLine;
        const uint8_t opcode = static_cast<uint8_t>(ins.opcode);
        const OperandForm form = FormOf(opcode);
        if (form == OperandForm::kInvalid || form == OperandForm::kWide) return Refusal::kUnknownOpcode;
        if (form == OperandForm::kBranch2 || form == OperandForm::kBranch4 || EndsFlow(opcode)) {
            return Refusal::kNotStraightLine;
        }
    }
    return Refusal::kNone;
}

// Places `inserted` at element `at`; a `new` gets a label of its own, as every `new` has.
Refusal Place(Code* code, size_t at, const std::vector<Instruction>& inserted, uint16_t extraStack,
              size_t* next) {
    const Refusal refusal = CheckStraightLine(inserted);
    if (refusal != Refusal::kNone) return refusal;
    const uint32_t stack = uint32_t{code->originalMaxStack} + extraStack;
    if (stack > 65535) return Refusal::kStackTooDeep;
    std::vector<Instruction> placed;
    placed.reserve(inserted.size());
    for (const Instruction& ins : inserted) {
        placed.push_back(ins);
        if (ins.opcode == op::kNew) placed.back().target = code->NewLabel();
    }
    code->instructions.insert(code->instructions.begin() + static_cast<std::ptrdiff_t>(at),
                              placed.begin(), placed.end());
    code->maxStack = static_cast<uint16_t>(std::max<uint32_t>(code->maxStack, stack));
    if (next != nullptr) *next = at + placed.size();
    return Refusal::kNone;
}

bool IsInstruction(const Code& code, size_t index) {
    return index < code.instructions.size() && !code.instructions[index].IsLabel();
}
}  // namespace

Instruction Simple(uint8_t opcode) {
    Instruction ins;
    ins.opcode = opcode;
    return ins;
}

Instruction WithOperand(uint8_t opcode, int32_t operand) {
    Instruction ins;
    ins.opcode = opcode;
    ins.operand = operand;
    return ins;
}

Instruction LabelMark(LabelId label) {
    Instruction ins;
    ins.opcode = kLabelMark;
    ins.operand = static_cast<int32_t>(label);
    return ins;
}

Refusal InsertBefore(Code* code, size_t index, const std::vector<Instruction>& inserted,
                     uint16_t extraStack, size_t* next) {
    if (!IsInstruction(*code, index)) return Refusal::kMalformedCode;
    // After the label marks bound to the instruction, which now mark the inserted code.
    const Refusal refusal = Place(code, index, inserted, extraStack, next);
    if (refusal == Refusal::kNone && next != nullptr) ++*next;
    return refusal;
}

Refusal InsertAfter(Code* code, size_t index, const std::vector<Instruction>& inserted,
                    uint16_t extraStack, size_t* next) {
    if (!IsInstruction(*code, index)) return Refusal::kMalformedCode;
    const uint8_t opcode = static_cast<uint8_t>(code->instructions[index].opcode);
    if (EndsFlow(opcode) || opcode == op::kJsr || opcode == op::kJsrW) return Refusal::kNoFallThrough;
    // Before the label marks of the next instruction, which keep marking it.
    return Place(code, index + 1, inserted, extraStack, next);
}

LabelId BindLabel(Code* code, size_t at) {
    const LabelId label = code->NewLabel();
    at = std::min(at, code->instructions.size());
    code->instructions.insert(code->instructions.begin() + static_cast<std::ptrdiff_t>(at), LabelMark(label));
    return label;
}

Refusal InsertAtStart(Code* code, const std::vector<Instruction>& inserted, uint16_t extraStack,
                      LabelId* after) {
    size_t next = 0;
    const Refusal refusal = Place(code, 0, inserted, extraStack, &next);
    if (refusal == Refusal::kNone && after != nullptr) *after = BindLabel(code, next);
    return refusal;
}

Refusal AppendHandler(Code* code, ConstantPool* pool, uint16_t major, LabelId start, LabelId end,
                      uint16_t catchType, const std::vector<Instruction>& block, uint16_t stack,
                      Frame frame) {
    if (block.empty() || start >= code->labelCount || end >= code->labelCount) return Refusal::kMalformedCode;
    const Instruction& last = block.back();
    if (last.IsLabel() || (last.opcode != op::kAthrow && !IsReturn(static_cast<uint8_t>(last.opcode)))) {
        return Refusal::kNotStraightLine;
    }
    const Refusal refusal = CheckStraightLine(std::vector<Instruction>(block.begin(), block.end() - 1));
    if (refusal != Refusal::kNone) return refusal;
    if (major >= 50 && !code->hasStackMap) {
        CodeAttribute table;
        table.kind = CodeAttributeKind::kStackMapTable;
        table.name = pool->Utf8Index("StackMapTable");
        if (table.name == 0) return Refusal::kConstantPoolFull;
        code->attributes.push_back(table);
        code->hasStackMap = true;
    }
    const LabelId handler = BindLabel(code, code->instructions.size());
    for (const Instruction& ins : block) {
        code->instructions.push_back(ins);
        if (ins.opcode == op::kNew) code->instructions.back().target = code->NewLabel();
    }
    code->maxStack = std::max(code->maxStack, stack);
    code->handlers.push_back({start, end, handler, catchType});
    if (code->hasStackMap) {
        frame.at = handler;
        frame.encoding = -1;
        code->frames.push_back(frame);
    }
    return Refusal::kNone;
}

bool PushInt(int32_t value, Instruction* out) {
    if (value >= -1 && value <= 5) *out = Simple(static_cast<uint8_t>(op::kIconst0 + value));
    else if (value >= -128 && value <= 127) *out = WithOperand(op::kBipush, value);
    else if (value >= -32768 && value <= 32767) *out = WithOperand(op::kSipush, value);
    else return false;
    return true;
}

}  // namespace bytecode

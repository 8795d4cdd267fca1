// A method's code as a list of instructions with symbolic labels. Nothing in it is a raw code
// offset: branches, switches, the exception table, stack map frames (and the `new` an
// uninitialized value comes from), line numbers and local variable ranges all name labels,
// and a label is bound by a label mark in the instruction list, or (for the values a `new`
// makes) by the `new` instruction itself, so that it moves with the instruction. Offsets exist only while the
// code is read (code_reader) and written (code_writer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bytecode {

using LabelId = uint32_t;

// The pseudo-opcode of a label mark: binds label `operand` to the position of the next real
// instruction (or the end of the code).
constexpr uint16_t kLabelMark = 0x100;

struct Instruction {
    uint16_t opcode = 0;    // a JVM opcode, or kLabelMark
    bool wide = false;      // a wide prefix (kept as read, also where the operand fits a byte)
    int32_t operand = 0;    // local index, pool index, bipush/sipush value, newarray type, label id
    int32_t operand2 = 0;   // iinc increment, invokeinterface count, multianewarray dimensions
    LabelId target = 0;     // branch target, switch default; for `new`, the label it binds
    int32_t low = 0;        // tableswitch: the first case's key
    std::vector<int32_t> keys;     // lookupswitch: the keys, in order
    std::vector<LabelId> targets;  // switch cases

    bool IsLabel() const { return opcode == kLabelMark; }
};

Instruction Simple(uint8_t opcode);
Instruction WithOperand(uint8_t opcode, int32_t operand);
Instruction LabelMark(LabelId label);

// Verification types of stack map frames (JVMS 4.10.1.2).
enum VerificationTag : uint8_t {
    kTop = 0, kInteger = 1, kFloat = 2, kDouble = 3, kLong = 4, kNull = 5,
    kUninitializedThis = 6, kObject = 7, kUninitialized = 8,
};

struct VerificationType {
    uint8_t tag = kTop;
    uint16_t classIndex = 0;  // kObject: a Class entry of the pool, or 0 with className set
    std::string className;    // kObject not (yet) in the pool: found or added when written
    LabelId newLabel = 0;     // kUninitialized: the label of the `new` that made the value

    bool IsWide() const { return tag == kLong || tag == kDouble; }
};

// A stack map frame, its full state as items (a long or double is one item, as in the class
// file). `encoding` remembers the frame_type byte it was read with, so a frame whose
// predecessor is unchanged is written back in the same compressed form.
struct Frame {
    LabelId at = 0;
    std::vector<VerificationType> locals;
    std::vector<VerificationType> stack;
    int16_t encoding = -1;     // the frame_type byte read, or -1 for a frame the engine made
    uint32_t ordinal = 0;      // its index in the table as read
};

struct ExceptionHandler {
    LabelId start = 0;
    LabelId end = 0;
    LabelId handler = 0;
    uint16_t catchType = 0;
};

struct LineNumber {
    LabelId at = 0;
    uint16_t line = 0;
};

struct LocalVariable {
    LabelId start = 0;
    LabelId end = 0;
    uint16_t name = 0;
    uint16_t descriptor = 0;  // the signature in a LocalVariableTypeTable
    uint16_t index = 0;
};

enum class CodeAttributeKind : uint8_t {
    kStackMapTable, kLineNumberTable, kLocalVariableTable, kLocalVariableTypeTable,
};

// The Code attribute's own attributes in their order; the frames are Code::frames.
struct CodeAttribute {
    CodeAttributeKind kind = CodeAttributeKind::kLineNumberTable;
    uint16_t name = 0;
    std::vector<LineNumber> lines;
    std::vector<LocalVariable> variables;
};

struct Code {
    uint16_t maxStack = 0;
    uint16_t maxLocals = 0;
    uint16_t originalMaxStack = 0;  // as read: inserted code's stack needs add to it
    std::vector<Instruction> instructions;
    uint32_t labelCount = 0;  // labels are 0 .. labelCount - 1
    std::vector<ExceptionHandler> handlers;
    bool hasStackMap = false;
    std::vector<Frame> frames;  // in code order
    std::vector<CodeAttribute> attributes;

    LabelId NewLabel() { return labelCount++; }
};

}  // namespace bytecode

#include "bytecode/invocations.h"

#include "bytecode/opcodes.h"

namespace bytecode {

bool InvokedPoolIndexes(const uint8_t* code, size_t size, std::vector<uint16_t>* out) {
    out->clear();
    for (size_t at = 0; at < size;) {
        const uint8_t opcode = code[at];
        size_t length = 0;
        switch (FormOf(opcode)) {
            case OperandForm::kNone: length = 1; break;
            case OperandForm::kLocal: case OperandForm::kByte: case OperandForm::kConstant1: length = 2; break;
            case OperandForm::kShort: case OperandForm::kConstant2: case OperandForm::kIinc:
            case OperandForm::kBranch2: length = 3; break;
            case OperandForm::kMultianewarray: length = 4; break;
            case OperandForm::kBranch4: case OperandForm::kInvokeinterface: case OperandForm::kInvokedynamic: length = 5; break;
            case OperandForm::kWide: length = at + 1 < size && code[at + 1] == op::kIinc ? 6 : 4; break;
            default: return false;  // undefined, or a switch
        }
        if (at + length > size) return false;
        if (opcode >= op::kInvokevirtual && opcode <= op::kInvokeinterface) {
            out->push_back(static_cast<uint16_t>((code[at + 1] << 8) | code[at + 2]));
        }
        at += length;
    }
    return true;
}

}  // namespace bytecode

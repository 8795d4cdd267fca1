#include "bytecode/opcodes.h"

namespace bytecode {

OperandForm FormOf(uint8_t opcode) {
    using F = OperandForm;
    if (opcode <= 0x0f) return F::kNone;  // nop, constants
    switch (opcode) {
        case op::kBipush: case op::kNewarray: return F::kByte;
        case op::kSipush: return F::kShort;
        case op::kLdc: return F::kConstant1;
        case op::kLdcW: case op::kLdc2W: return F::kConstant2;
        case op::kIinc: return F::kIinc;
        case op::kRet: return F::kLocal;
        case op::kTableswitch: return F::kTableswitch;
        case op::kLookupswitch: return F::kLookupswitch;
        case op::kInvokeinterface: return F::kInvokeinterface;
        case op::kInvokedynamic: return F::kInvokedynamic;
        case op::kMultianewarray: return F::kMultianewarray;
        case op::kWide: return F::kWide;
        case op::kGotoW: case op::kJsrW: return F::kBranch4;
        case op::kIfnull: case op::kIfnonnull: return F::kBranch2;
        default: break;
    }
    if (opcode >= 0x15 && opcode <= 0x19) return F::kLocal;  // xload
    if (opcode >= 0x36 && opcode <= 0x3a) return F::kLocal;  // xstore
    if (opcode >= 0x1a && opcode <= 0x35) return F::kNone;   // xload_n, xaload
    if (opcode >= 0x3b && opcode <= 0x83) return F::kNone;   // xstore_n .. arithmetic
    if (opcode >= 0x85 && opcode <= 0x98) return F::kNone;   // conversions, comparisons
    if (opcode >= op::kIfeq && opcode <= op::kJsr) return F::kBranch2;
    if (opcode >= op::kIreturn && opcode <= op::kReturn) return F::kNone;
    if (opcode >= op::kGetstatic && opcode <= op::kInvokestatic) return F::kConstant2;
    if (opcode == op::kNew || opcode == op::kAnewarray || opcode == op::kCheckcast ||
        opcode == op::kInstanceof) {
        return F::kConstant2;
    }
    if (opcode == op::kArraylength || opcode == op::kAthrow || opcode == op::kMonitorenter ||
        opcode == op::kMonitorexit) {
        return F::kNone;
    }
    return F::kInvalid;  // 0xca breakpoint, 0xcb..0xff
}

}  // namespace bytecode

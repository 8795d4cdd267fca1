// The JVM's opcodes as the engine needs them: how each one's operands are laid out, and which
// transfer control.
#pragma once

#include <cstdint>

namespace bytecode {

namespace op {
enum : uint8_t {
    kNop = 0x00, kAconstNull = 0x01, kIconstM1 = 0x02, kIconst0 = 0x03, kIconst5 = 0x08,
    kBipush = 0x10, kSipush = 0x11, kLdc = 0x12, kLdcW = 0x13, kLdc2W = 0x14,
    kIload = 0x15, kAload = 0x19, kIload0 = 0x1a, kAload3 = 0x2d,
    kIaload = 0x2e, kAaload = 0x32, kSaload = 0x35,
    kIstore = 0x36, kAstore = 0x3a, kIstore0 = 0x3b, kAstore3 = 0x4e,
    kIastore = 0x4f, kSastore = 0x56,
    kPop = 0x57, kPop2 = 0x58, kDup = 0x59, kDupX1 = 0x5a, kDupX2 = 0x5b, kDup2 = 0x5c,
    kDup2X1 = 0x5d, kDup2X2 = 0x5e, kSwap = 0x5f,
    kIinc = 0x84,
    kIfeq = 0x99, kIfle = 0x9e, kIfIcmpeq = 0x9f, kIfAcmpne = 0xa6,
    kGoto = 0xa7, kJsr = 0xa8, kRet = 0xa9, kTableswitch = 0xaa, kLookupswitch = 0xab,
    kIreturn = 0xac, kReturn = 0xb1,
    kGetstatic = 0xb2, kPutstatic = 0xb3, kGetfield = 0xb4, kPutfield = 0xb5,
    kInvokevirtual = 0xb6, kInvokespecial = 0xb7, kInvokestatic = 0xb8,
    kInvokeinterface = 0xb9, kInvokedynamic = 0xba,
    kNew = 0xbb, kNewarray = 0xbc, kAnewarray = 0xbd, kArraylength = 0xbe, kAthrow = 0xbf,
    kCheckcast = 0xc0, kInstanceof = 0xc1, kMonitorenter = 0xc2, kMonitorexit = 0xc3,
    kWide = 0xc4, kMultianewarray = 0xc5, kIfnull = 0xc6, kIfnonnull = 0xc7,
    kGotoW = 0xc8, kJsrW = 0xc9,
};
}  // namespace op

// How an instruction's operands are encoded after its opcode.
enum class OperandForm : uint8_t {
    kInvalid,          // reserved or undefined opcode
    kNone,
    kLocal,            // u1 local index (u2 after wide)
    kByte,             // bipush: s1; newarray: u1 type
    kShort,            // sipush: s2
    kConstant1,        // ldc: u1 pool index
    kConstant2,        // u2 pool index
    kIinc,             // u1 index, s1 increment (u2, s2 after wide)
    kBranch2,          // s2 offset
    kBranch4,          // s4 offset
    kTableswitch,
    kLookupswitch,
    kInvokeinterface,  // u2 index, u1 count, u1 zero
    kInvokedynamic,    // u2 index, u1 zero, u1 zero
    kMultianewarray,   // u2 index, u1 dimensions
    kWide,
};

OperandForm FormOf(uint8_t opcode);

inline bool IsConditionalBranch(uint8_t opcode) {
    return (opcode >= op::kIfeq && opcode <= op::kIfAcmpne) || opcode == op::kIfnull ||
           opcode == op::kIfnonnull;
}
// The branch taken exactly when `opcode`'s is not.
inline uint8_t InvertedBranch(uint8_t opcode) {
    if (opcode >= op::kIfeq && opcode <= op::kIfAcmpne) {
        return static_cast<uint8_t>(((opcode - op::kIfeq) ^ 1) + op::kIfeq);
    }
    return static_cast<uint8_t>(opcode ^ 1);  // ifnull <-> ifnonnull
}
inline bool IsReturn(uint8_t opcode) { return opcode >= op::kIreturn && opcode <= op::kReturn; }
// After these the next instruction is reached only by a jump.
inline bool EndsFlow(uint8_t opcode) {
    return opcode == op::kGoto || opcode == op::kGotoW || opcode == op::kTableswitch ||
           opcode == op::kLookupswitch || IsReturn(opcode) || opcode == op::kAthrow ||
           opcode == op::kRet;
}

}  // namespace bytecode

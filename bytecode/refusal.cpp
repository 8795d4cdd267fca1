#include "bytecode/refusal.h"

namespace bytecode {

const char* RefusalName(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone: return "none";
        case Refusal::kMalformedClass: return "malformed class";
        case Refusal::kUnsupportedVersion: return "unsupported class file version";
        case Refusal::kNoCode: return "no code";
        case Refusal::kMalformedCode: return "malformed code";
        case Refusal::kUnknownOpcode: return "unknown opcode";
        case Refusal::kUnknownCodeAttribute: return "unknown code attribute";
        case Refusal::kCodeTooLong: return "code too long";
        case Refusal::kNotStraightLine: return "inserted code not straight-line";
        case Refusal::kNoFallThrough: return "no fall-through";
        case Refusal::kUntypeable: return "untypeable frame";
        case Refusal::kConstantPoolFull: return "constant pool full";
        case Refusal::kStackTooDeep: return "stack too deep";
        case Refusal::kNoSuchMethod: return "no such method";
        case Refusal::kUntrackedConstructor: return "untracked constructor";
    }
    return "unknown";
}

}  // namespace bytecode

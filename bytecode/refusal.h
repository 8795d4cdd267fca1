// Why the bytecode engine left a class file or a method as it was.
#pragma once

#include <cstdint>

namespace bytecode {

enum class Refusal : uint8_t {
    kNone,                  // done
    kMalformedClass,        // the class file does not parse
    kUnsupportedVersion,    // a class file version outside 45 to 69
    kNoCode,                // the method has no Code attribute, or more than one
    kMalformedCode,         // the Code attribute or one of its tables does not parse
    kUnknownOpcode,         // an opcode the engine does not know (reserved or undefined)
    kUnknownCodeAttribute,  // a Code attribute that may hold code offsets the engine does not know
    kCodeTooLong,           // the code would outgrow 65535 bytes
    kNotStraightLine,       // inserted code with branches, switches, returns or throws of its own
    kNoFallThrough,         // code inserted after an instruction that never falls through
    kUntypeable,            // a new stack map frame is needed where the types cannot be worked out
    kConstantPoolFull,      // no room left in the constant pool
    kStackTooDeep,          // max_stack would outgrow 65535
    kNoSuchMethod,          // the class declares no method of that name and descriptor
    kUntrackedConstructor,  // a constructor whose initialisation of `this` the engine cannot follow
};

// A short name of the reason, e.g. "code too long".
const char* RefusalName(Refusal refusal);

}  // namespace bytecode

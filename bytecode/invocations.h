// The members a method's code invokes, read from its raw bytecodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bytecode {

// The pool indexes of the invokevirtual, invokespecial, invokestatic and invokeinterface
// instructions of `code`, in order. False when the code does not decode (an undefined opcode,
// an instruction cut short) or holds a switch (such code is not what the caller looks for).
bool InvokedPoolIndexes(const uint8_t* code, size_t size, std::vector<uint16_t>* out);

}  // namespace bytecode

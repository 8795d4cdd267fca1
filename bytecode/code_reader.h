// Decodes a Code attribute into labelled instructions (code.h). Every offset the attribute
// holds must fall on an instruction (or, for range ends, the end of the code); opcodes and
// code attributes the engine does not know make it refuse the method rather than guess.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytecode/code.h"
#include "bytecode/constant_pool.h"
#include "bytecode/refusal.h"
#include "bytecode/stack_map.h"

namespace bytecode {

// `data` is the Code attribute's info (after attribute_length).
Refusal DecodeCode(const ConstantPool& pool, const MethodContext& method, const uint8_t* data,
                   size_t size, Code* out);

}  // namespace bytecode

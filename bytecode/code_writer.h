// Writes labelled code (code.h) back into a Code attribute's info. Offsets are assigned here,
// iterating to a fixed point: a switch's padding follows from its address, a goto or jsr whose
// target moved out of reach becomes goto_w or jsr_w, and a conditional branch that no longer
// reaches is inverted around a goto_w,
//
//     if<cond> L   =>   if<!cond> next; goto_w L; next:
//
// where `next`, a new branch target, gets a stack map frame worked out by the frame simulator
// (class files of version 50 on that carry a StackMapTable). Instructions are never narrowed,
// so code that was not changed is written back byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "bytecode/code.h"
#include "bytecode/constant_pool.h"
#include "bytecode/refusal.h"
#include "bytecode/stack_map.h"

namespace bytecode {

// `pool` may grow by the Class entries of new frames' types. On a refusal `out` is unspecified.
Refusal EncodeCode(const Code& code, const MethodContext& method, ConstantPool* pool,
                   std::vector<uint8_t>* out);

}  // namespace bytecode

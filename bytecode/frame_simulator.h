// Works out the verification types at a point of straight-line code, forward from the nearest
// stack map frame before it (or the method's initial frame), the way the verifier's type
// checker would. The writer needs it where it makes a new branch target: the instruction after
// a conditional branch it had to invert around a goto_w.
#pragma once

#include <cstddef>
#include <vector>

#include "bytecode/code.h"
#include "bytecode/constant_pool.h"
#include "bytecode/stack_map.h"

namespace bytecode {

// The frame just before instruction list element `index` (its `at` left 0). False when the code
// between the frame and `index` holds a jump, a subroutine, or anything it cannot type.
bool FrameBefore(const Code& code, size_t index, const MethodContext& method,
                 const ConstantPool& pool, Frame* out);

// The frame after the conditional branch at `index` falls through (its operands popped).
bool FrameAfterFallThrough(const Code& code, size_t index, const MethodContext& method,
                           const ConstantPool& pool, Frame* out);

}  // namespace bytecode

// StackMapTable frames read into full states and written back: a frame keeps the compressed
// form it was read with while its predecessor is unchanged, and takes the extended form of
// that kind when its offset delta outgrows the short one; frames without an unchanged
// predecessor (and frames the engine made) are written as full frames.
#pragma once

#include <string>
#include <vector>

#include "bytecode/byte_io.h"
#include "bytecode/code.h"
#include "bytecode/constant_pool.h"
#include "bytecode/refusal.h"

namespace bytecode {

// What a method's implicit first frame depends on.
struct MethodContext {
    uint16_t major = 0;
    bool isStatic = false;
    bool isConstructor = false;  // <init>: `this` starts uninitialized
    std::string thisClass;
    std::string descriptor;
};

// The frame a method begins with (JVMS 4.10.1.6). False when the descriptor does not parse.
bool InitialFrame(const MethodContext& method, Frame* out);

// Reads the StackMapTable's body (after attribute_length). The frames' `at`, and the `newLabel`
// of uninitialized types, hold code offsets, not labels: the caller maps them.
bool ReadStackMapTable(Reader* r, const Frame& initial, std::vector<Frame>* out);

// Writes the StackMapTable's body. `offsets` are the labels' code offsets; frames are in code
// order at strictly increasing offsets.
Refusal WriteStackMapTable(const std::vector<Frame>& frames, const std::vector<uint32_t>& offsets,
                           ConstantPool* pool, Writer* w);

// Verification types by slot (a long or double followed by top), as the verifier sees them,
// and back to items (trailing tops of the locals dropped).
std::vector<VerificationType> ItemsToSlots(const std::vector<VerificationType>& items);
std::vector<VerificationType> SlotsToItems(const std::vector<VerificationType>& slots, bool trimTops);

}  // namespace bytecode

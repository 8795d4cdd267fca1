// A method's Code attribute decoded on demand from a class file model and written back.
#pragma once

#include "bytecode/class_file.h"
#include "bytecode/code.h"
#include "bytecode/refusal.h"
#include "bytecode/stack_map.h"

namespace bytecode {

// What the method's implicit first frame depends on (its class, flags and descriptor).
MethodContext ContextOf(const ClassFile& cls, const Member& method);

// Decodes the method's one Code attribute (kNoCode when it has none, or more than one).
Refusal ReadMethodCode(const ClassFile& cls, Member* method, Code* out);

// Encodes `code` into the method's Code attribute; on a refusal the method stays as it was.
// The constant pool may grow by the Class entries of new stack map frames.
Refusal WriteMethodCode(ClassFile* cls, Member* method, const Code& code);

}  // namespace bytecode

// Code inserted before or after an instruction of a method.
//
// Before: whatever reached the instruction (falling through, branches, switch cases,
// exception handlers, the stack map frame there, its line number) now reaches the inserted
// code, so it runs on every path to the instruction; a protected range that begins at the
// instruction covers it, one that ends there does not.
// After: the inserted code runs when the instruction falls through to the next one; branches
// to that next instruction still go straight to it. There is no "after" an instruction that
// never falls through (goto, return, athrow, switches, jsr and ret).
//
// Inserted code is straight-line (no branches, switches, returns, throws or subroutines of its
// own), and must leave the locals and the stack as it found them; it may use up to
// `extraStack` slots above what is on the stack there, and max_stack grows to allow for that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytecode/code.h"
#include "bytecode/constant_pool.h"
#include "bytecode/refusal.h"

namespace bytecode {

// `index` is an element of code->instructions that is an instruction, not a label mark. On
// success `*next`, when given, is the index of the element after the instruction and its
// inserted code, to continue a forward walk from.
Refusal InsertBefore(Code* code, size_t index, const std::vector<Instruction>& inserted,
                     uint16_t extraStack, size_t* next = nullptr);
Refusal InsertAfter(Code* code, size_t index, const std::vector<Instruction>& inserted,
                    uint16_t extraStack, size_t* next = nullptr);

// A new label bound at element `at` of the instruction list (its size: the end of the code).
LabelId BindLabel(Code* code, size_t at);

// Code inserted at the very start of the method, before the label marks of its first
// instruction: it runs once per call, and branches back to the first instruction (a loop at the
// method's start) do not run it again; protected ranges, the stack map frame and the line
// number there stay with the first instruction. The same rules as InsertBefore otherwise.
// `*after`, when given, is a new label bound right after the inserted code.
Refusal InsertAtStart(Code* code, const std::vector<Instruction>& inserted, uint16_t extraStack,
                      LabelId* after = nullptr);

// An exception handler appended after the code: `block` runs for an exception of `catchType`
// (a Class entry of the pool, 0 for any) thrown in [start, end), through an exception table
// entry appended last, so the method's own handlers keep precedence. The block is
// straight-line but for its last instruction, an athrow or a return, and holds at most `stack`
// values (the exception included). `frame` (its `at` is set here) is its stack map frame; code
// of a class file of version 50 on that has no StackMapTable yet gets one.
Refusal AppendHandler(Code* code, ConstantPool* pool, uint16_t major, LabelId start, LabelId end,
                      uint16_t catchType, const std::vector<Instruction>& block, uint16_t stack,
                      Frame frame);

// The shortest instruction that pushes the int `value` (iconst, bipush, sipush); values
// beyond a short's range need an ldc of an Integer constant, which the caller adds.
bool PushInt(int32_t value, Instruction* out);

}  // namespace bytecode

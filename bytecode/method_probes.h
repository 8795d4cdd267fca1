// Method probes: a method made to call the method hook when it is entered and when it is left.
// All hook methods are public static methods of the hook class.
//
// Prologue, at the very start (run once per call, also when a loop branches back to the first
// instruction; no handler covers it):
//     [for each declared parameter: <load its slot>; invokestatic arg<K>(T)V]   (with arguments)
//     <receiver>; <id>; invokestatic enter(Object, int)V
// or, with the arguments of a method of at most kMaxEntryArguments parameters, in one call:
//     [for each declared parameter: <load its slot>]; <receiver>; <id>;
//     invokestatic enter<K...>(T..., Object, int)V
// Before every return (with exits):
//     [dup or dup2]; <receiver>; <id>; invokestatic exit<K>([T,] Object, int)V
// A catch-all handler after the code, its exception table entry last (the method's own
// handlers keep precedence), covering everything after the prologue (with exits):
//     dup; <receiver>; <id>; invokestatic thrown(Throwable, Object, int)V; athrow
//
// The receiver is `this` where it is initialised and the hook may see it: an instance method's
// prologue, a constructor's exits and its handler after the super or this call; null in static
// methods, a constructor's prologue and its handler before that call, and every other handler
// and exit. K is I (boolean, byte, char, short and int), J, F, D or L (objects and arrays), and
// V for a void return.
//
// Constructors: exits need the one invokespecial that initialises `this`, found by the frame
// simulator; a constructor that stores into local 0, or whose initialising call the engine
// cannot find on every path, is refused (kUntrackedConstructor). The code before the call is
// covered by a handler whose frame has locals [uninitializedThis], the code after it by one
// with locals [the class] (none, and a null receiver, where a stack map frame there drops
// `this`). The call itself is covered only in class files before version 50:
// HotSpot's split verifier checks a handler over it against the state before the call (the
// flag of an uninitialised `this`, which only a frame holding uninitializedThis carries) and
// the state after it (`this` initialised, which such a frame does not accept), so no frame
// passes; an exception the super or this constructor throws leaves such a constructor without
// the thrown hook. The old verifier merges both states, which the handler's code accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytecode/refusal.h"

namespace bytecode {

constexpr const char* kMethodHookClass = "com/vexo/internal/MethodHook";
constexpr const char* kMethodHookEnterName = "enter";
constexpr const char* kMethodHookEnterDescriptor = "(Ljava/lang/Object;I)V";
constexpr const char* kMethodHookThrownName = "thrown";
constexpr const char* kMethodHookThrownDescriptor = "(Ljava/lang/Throwable;Ljava/lang/Object;I)V";
constexpr const char* kMethodHookTimedEnterName = "timedEnter";
constexpr const char* kMethodHookTimedExitName = "timedExit";
constexpr const char* kMethodHookTimedThrownName = "timedThrown";
constexpr const char* kMethodHookTimedDescriptor = "(I)V";

struct MethodProbeTarget {
    std::string name;        // e.g. "withdraw", "<init>"
    std::string descriptor;  // e.g. "(J)Z"
    int32_t id = 0;          // pushed with the shortest instruction (an ldc beyond a short's range)
    bool arguments = false;  // the prologue passes every declared argument
    bool exits = false;      // every return, and a catch-all handler, call the exit hooks
    // Only the call's time is wanted (with exits, without arguments): the prologue calls
    // timedEnter(id), every return timedExit(id) and the catch-all handler timedThrown(id)
    // before it throws again; no receiver nor value is handed over.
    bool timing = false;
    // An instance method's exits and catch-all handler pass `this` as their receiver too, where
    // the method never writes local 0 and every stack map frame keeps `this` there (else null).
    bool receiverAtExits = false;
    // Results:
    bool instrumented = false;
    bool receiverPassed = false;  // its exits pass `this` (receiverAtExits was granted)
    // With receiverAtExits and no arguments, where the exits have all the entry would hand over
    // (a static method, a constructor, or `this` passed): the prologue calls timedEnter(id).
    bool bareEntry = false;
    Refusal refusal = Refusal::kNone;  // why not
};

// Rewrites the methods of `targets` in the class file in `data`. Returns false (and leaves `out`
// empty) when the class does not parse or no target was instrumented; a method the engine
// refuses stays as it was, its target saying why.
bool RewriteMethodProbes(const uint8_t* data, size_t size, std::vector<MethodProbeTarget>* targets,
                         std::vector<uint8_t>* out, const char* hookClass = kMethodHookClass);

constexpr size_t kMaxEntryArguments = 3;

// The entry hook handed the arguments of `kinds` ("" for none: enter(Object, int)V).
std::string MethodHookEnterName(const std::string& kinds);
std::string MethodHookEnterDescriptor(const std::string& kinds);

// The hook methods for a kind ('I', 'J', 'F', 'D', 'L'; 'V' for the exit of a void method).
const char* MethodHookArgumentName(char kind);
std::string MethodHookArgumentDescriptor(char kind);
const char* MethodHookExitName(char kind);
std::string MethodHookExitDescriptor(char kind);

}  // namespace bytecode

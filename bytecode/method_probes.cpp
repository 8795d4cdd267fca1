#include "bytecode/method_probes.h"

#include "bytecode/class_file.h"
#include "bytecode/code.h"
#include "bytecode/descriptors.h"
#include "bytecode/field_sites.h"
#include "bytecode/frame_simulator.h"
#include "bytecode/insertion.h"
#include "bytecode/method_code.h"
#include "bytecode/opcodes.h"

namespace bytecode {
namespace {
constexpr uint8_t kAload0 = 0x2a;
constexpr uint8_t kAconstNull = op::kAconstNull;
constexpr size_t kNowhere = static_cast<size_t>(-1);
// A prologue that calls arg<K> holds at most a long or double argument, or the receiver and the
// id; one that hands the arguments to enter<kinds> holds them all beneath those two.
constexpr uint16_t kPrologueStack = 2;
// A handler holds the exception, its copy, the receiver and the id.
constexpr uint16_t kHandlerStack = 4;


// The kind of the value a return instruction returns.
char ReturnKind(uint8_t opcode) { return "IJFDLV"[opcode - op::kIreturn]; }

// The load of a local of `kind` from `slot`, in its shortest form.
Instruction Load(char kind, uint32_t slot) {
    const char* kinds = "IJFDL";
    const uint8_t family = static_cast<uint8_t>(std::string(kinds).find(kind));
    if (slot < 4) return Simple(static_cast<uint8_t>(op::kIload0 + 4 * family + slot));
    Instruction load = WithOperand(static_cast<uint8_t>(op::kIload + family), static_cast<int32_t>(slot));
    load.wide = slot > 255;
    return load;
}

// Whether the instruction writes local 0 (a store, or an iinc).
bool WritesLocal0(const Instruction& ins) {
    const uint16_t o = ins.opcode;
    if ((o >= op::kIstore && o <= op::kAstore) || o == op::kIinc) return ins.operand == 0;
    return o >= op::kIstore0 && o <= op::kAstore3 && (o - op::kIstore0) % 4 == 0;
}

// The hook calls of one probe.
struct HookCalls {
    ConstantPool* pool;
    const char* hookClass;
    int32_t id;

    bool Id(std::vector<Instruction>* out) const {
        Instruction push;
        if (!PushInt(id, &push)) {
            const uint16_t index = pool->IntegerIndex(id);
            if (index == 0) return false;
            push = WithOperand(index <= 255 ? op::kLdc : op::kLdcW, index);
        }
        out->push_back(push);
        return true;
    }

    bool Call(const char* name, const std::string& descriptor, std::vector<Instruction>* out) const {
        const uint16_t index = pool->MethodrefIndex(hookClass, name, descriptor);
        if (index == 0) return false;
        out->push_back(WithOperand(op::kInvokestatic, index));
        return true;
    }

    // <receiver>; <id>; invokestatic name(descriptor), appended to `out`.
    bool Tail(uint8_t receiver, const char* name, const std::string& descriptor,
              std::vector<Instruction>* out) const {
        out->push_back(Simple(receiver));
        return Id(out) && Call(name, descriptor, out);
    }
};

bool IsClass(const ConstantPool& pool, const VerificationType& t, const std::string& name) {
    const std::string* actual = t.classIndex != 0 ? pool.ClassName(t.classIndex) : &t.className;
    return t.tag == kObject && actual != nullptr && *actual == name;
}

// The element index of the invokespecial that initialises a constructor's `this`: the first
// <init> call whose receiver the frame simulator types as uninitializedThis. The code around it
// must show that every path to the code after it runs through it: with stack map frames, every
// frame before it has `this` uninitialised in local 0 and no frame after it has an
// uninitialised `this` anywhere; without them, the code up to it runs straight (the simulator
// reached it without a jump or subroutine, and there is no branch either) and none of the
// method's own handlers covers it. `*thisKept` tells whether every frame after the call keeps
// `this` in local 0 (a frame may drop it), so that a handler there can pass it on.
Refusal FindInitialisingCall(const ConstantPool& pool, const MethodContext& context, const Code& code,
                             size_t* found, bool* thisKept) {
    for (const Instruction& ins : code.instructions) {
        if (!ins.IsLabel() && WritesLocal0(ins)) return Refusal::kUntrackedConstructor;
    }
    size_t call = kNowhere;
    for (size_t i = 0; i < code.instructions.size() && call == kNowhere; ++i) {
        const Instruction& ins = code.instructions[i];
        std::string name, descriptor, returnType;
        std::vector<std::string> parameters;
        if (ins.IsLabel() || ins.opcode != op::kInvokespecial ||
            !pool.MemberNameAndType(static_cast<uint32_t>(ins.operand), &name, &descriptor) || name != "<init>") {
            continue;
        }
        Frame before;
        if (!ParseMethodDescriptor(descriptor, &parameters, &returnType) ||
            !FrameBefore(code, i, context, pool, &before) || before.stack.size() <= parameters.size()) {
            return Refusal::kUntrackedConstructor;
        }
        if (before.stack[before.stack.size() - parameters.size() - 1].tag == kUninitializedThis) call = i;
    }
    if (call == kNowhere) return Refusal::kUntrackedConstructor;

    std::vector<size_t> elementOf(code.labelCount, kNowhere);
    for (size_t i = 0; i < code.instructions.size(); ++i) {
        const Instruction& ins = code.instructions[i];
        if (ins.IsLabel() && static_cast<uint32_t>(ins.operand) < code.labelCount) {
            elementOf[static_cast<uint32_t>(ins.operand)] = i;
        }
    }
    auto at = [&](LabelId label) { return label < code.labelCount ? elementOf[label] : kNowhere; };
    *thisKept = true;
    if (code.hasStackMap && context.major >= 50) {
        for (const Frame& f : code.frames) {
            const size_t where = at(f.at);
            bool uninitialised = false;
            for (const VerificationType& t : f.locals) uninitialised = uninitialised || t.tag == kUninitializedThis;
            if (where == kNowhere || (where < call) != uninitialised ||
                (where < call && f.locals[0].tag != kUninitializedThis)) {
                return Refusal::kUntrackedConstructor;
            }
            if (where > call && (f.locals.empty() || !IsClass(pool, f.locals[0], context.thisClass))) {
                *thisKept = false;
            }
        }
    } else {
        for (size_t i = 0; i < call; ++i) {
            const Instruction& ins = code.instructions[i];
            if (!ins.IsLabel() && IsConditionalBranch(static_cast<uint8_t>(ins.opcode))) {
                return Refusal::kUntrackedConstructor;
            }
        }
        for (const ExceptionHandler& h : code.handlers) {
            if (at(h.start) == kNowhere || at(h.start) < call) return Refusal::kUntrackedConstructor;
        }
    }
    *found = call;
    return Refusal::kNone;
}

// Whether `this` stays in local 0 of an instance method all through: nothing writes local 0,
// and every stack map frame has it there as the class itself.
bool KeepsThis(const ConstantPool& pool, const MethodContext& context, const Code& code) {
    for (const Instruction& ins : code.instructions) {
        if (!ins.IsLabel() && WritesLocal0(ins)) return false;
    }
    for (const Frame& f : code.frames) {
        if (f.locals.empty() || !IsClass(pool, f.locals[0], context.thisClass)) return false;
    }
    return true;
}

// Puts the probe of `target` into `code`, the method's code.
Refusal Instrument(ClassFile* cls, const MethodContext& context, const MethodProbeTarget& target,
                   const char* hookClass, Code* code, bool* receiverPassed, bool* bareEntry) {
    std::vector<std::string> parameters;
    std::string returnType;
    if (!ParseMethodDescriptor(context.descriptor, &parameters, &returnType)) return Refusal::kMalformedCode;
    // A constructor's `this` is uninitialised until its super or this call (but in Object's).
    const bool split = target.exits && context.isConstructor && context.thisClass != "java/lang/Object";
    size_t call = 0;
    bool thisKept = false;
    if (split) {
        const Refusal refusal = FindInitialisingCall(cls->pool, context, *code, &call, &thisKept);
        if (refusal != Refusal::kNone) return refusal;
    }
    const HookCalls calls{&cls->pool, hookClass, target.id};
    const bool passThis = target.receiverAtExits && target.exits && !target.timing && !context.isStatic &&
                          !context.isConstructor &&
                          KeepsThis(cls->pool, context, *code);
    *receiverPassed = passThis;
    const bool bare = target.receiverAtExits && target.exits && !target.timing && !target.arguments &&
                      (context.isStatic || context.isConstructor || passThis);
    *bareEntry = bare;
    const LabelId initialised = split ? BindLabel(code, call + 1) : 0;
    const LabelId calling = split ? BindLabel(code, call) : 0;

    for (size_t i = 0; target.exits && i < code->instructions.size();) {
        const Instruction& ins = code->instructions[i];
        if (ins.IsLabel() || !IsReturn(static_cast<uint8_t>(ins.opcode))) {
            ++i;
            continue;
        }
        const char kind = ReturnKind(static_cast<uint8_t>(ins.opcode));
        std::vector<Instruction> exit;
        if (target.timing) {
            if (!calls.Id(&exit) || !calls.Call(kMethodHookTimedExitName, kMethodHookTimedDescriptor, &exit)) {
                return Refusal::kConstantPoolFull;
            }
            const Refusal refusal = InsertBefore(code, i, exit, 1, &i);
            if (refusal != Refusal::kNone) return refusal;
            continue;
        }
        if (kind != 'V') exit.push_back(Simple(IsWideKind(kind) ? op::kDup2 : op::kDup));
        if (!calls.Tail(context.isConstructor || passThis ? kAload0 : kAconstNull, MethodHookExitName(kind),
                        MethodHookExitDescriptor(kind), &exit)) {
            return Refusal::kConstantPoolFull;
        }
        const uint16_t copy = kind == 'V' ? 0 : IsWideKind(kind) ? 2 : 1;
        const Refusal refusal = InsertBefore(code, i, exit, static_cast<uint16_t>(copy + 2), &i);
        if (refusal != Refusal::kNone) return refusal;
    }

    std::vector<Instruction> prologue;
    const uint32_t first = context.isStatic ? 0 : 1;
    uint32_t slot = first;
    const bool together = target.arguments && parameters.size() <= kMaxEntryArguments;
    std::string kinds;  // the arguments handed over with the entry
    for (size_t p = 0; target.arguments && p < parameters.size(); ++p) {
        const char kind = FieldHookKind(parameters[p][0]);
        prologue.push_back(Load(kind, slot));
        if (together) {
            kinds += kind;
        } else if (!calls.Call(MethodHookArgumentName(kind), MethodHookArgumentDescriptor(kind), &prologue)) {
            return Refusal::kConstantPoolFull;
        }
        slot += IsWideKind(kind) ? 2 : 1;
    }
    const bool receiver = !context.isStatic && !context.isConstructor;
    if (target.timing || bare) {
        if (!calls.Id(&prologue) || !calls.Call(kMethodHookTimedEnterName, kMethodHookTimedDescriptor, &prologue)) {
            return Refusal::kConstantPoolFull;
        }
    } else if (!calls.Tail(receiver ? kAload0 : kAconstNull, MethodHookEnterName(kinds).c_str(),
                           MethodHookEnterDescriptor(kinds), &prologue)) {
        return Refusal::kConstantPoolFull;
    }
    const auto stack = static_cast<uint16_t>(together ? slot - first + 2 : kPrologueStack);
    LabelId start = 0;
    Refusal refusal = InsertAtStart(code, prologue, stack, &start);
    if (refusal != Refusal::kNone || !target.exits) return refusal;

    // The catch-all handlers: the exception is passed on and thrown again.
    const LabelId end = BindLabel(code, code->instructions.size());
    auto thrown = [&](uint8_t receiverLoad, std::vector<Instruction>* block) {
        if (target.timing) {
            const bool ok = calls.Id(block) && calls.Call(kMethodHookTimedThrownName, kMethodHookTimedDescriptor, block);
            block->push_back(Simple(op::kAthrow));
            return ok;
        }
        block->push_back(Simple(op::kDup));
        const bool ok = calls.Tail(receiverLoad, kMethodHookThrownName, kMethodHookThrownDescriptor, block);
        block->push_back(Simple(op::kAthrow));
        return ok;
    };
    Frame frame;
    frame.stack.push_back(ObjectType("java/lang/Throwable"));
    if (passThis) frame.locals.push_back(ObjectType(context.thisClass));
    std::vector<Instruction> block;
    if (!thrown(passThis ? kAload0 : kAconstNull, &block)) return Refusal::kConstantPoolFull;
    if (!split) return AppendHandler(code, &cls->pool, context.major, start, end, 0, block, kHandlerStack, frame);

    Frame before = frame;
    VerificationType uninitializedThis;
    uninitializedThis.tag = kUninitializedThis;
    before.locals.push_back(uninitializedThis);
    // The split verifier checks a handler over the initialising call against the state before
    // it (the flag of an uninitialised `this`) and the state after it (`this` initialised),
    // which no frame satisfies; the old verifier merges both states, which the block can take.
    const LabelId uninitialisedEnd = context.major >= 50 ? calling : initialised;
    refusal = AppendHandler(code, &cls->pool, context.major, start, uninitialisedEnd, 0, block, kHandlerStack, before);
    if (refusal != Refusal::kNone) return refusal;
    // After the call the handler passes `this` on, unless a frame there drops it.
    Frame after = frame;
    if (thisKept) after.locals.push_back(ObjectType(context.thisClass));
    block.clear();
    if (!thrown(thisKept ? kAload0 : kAconstNull, &block)) return Refusal::kConstantPoolFull;
    return AppendHandler(code, &cls->pool, context.major, initialised, end, 0, block, kHandlerStack, after);
}

// Probes one method; on a refusal the method and the pool stay as they were.
Refusal ProbeMethod(ClassFile* cls, Member* method, const MethodProbeTarget& target, const char* hookClass,
                    bool* receiverPassed, bool* bareEntry) {
    const size_t poolSize = cls->pool.entries.size();
    Code code;
    Refusal refusal = ReadMethodCode(*cls, method, &code);
    if (refusal == Refusal::kNone) {
        refusal = Instrument(cls, ContextOf(*cls, *method), target, hookClass, &code, receiverPassed, bareEntry);
    }
    if (refusal == Refusal::kNone) refusal = WriteMethodCode(cls, method, code);
    if (refusal != Refusal::kNone) cls->pool.entries.resize(poolSize);
    return refusal;
}
}  // namespace

const char* MethodHookArgumentName(char kind) {
    switch (kind) {
        case 'J': return "argJ";
        case 'F': return "argF";
        case 'D': return "argD";
        case 'L': return "argL";
        default: return "argI";
    }
}

std::string MethodHookArgumentDescriptor(char kind) { return std::string("(") + TypeOfKind(kind) + ")V"; }

std::string MethodHookEnterName(const std::string& kinds) { return kMethodHookEnterName + kinds; }

std::string MethodHookEnterDescriptor(const std::string& kinds) {
    std::string descriptor = "(";
    for (const char kind : kinds) descriptor += TypeOfKind(kind);
    return descriptor + (kMethodHookEnterDescriptor + 1);
}

const char* MethodHookExitName(char kind) {
    switch (kind) {
        case 'V': return "exitV";
        case 'J': return "exitJ";
        case 'F': return "exitF";
        case 'D': return "exitD";
        case 'L': return "exitL";
        default: return "exitI";
    }
}

std::string MethodHookExitDescriptor(char kind) {
    if (kind == 'V') return "(Ljava/lang/Object;I)V";
    return std::string("(") + TypeOfKind(kind) + "Ljava/lang/Object;I)V";
}

bool RewriteMethodProbes(const uint8_t* data, size_t size, std::vector<MethodProbeTarget>* targets,
                         std::vector<uint8_t>* out, const char* hookClass) {
    out->clear();
    ClassFile cls;
    const Refusal parsed = ParseClassFile(data, size, &cls);
    bool changed = false;
    for (MethodProbeTarget& t : *targets) {
        t.instrumented = false;
        t.refusal = parsed;
        if (parsed != Refusal::kNone) continue;
        Member* method = FindMethod(&cls, t.name.c_str(), t.descriptor.c_str());
        t.refusal = method == nullptr ? Refusal::kNoSuchMethod : ProbeMethod(&cls, method, t, hookClass, &t.receiverPassed, &t.bareEntry);
        t.instrumented = t.refusal == Refusal::kNone;
        changed = changed || t.instrumented;
    }
    if (changed) WriteClassFile(cls, out);
    return changed;
}

}  // namespace bytecode

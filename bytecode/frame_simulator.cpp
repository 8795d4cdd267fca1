#include "bytecode/frame_simulator.h"

#include <string>

#include "bytecode/descriptors.h"
#include "bytecode/opcodes.h"

namespace bytecode {
namespace {
VerificationType Of(uint8_t tag) {
    VerificationType t;
    t.tag = tag;
    return t;
}

bool SameType(const VerificationType& a, const VerificationType& b) {
    return a.tag == b.tag && a.newLabel == b.newLabel;
}

// The verifier's state by slots, and the operations of instructions on it.
struct State {
    const Code& code;
    const MethodContext& method;
    const ConstantPool& pool;
    std::vector<VerificationType> locals;
    std::vector<VerificationType> stack;
    bool ok = true;

    bool Pop(size_t n) {
        if (stack.size() < n) return ok = false;
        stack.resize(stack.size() - n);
        return true;
    }
    VerificationType PopOne() {
        if (stack.empty()) {
            ok = false;
            return VerificationType();
        }
        VerificationType t = stack.back();
        stack.pop_back();
        return t;
    }
    void Push(const VerificationType& t) {
        stack.push_back(t);
        if (t.IsWide()) stack.push_back(VerificationType());
    }
    void PushTag(uint8_t tag) { Push(Of(tag)); }
    void Load(uint32_t index, uint8_t tag) {
        if (tag != kObject) {
            PushTag(tag);
            return;
        }
        if (index >= locals.size()) {
            ok = false;
            return;
        }
        const VerificationType& t = locals[index];
        if (t.tag != kObject && t.tag != kNull && t.tag != kUninitialized && t.tag != kUninitializedThis) {
            ok = false;  // a returnAddress or worse
            return;
        }
        stack.push_back(t);
    }
    void Store(uint32_t index, const VerificationType& t) {
        const size_t need = index + (t.IsWide() ? 2 : 1);
        if (locals.size() < need) locals.resize(need);
        if (index > 0 && locals[index - 1].IsWide()) locals[index - 1] = VerificationType();
        locals[index] = t;
        if (t.IsWide()) locals[index + 1] = VerificationType();
    }
    void StoreFromStack(uint32_t index, uint8_t tag) {
        if (tag == kObject) {
            Store(index, PopOne());
            return;
        }
        const VerificationType t = Of(tag);
        Pop(t.IsWide() ? 2 : 1);
        Store(index, t);
    }
    // dup, dup_x1, dup_x2, dup2, dup2_x1, dup2_x2: the top `n` slots copied below `n + m`.
    void Dup(size_t n, size_t m) {
        if (stack.size() < n + m) {
            ok = false;
            return;
        }
        const std::vector<VerificationType> top(stack.end() - static_cast<std::ptrdiff_t>(n), stack.end());
        stack.insert(stack.end() - static_cast<std::ptrdiff_t>(n + m), top.begin(), top.end());
    }
    void PushDescriptor(const std::string& d) {
        if (d != "V") Push(TypeOfDescriptor(d));
    }
    size_t SlotsOf(const std::string& d) const {
        if (d == "V") return 0;
        return (d == "J" || d == "D") ? 2 : 1;
    }
    void Ldc(uint32_t index);
    void Field(uint8_t opcode, uint32_t index);
    void Invoke(uint8_t opcode, uint32_t index);
    void Initialized(const VerificationType& receiver);
    void Step(const Instruction& ins);
};

void State::Ldc(uint32_t index) {
    if (index == 0 || index >= pool.entries.size()) {
        ok = false;
        return;
    }
    std::string name, descriptor;
    switch (pool.entries[index].tag) {
        case kTagInteger: PushTag(kInteger); break;
        case kTagFloat: PushTag(kFloat); break;
        case kTagLong: PushTag(kLong); break;
        case kTagDouble: PushTag(kDouble); break;
        case kTagString: Push(ObjectType("java/lang/String")); break;
        case kTagClass: Push(ObjectType("java/lang/Class")); break;
        case kTagMethodType: Push(ObjectType("java/lang/invoke/MethodType")); break;
        case kTagMethodHandle: Push(ObjectType("java/lang/invoke/MethodHandle")); break;
        case kTagDynamic:
            if (!pool.MemberNameAndType(index, &name, &descriptor)) ok = false;
            else PushDescriptor(descriptor);
            break;
        default: ok = false;
    }
}

void State::Field(uint8_t opcode, uint32_t index) {
    std::string name, descriptor;
    if (pool.At(index, kTagFieldref) == nullptr || !pool.MemberNameAndType(index, &name, &descriptor)) {
        ok = false;
        return;
    }
    switch (opcode) {
        case op::kGetstatic: PushDescriptor(descriptor); break;
        case op::kPutstatic: Pop(SlotsOf(descriptor)); break;
        case op::kGetfield: Pop(1); PushDescriptor(descriptor); break;
        default: Pop(SlotsOf(descriptor)); Pop(1); break;
    }
}

// A constructor call made the receiver's type, wherever it is, its class.
void State::Initialized(const VerificationType& receiver) {
    VerificationType now;
    if (receiver.tag == kUninitializedThis) {
        now = ObjectType(method.thisClass);
    } else if (receiver.tag == kUninitialized) {
        // The class is the one of the `new` that binds the label.
        const Instruction* made = nullptr;
        for (const Instruction& ins : code.instructions) {
            if (ins.opcode == op::kNew && ins.target == receiver.newLabel) made = &ins;
        }
        if (made == nullptr) {
            ok = false;
            return;
        }
        now.tag = kObject;
        now.classIndex = static_cast<uint16_t>(made->operand);
    } else {
        return;  // an initialized receiver: a plain call of <init> through invokespecial
    }
    for (std::vector<VerificationType>* types : {&locals, &stack}) {
        for (VerificationType& t : *types) {
            if (SameType(t, receiver)) t = now;
        }
    }
}

void State::Invoke(uint8_t opcode, uint32_t index) {
    std::string name, descriptor, returnType;
    std::vector<std::string> parameters;
    const uint8_t tag = index < pool.entries.size() ? pool.entries[index].tag : uint8_t{kTagUnusable};
    const bool dynamic = opcode == op::kInvokedynamic;
    if ((dynamic ? tag != kTagInvokeDynamic : tag != kTagMethodref && tag != kTagInterfaceMethodref) ||
        !pool.MemberNameAndType(index, &name, &descriptor) ||
        !ParseMethodDescriptor(descriptor, &parameters, &returnType)) {
        ok = false;
        return;
    }
    for (const std::string& p : parameters) Pop(SlotsOf(p));
    if (!dynamic && opcode != op::kInvokestatic) {
        const VerificationType receiver = PopOne();
        if (ok && opcode == op::kInvokespecial && name == "<init>") Initialized(receiver);
    }
    PushDescriptor(returnType);
}

// The primitive types in the order of the typed opcode families: i, l, f, d, a.
const uint8_t kFamily[] = {kInteger, kLong, kFloat, kDouble, kObject};

std::string ArrayOf(const std::string& className) {
    return className[0] == '[' ? "[" + className : "[L" + className + ";";
}

void State::Step(const Instruction& ins) {
    const uint8_t o = static_cast<uint8_t>(ins.opcode);
    if (o == op::kNop || o == op::kIinc) return;
    if (o == op::kAconstNull) return PushTag(kNull);
    if (o >= op::kIconstM1 && o <= op::kIconst5) return PushTag(kInteger);
    if (o <= 0x0a) return PushTag(kLong);
    if (o <= 0x0d) return PushTag(kFloat);
    if (o <= 0x0f) return PushTag(kDouble);
    if (o == op::kBipush || o == op::kSipush) return PushTag(kInteger);
    if (o >= op::kLdc && o <= op::kLdc2W) return Ldc(static_cast<uint32_t>(ins.operand));
    if (o >= op::kIload && o <= op::kAload) return Load(static_cast<uint32_t>(ins.operand), kFamily[o - op::kIload]);
    if (o >= op::kIload0 && o <= op::kAload3) {
        return Load(static_cast<uint32_t>((o - op::kIload0) % 4), kFamily[(o - op::kIload0) / 4]);
    }
    if (o >= op::kIaload && o <= op::kSaload) {
        Pop(1);
        if (o != op::kAaload) {
            Pop(1);
            const uint8_t element = o >= 0x33 ? uint8_t{kInteger} : kFamily[o - op::kIaload];
            return PushTag(element);
        }
        const VerificationType array = PopOne();
        if (array.tag == kNull) return PushTag(kNull);
        const std::string* name = array.classIndex != 0 ? pool.ClassName(array.classIndex) : &array.className;
        if (array.tag != kObject || name == nullptr || name->size() < 2 || (*name)[0] != '[' ||
            ((*name)[1] != 'L' && (*name)[1] != '[')) {
            ok = false;
            return;
        }
        return Push(TypeOfDescriptor(name->substr(1)));
    }
    if (o >= op::kIstore && o <= op::kAstore) {
        return StoreFromStack(static_cast<uint32_t>(ins.operand), kFamily[o - op::kIstore]);
    }
    if (o >= op::kIstore0 && o <= op::kAstore3) {
        return StoreFromStack(static_cast<uint32_t>((o - op::kIstore0) % 4), kFamily[(o - op::kIstore0) / 4]);
    }
    if (o >= op::kIastore && o <= op::kSastore) {
        Pop(o == 0x50 || o == 0x52 ? 4 : 3);  // lastore and dastore store two slots
        return;
    }
    switch (o) {
        case op::kPop: Pop(1); return;
        case op::kPop2: Pop(2); return;
        case op::kDup: return Dup(1, 0);
        case op::kDupX1: return Dup(1, 1);
        case op::kDupX2: return Dup(1, 2);
        case op::kDup2: return Dup(2, 0);
        case op::kDup2X1: return Dup(2, 1);
        case op::kDup2X2: return Dup(2, 2);
        case op::kSwap:
            if (stack.size() < 2) ok = false;
            else std::swap(stack[stack.size() - 1], stack[stack.size() - 2]);
            return;
        default: break;
    }
    if (o >= 0x60 && o <= 0x77) {  // add, sub, mul, div, rem, neg
        const uint8_t t = kFamily[(o - 0x60) % 4];
        const size_t width = (t == kLong || t == kDouble) ? 2 : 1;
        Pop(o >= 0x74 ? width : 2 * width);
        return PushTag(t);
    }
    if (o >= 0x78 && o <= 0x83) {  // shifts: int count; and, or, xor
        const bool isLong = (o - 0x78) % 2 == 1;
        Pop(o <= 0x7d ? (isLong ? 3 : 2) : (isLong ? 4 : 2));
        return PushTag(isLong ? kLong : kInteger);
    }
    if (o >= 0x85 && o <= 0x93) {  // conversions
        static const uint8_t from[] = {kInteger, kInteger, kInteger, kLong, kLong, kLong, kFloat, kFloat,
                                       kFloat, kDouble, kDouble, kDouble, kInteger, kInteger, kInteger};
        static const uint8_t to[] = {kLong, kFloat, kDouble, kInteger, kFloat, kDouble, kInteger, kLong,
                                     kDouble, kInteger, kLong, kFloat, kInteger, kInteger, kInteger};
        Pop(Of(from[o - 0x85]).IsWide() ? 2 : 1);
        return PushTag(to[o - 0x85]);
    }
    if (o >= 0x94 && o <= 0x98) {  // lcmp, fcmpl, fcmpg, dcmpl, dcmpg
        Pop(o == 0x95 || o == 0x96 ? 2 : 4);
        return PushTag(kInteger);
    }
    if (IsConditionalBranch(o)) {  // falls through here
        Pop(o >= op::kIfIcmpeq && o <= op::kIfAcmpne ? 2 : 1);
        return;
    }
    switch (o) {
        case op::kGetstatic: case op::kPutstatic: case op::kGetfield: case op::kPutfield:
            return Field(o, static_cast<uint32_t>(ins.operand));
        case op::kInvokevirtual: case op::kInvokespecial: case op::kInvokestatic:
        case op::kInvokeinterface: case op::kInvokedynamic:
            return Invoke(o, static_cast<uint32_t>(ins.operand));
        case op::kNew: {
            VerificationType t;
            t.tag = kUninitialized;
            t.newLabel = ins.target;
            return Push(t);
        }
        case op::kNewarray: {
            static const char kElement[] = "ZCFDBSIJ";
            Pop(1);
            if (ins.operand < 4 || ins.operand > 11) {
                ok = false;
                return;
            }
            return Push(ObjectType(std::string("[") + kElement[ins.operand - 4]));
        }
        case op::kAnewarray: case op::kCheckcast: case op::kMultianewarray: {
            const std::string* name = pool.ClassName(static_cast<uint32_t>(ins.operand));
            if (name == nullptr || name->empty()) {
                ok = false;
                return;
            }
            Pop(o == op::kMultianewarray ? static_cast<size_t>(ins.operand2) : 1);
            if (o == op::kAnewarray) return Push(ObjectType(ArrayOf(*name)));
            VerificationType t;
            t.tag = kObject;
            t.classIndex = static_cast<uint16_t>(ins.operand);
            return Push(t);
        }
        case op::kArraylength: case op::kInstanceof: Pop(1); return PushTag(kInteger);
        case op::kMonitorenter: case op::kMonitorexit: Pop(1); return;
        default: ok = false;  // jumps, returns, throws, subroutines: no straight line through
    }
}

// The element the simulation starts after: the label mark of the nearest frame before
// `index`, or -1 for the method's start (the initial frame). -2 when flow ends on the way.
long StartOf(const Code& code, size_t index, std::vector<long>* frameOfLabel) {
    frameOfLabel->assign(code.labelCount, -1);
    for (size_t f = 0; f < code.frames.size(); ++f) {
        if (code.frames[f].at < code.labelCount) (*frameOfLabel)[code.frames[f].at] = static_cast<long>(f);
    }
    for (size_t i = index; i-- > 0;) {
        const Instruction& ins = code.instructions[i];
        if (ins.IsLabel()) {
            if (static_cast<uint32_t>(ins.operand) < code.labelCount &&
                (*frameOfLabel)[static_cast<uint32_t>(ins.operand)] >= 0) {
                return static_cast<long>(i);
            }
        } else if (EndsFlow(static_cast<uint8_t>(ins.opcode)) || ins.opcode == op::kJsr ||
                   ins.opcode == op::kJsrW) {
            return -2;
        }
    }
    return -1;
}
}  // namespace

bool FrameBefore(const Code& code, size_t index, const MethodContext& method,
                 const ConstantPool& pool, Frame* out) {
    if (index > code.instructions.size()) return false;
    std::vector<long> frameOfLabel;
    const long start = StartOf(code, index, &frameOfLabel);
    if (start == -2) return false;
    Frame from;
    if (start == -1) {
        if (!InitialFrame(method, &from)) return false;
    } else {
        from = code.frames[static_cast<size_t>(
            frameOfLabel[static_cast<uint32_t>(code.instructions[static_cast<size_t>(start)].operand)])];
    }
    State s{code, method, pool, ItemsToSlots(from.locals), ItemsToSlots(from.stack)};
    for (size_t i = static_cast<size_t>(start + 1); i < index && s.ok; ++i) {
        if (!code.instructions[i].IsLabel()) s.Step(code.instructions[i]);
    }
    if (!s.ok) return false;
    *out = Frame();
    out->locals = SlotsToItems(s.locals, true);
    out->stack = SlotsToItems(s.stack, false);
    return true;
}

bool FrameAfterFallThrough(const Code& code, size_t index, const MethodContext& method,
                           const ConstantPool& pool, Frame* out) {
    if (index >= code.instructions.size()) return false;
    const Instruction& branch = code.instructions[index];
    if (!IsConditionalBranch(static_cast<uint8_t>(branch.opcode)) || branch.IsLabel()) return false;
    Frame before;
    if (!FrameBefore(code, index, method, pool, &before)) return false;
    const size_t operands = branch.opcode >= op::kIfIcmpeq && branch.opcode <= op::kIfAcmpne ? 2 : 1;
    if (before.stack.size() < operands) return false;
    before.stack.resize(before.stack.size() - operands);
    *out = before;
    return true;
}

}  // namespace bytecode

#include "bytecode/code_writer.h"

#include <algorithm>

#include "bytecode/byte_io.h"
#include "bytecode/frame_simulator.h"
#include "bytecode/opcodes.h"

namespace bytecode {
namespace {
constexpr uint64_t kMaxCodeLength = 65535;
constexpr uint32_t kInvertedLength = 8;  // if<!cond> +8 (3 bytes), goto_w (5 bytes)

// Where every element of the instruction list lands.
struct Layout {
    std::vector<uint64_t> at;          // by element
    std::vector<uint32_t> labelOffset; // by label
    std::vector<bool> widened;         // by element: a branch written in its long form
    uint64_t length = 0;
};

uint32_t SwitchPadding(uint64_t at) { return static_cast<uint32_t>((4 - (at + 1) % 4) % 4); }

uint64_t SizeOf(const Instruction& ins, uint64_t at, bool widened) {
    if (ins.IsLabel()) return 0;
    const uint8_t opcode = static_cast<uint8_t>(ins.opcode);
    switch (FormOf(opcode)) {
        case OperandForm::kNone: return 1;
        case OperandForm::kLocal: return ins.wide ? 4 : 2;
        case OperandForm::kByte: case OperandForm::kConstant1: return 2;
        case OperandForm::kShort: case OperandForm::kConstant2: return 3;
        case OperandForm::kIinc: return ins.wide ? 6 : 3;
        case OperandForm::kBranch2:
            if (!widened) return 3;
            return IsConditionalBranch(opcode) ? kInvertedLength : 5;
        case OperandForm::kBranch4: case OperandForm::kInvokeinterface: case OperandForm::kInvokedynamic:
            return 5;
        case OperandForm::kMultianewarray: return 4;
        case OperandForm::kTableswitch: return 1 + SwitchPadding(at) + 12 + 4 * uint64_t{ins.targets.size()};
        case OperandForm::kLookupswitch: return 1 + SwitchPadding(at) + 8 + 8 * uint64_t{ins.targets.size()};
        case OperandForm::kInvalid: case OperandForm::kWide: return 0;
    }
    return 0;
}

// One pass: offsets from the current widening decisions.
void Place(const Code& code, Layout* layout) {
    uint64_t at = 0;
    for (size_t i = 0; i < code.instructions.size(); ++i) {
        const Instruction& ins = code.instructions[i];
        layout->at[i] = at;
        const uint32_t offset = static_cast<uint32_t>(std::min<uint64_t>(at, UINT32_MAX));
        if (ins.IsLabel()) layout->labelOffset[static_cast<uint32_t>(ins.operand)] = offset;
        else if (ins.opcode == op::kNew) layout->labelOffset[ins.target] = offset;
        at += SizeOf(ins, at, layout->widened[i]);
    }
    layout->length = at;
}

bool HasTarget(const Instruction& ins) {
    const OperandForm f = FormOf(static_cast<uint8_t>(ins.opcode));
    return f == OperandForm::kBranch2 || f == OperandForm::kBranch4 || f == OperandForm::kTableswitch ||
           f == OperandForm::kLookupswitch;
}

// Every opcode known, every label bound once, and every label something refers to bound.
Refusal CheckInstructions(const Code& code) {
    std::vector<bool> bound(code.labelCount, false);
    for (const Instruction& ins : code.instructions) {
        if (!ins.IsLabel() && ins.opcode != op::kNew) continue;
        const uint32_t label = ins.IsLabel() ? static_cast<uint32_t>(ins.operand) : ins.target;
        if (label >= code.labelCount || bound[label]) return Refusal::kMalformedCode;
        bound[label] = true;
    }
    auto ok = [&](LabelId l) { return l < code.labelCount && bound[l]; };
    for (const Instruction& ins : code.instructions) {
        if (ins.IsLabel()) continue;
        const OperandForm form = ins.opcode > 0xff ? OperandForm::kInvalid : FormOf(static_cast<uint8_t>(ins.opcode));
        if (form == OperandForm::kInvalid || form == OperandForm::kWide) return Refusal::kUnknownOpcode;
        if (ins.wide && form != OperandForm::kLocal && form != OperandForm::kIinc) return Refusal::kMalformedCode;
        if (HasTarget(ins) && !ok(ins.target)) return Refusal::kMalformedCode;
        for (LabelId t : ins.targets) {
            if (!ok(t)) return Refusal::kMalformedCode;
        }
        if (form == OperandForm::kTableswitch && ins.targets.empty()) return Refusal::kMalformedCode;
        if (form == OperandForm::kLookupswitch && ins.keys.size() != ins.targets.size()) return Refusal::kMalformedCode;
    }
    for (const ExceptionHandler& h : code.handlers) {
        if (!ok(h.start) || !ok(h.end) || !ok(h.handler)) return Refusal::kMalformedCode;
    }
    for (const Frame& f : code.frames) {
        if (!ok(f.at)) return Refusal::kMalformedCode;
        for (const std::vector<VerificationType>* types : {&f.locals, &f.stack}) {
            for (const VerificationType& t : *types) {
                if (t.tag == kUninitialized && !ok(t.newLabel)) return Refusal::kMalformedCode;
            }
        }
    }
    for (const CodeAttribute& a : code.attributes) {
        for (const LineNumber& l : a.lines) {
            if (!ok(l.at)) return Refusal::kMalformedCode;
        }
        for (const LocalVariable& v : a.variables) {
            if (!ok(v.start) || !ok(v.end)) return Refusal::kMalformedCode;
        }
    }
    return Refusal::kNone;
}

bool Fits16(int64_t delta) { return delta >= -32768 && delta <= 32767; }

// Widens branches until every one reaches its target.
Refusal LayOut(const Code& code, Layout* layout) {
    const size_t n = code.instructions.size();
    layout->at.assign(n, 0);
    layout->labelOffset.assign(code.labelCount, 0);
    layout->widened.assign(n, false);
    for (;;) {
        Place(code, layout);
        if (layout->length > kMaxCodeLength) return Refusal::kCodeTooLong;
        bool changed = false;
        for (size_t i = 0; i < n; ++i) {
            const Instruction& ins = code.instructions[i];
            if (ins.IsLabel() || layout->widened[i] ||
                FormOf(static_cast<uint8_t>(ins.opcode)) != OperandForm::kBranch2) {
                continue;
            }
            const int64_t delta = int64_t{layout->labelOffset[ins.target]} - static_cast<int64_t>(layout->at[i]);
            if (!Fits16(delta)) {
                layout->widened[i] = true;
                changed = true;
            }
        }
        if (!changed) return Refusal::kNone;
    }
}

void EmitSwitch(const Instruction& ins, uint32_t at, const Layout& layout, Writer* w) {
    for (uint32_t p = SwitchPadding(at); p > 0; --p) w->U1(0);
    auto relative = [&](LabelId l) { return static_cast<uint32_t>(int64_t{layout.labelOffset[l]} - at); };
    w->U4(relative(ins.target));
    if (ins.opcode == op::kTableswitch) {
        w->U4(static_cast<uint32_t>(ins.low));
        w->U4(static_cast<uint32_t>(ins.low + static_cast<int32_t>(ins.targets.size()) - 1));
        for (LabelId t : ins.targets) w->U4(relative(t));
    } else {
        w->U4(static_cast<uint32_t>(ins.targets.size()));
        for (size_t k = 0; k < ins.targets.size(); ++k) {
            w->U4(static_cast<uint32_t>(k < ins.keys.size() ? ins.keys[k] : 0));
            w->U4(relative(ins.targets[k]));
        }
    }
}

void EmitBranch(const Instruction& ins, uint32_t at, bool widened, const Layout& layout, Writer* w) {
    const int64_t delta = int64_t{layout.labelOffset[ins.target]} - at;
    const uint8_t opcode = static_cast<uint8_t>(ins.opcode);
    if (!widened) {
        w->U1(opcode);
        w->U2(static_cast<uint32_t>(delta));
    } else if (IsConditionalBranch(opcode)) {
        w->U1(InvertedBranch(opcode));
        w->U2(kInvertedLength);
        w->U1(op::kGotoW);
        w->U4(static_cast<uint32_t>(delta - 3));
    } else {
        w->U1(opcode == op::kGoto ? op::kGotoW : op::kJsrW);
        w->U4(static_cast<uint32_t>(delta));
    }
}

void Emit(const Code& code, const Layout& layout, Writer* w) {
    for (size_t i = 0; i < code.instructions.size(); ++i) {
        const Instruction& ins = code.instructions[i];
        if (ins.IsLabel()) continue;
        const uint32_t at = static_cast<uint32_t>(layout.at[i]);
        const uint8_t opcode = static_cast<uint8_t>(ins.opcode);
        const OperandForm form = FormOf(opcode);
        if (form == OperandForm::kBranch2) {
            EmitBranch(ins, at, layout.widened[i], layout, w);
            continue;
        }
        if (ins.wide) w->U1(op::kWide);
        w->U1(opcode);
        switch (form) {
            case OperandForm::kLocal: if (ins.wide) w->U2(ins.operand); else w->U1(ins.operand); break;
            case OperandForm::kByte: case OperandForm::kConstant1: w->U1(static_cast<uint32_t>(ins.operand)); break;
            case OperandForm::kShort: case OperandForm::kConstant2: w->U2(static_cast<uint32_t>(ins.operand)); break;
            case OperandForm::kIinc:
                if (ins.wide) { w->U2(ins.operand); w->U2(static_cast<uint32_t>(ins.operand2)); }
                else { w->U1(ins.operand); w->U1(static_cast<uint32_t>(ins.operand2)); }
                break;
            case OperandForm::kBranch4:
                w->U4(static_cast<uint32_t>(int64_t{layout.labelOffset[ins.target]} - at));
                break;
            case OperandForm::kTableswitch: case OperandForm::kLookupswitch:
                EmitSwitch(ins, at, layout, w);
                break;
            case OperandForm::kInvokeinterface:
                w->U2(static_cast<uint32_t>(ins.operand)); w->U1(static_cast<uint32_t>(ins.operand2)); w->U1(0);
                break;
            case OperandForm::kInvokedynamic: w->U2(static_cast<uint32_t>(ins.operand)); w->U2(0); break;
            case OperandForm::kMultianewarray:
                w->U2(static_cast<uint32_t>(ins.operand)); w->U1(static_cast<uint32_t>(ins.operand2));
                break;
            default: break;
        }
    }
}

// The frames to write: the code's own, and one after every inverted conditional branch
// (unless a frame is there already). New frames' labels follow the code's own.
Refusal FramesToWrite(const Code& code, const MethodContext& method, const ConstantPool& pool,
                      Layout* layout, std::vector<Frame>* out) {
    *out = code.frames;
    if (!code.hasStackMap || method.major < 50) return Refusal::kNone;
    std::vector<uint32_t> taken;
    for (const Frame& f : code.frames) taken.push_back(layout->labelOffset[f.at]);
    for (size_t i = 0; i < code.instructions.size(); ++i) {
        const Instruction& ins = code.instructions[i];
        if (ins.IsLabel() || !layout->widened[i] || !IsConditionalBranch(static_cast<uint8_t>(ins.opcode))) continue;
        const uint32_t next = static_cast<uint32_t>(layout->at[i]) + kInvertedLength;
        if (std::find(taken.begin(), taken.end(), next) != taken.end()) continue;
        Frame f;
        if (!FrameAfterFallThrough(code, i, method, pool, &f)) return Refusal::kUntypeable;
        f.at = static_cast<LabelId>(layout->labelOffset.size());
        f.encoding = -1;
        layout->labelOffset.push_back(next);
        out->push_back(f);
        taken.push_back(next);
    }
    std::stable_sort(out->begin(), out->end(), [&](const Frame& a, const Frame& b) {
        return layout->labelOffset[a.at] < layout->labelOffset[b.at];
    });
    return Refusal::kNone;
}

Refusal WriteAttributes(const Code& code, const std::vector<Frame>& frames, const Layout& layout,
                        ConstantPool* pool, Writer* w) {
    w->U2(static_cast<uint32_t>(code.attributes.size()));
    for (const CodeAttribute& a : code.attributes) {
        w->U2(a.name);
        const size_t start = w->BeginLength();
        switch (a.kind) {
            case CodeAttributeKind::kStackMapTable: {
                const Refusal refusal = WriteStackMapTable(frames, layout.labelOffset, pool, w);
                if (refusal != Refusal::kNone) return refusal;
                break;
            }
            case CodeAttributeKind::kLineNumberTable:
                w->U2(static_cast<uint32_t>(a.lines.size()));
                for (const LineNumber& l : a.lines) {
                    if (l.at >= code.labelCount) return Refusal::kMalformedCode;
                    w->U2(layout.labelOffset[l.at]);
                    w->U2(l.line);
                }
                break;
            case CodeAttributeKind::kLocalVariableTable: case CodeAttributeKind::kLocalVariableTypeTable:
                w->U2(static_cast<uint32_t>(a.variables.size()));
                for (const LocalVariable& v : a.variables) {
                    if (v.start >= code.labelCount || v.end >= code.labelCount ||
                        layout.labelOffset[v.end] < layout.labelOffset[v.start]) {
                        return Refusal::kMalformedCode;
                    }
                    w->U2(layout.labelOffset[v.start]);
                    w->U2(layout.labelOffset[v.end] - layout.labelOffset[v.start]);
                    w->U2(v.name);
                    w->U2(v.descriptor);
                    w->U2(v.index);
                }
                break;
        }
        w->PatchLength(start);
    }
    return Refusal::kNone;
}
}  // namespace

Refusal EncodeCode(const Code& code, const MethodContext& method, ConstantPool* pool,
                   std::vector<uint8_t>* out) {
    out->clear();
    Refusal refusal = CheckInstructions(code);
    if (refusal != Refusal::kNone) return refusal;
    Layout layout;
    refusal = LayOut(code, &layout);
    if (refusal != Refusal::kNone) return refusal;
    if (layout.length == 0) return Refusal::kMalformedCode;
    std::vector<Frame> frames;
    refusal = FramesToWrite(code, method, *pool, &layout, &frames);
    if (refusal != Refusal::kNone) return refusal;

    Writer w{out};
    w.U2(code.maxStack);
    w.U2(code.maxLocals);
    w.U4(static_cast<uint32_t>(layout.length));
    Emit(code, layout, &w);
    w.U2(static_cast<uint32_t>(code.handlers.size()));
    for (const ExceptionHandler& h : code.handlers) {
        if (h.start >= code.labelCount || h.end >= code.labelCount || h.handler >= code.labelCount ||
            layout.labelOffset[h.start] >= layout.labelOffset[h.end]) {
            return Refusal::kMalformedCode;
        }
        w.U2(layout.labelOffset[h.start]);
        w.U2(layout.labelOffset[h.end]);
        w.U2(layout.labelOffset[h.handler]);
        w.U2(h.catchType);
    }
    return WriteAttributes(code, frames, layout, pool, &w);
}

}  // namespace bytecode

#include "bytecode/field_sites.h"

#include <map>

#include "bytecode/class_file.h"
#include "bytecode/code.h"
#include "bytecode/descriptors.h"
#include "bytecode/frame_simulator.h"
#include "bytecode/insertion.h"
#include "bytecode/method_code.h"
#include "bytecode/opcodes.h"

namespace bytecode {
namespace {
// The most any site's inserted code puts above the stack it found (putstatic: the value, null,
// the value again and the id).
constexpr uint16_t kSiteStack = 3;


// The pool indexes of the Fieldrefs that name a target, with the target they name.
std::map<uint16_t, const FieldSiteTarget*> MatchingFieldrefs(const ConstantPool& pool,
                                                             const std::vector<FieldSiteTarget>& targets) {
    std::map<uint16_t, const FieldSiteTarget*> found;
    for (size_t i = 1; i < pool.entries.size(); ++i) {
        const Constant& c = pool.entries[i];
        if (c.tag != kTagFieldref) continue;
        const std::string* owner = pool.ClassName(c.first);
        std::string name, descriptor;
        if (owner == nullptr || !pool.MemberNameAndType(static_cast<uint32_t>(i), &name, &descriptor)) continue;
        for (const FieldSiteTarget& t : targets) {
            if (t.name != name || t.descriptor != descriptor) continue;
            bool named = false;
            for (const std::string& o : t.owners) named = named || o == *owner;
            if (named) {
                found[static_cast<uint16_t>(i)] = &t;
                break;
            }
        }
    }
    return found;
}

// Whether the raw code may hold a site (an access opcode followed by a matching index).
bool MayHoldSite(const Attribute& code, const std::map<uint16_t, const FieldSiteTarget*>& sites) {
    const std::vector<uint8_t>& b = code.bytes;
    for (size_t i = 8; i + 2 < b.size(); ++i) {
        if (b[i] < op::kGetstatic || b[i] > op::kPutfield) continue;
        const uint16_t index = static_cast<uint16_t>((b[i + 1] << 8) | b[i + 2]);
        if (sites.count(index) != 0) return true;
    }
    return false;
}

struct SiteBuilder {
    ClassFile* cls;
    const char* hookClass;

    bool Call(bool read, char kind, Instruction* out) {
        const std::string descriptor = read ? FieldHookReadDescriptor(kind) : FieldHookWriteDescriptor(kind);
        const uint16_t index = cls->pool.MethodrefIndex(
            hookClass, read ? FieldHookReadName(kind) : FieldHookWriteName(kind), descriptor);
        *out = WithOperand(op::kInvokestatic, index);
        return index != 0;
    }

    // The code before (`before`) and after (`after`) the access `opcode` of a field of
    // `descriptor` with the site id `id`. False when the pool is full.
    bool Build(uint8_t opcode, const std::string& descriptor, int32_t id, std::vector<Instruction>* before,
               std::vector<Instruction>* after) {
        const char kind = FieldHookKind(descriptor[0]);
        Instruction push, call;
        if (!PushInt(id, &push)) {
            const uint16_t constant = cls->pool.IntegerIndex(id);
            if (constant == 0) return false;
            push = WithOperand(op::kLdcW, constant);
        }
        const bool read = opcode == op::kGetfield || opcode == op::kGetstatic;
        if (!Call(read, kind, &call)) return false;
        if (read) {
            before->push_back(Simple(opcode == op::kGetfield ? op::kDup : op::kAconstNull));
            after->push_back(push);
            after->push_back(call);
            if (kind == 'L' && descriptor != "Ljava/lang/Object;") {
                const std::string type =
                    descriptor[0] == 'L' ? descriptor.substr(1, descriptor.size() - 2) : descriptor;
                const uint16_t cast = cls->pool.ClassIndex(type);
                if (cast == 0) return false;
                after->push_back(WithOperand(op::kCheckcast, cast));
            }
            return true;
        }
        if (opcode == op::kPutfield && IsWideKind(kind)) {
            // (obj v) -> (v obj v) -> (v obj) -> (obj v obj), JVMS forms 2 of dup2_x1 and dup_x2.
            *before = {Simple(op::kDup2X1), Simple(op::kPop2), Simple(op::kDupX2)};
        } else if (opcode == op::kPutfield) {
            *before = {Simple(op::kDup2)};  // (obj v) -> (obj v obj v)
        } else if (IsWideKind(kind)) {
            *before = {Simple(op::kAconstNull)};  // (v) -> (v null)
        } else {
            *before = {Simple(op::kDup), Simple(op::kAconstNull), Simple(op::kSwap)};  // (v null v)
        }
        before->push_back(push);
        before->push_back(call);
        return true;
    }
};

// Whether the putfield at `index` stores into an object that is still uninitialized, or one
// whose type cannot be worked out in a constructor (treated as uninitialized).
bool UninitializedReceiver(const ClassFile& cls, const Member& method, const Code& code, size_t index) {
    const MethodContext context = ContextOf(cls, method);
    if (!context.isConstructor) return false;
    Frame frame;
    if (!FrameBefore(code, index, context, cls.pool, &frame) || frame.stack.size() < 2) return true;
    const VerificationType& receiver = frame.stack[frame.stack.size() - 2];
    return receiver.tag == kUninitializedThis || receiver.tag == kUninitialized;
}

// The class's SourceFile, or "".
std::string SourceFileOf(const ClassFile& cls) {
    for (const Attribute& a : cls.attributes) {
        const std::string* name = cls.pool.Utf8(a.name);
        if (name == nullptr || *name != "SourceFile" || a.bytes.size() != 2) continue;
        const std::string* file = cls.pool.Utf8(static_cast<uint16_t>((a.bytes[0] << 8) | a.bytes[1]));
        return file != nullptr ? *file : "";
    }
    return "";
}

// The line of each label of the code's line number tables (the last entry of a label counts).
std::map<LabelId, int32_t> LinesOfLabels(const Code& code) {
    std::map<LabelId, int32_t> lines;
    for (const CodeAttribute& a : code.attributes) {
        if (a.kind != CodeAttributeKind::kLineNumberTable) continue;
        for (const LineNumber& n : a.lines) lines[n.at] = n.line;
    }
    return lines;
}

// What a site's place is made of, for one class.
struct ClassPlace {
    std::string className;
    std::string sourceFile;
    const FieldSiteIds* siteIds;
};

// Rewrites the sites of one method. Returns whether the method changed.
bool RewriteMethod(ClassFile* cls, Member* method, const std::map<uint16_t, const FieldSiteTarget*>& sites,
                   const char* hookClass, const ClassPlace& where, FieldSiteCounts* counts) {
    const Attribute* attribute = FindCodeAttribute(*cls, method);
    if (attribute == nullptr || !MayHoldSite(*attribute, sites)) return false;
    Code code;
    if (ReadMethodCode(*cls, method, &code) != Refusal::kNone) {
        ++counts->refusedMethods;
        return false;
    }
    SiteBuilder builder{cls, hookClass};
    size_t placed = 0, uninitialized = 0;
    bool failed = false;
    const bool numbered = where.siteIds != nullptr && *where.siteIds;
    const std::map<LabelId, int32_t> lines = numbered ? LinesOfLabels(code) : std::map<LabelId, int32_t>();
    // A copy: the pool grows (and moves) as sites are rewritten.
    const std::string* named = cls->pool.Utf8(method->name);
    const std::string methodName = named != nullptr ? *named : std::string();
    int32_t line = -1;  // the line of the code reached, as the tables of the code read say
    for (size_t i = 0; i < code.instructions.size() && !failed;) {
        const Instruction ins = code.instructions[i];
        if (numbered && ins.IsLabel()) {
            const auto at = lines.find(static_cast<LabelId>(ins.operand));
            if (at != lines.end()) line = at->second;
        }
        const auto site = ins.IsLabel() || ins.opcode < op::kGetstatic || ins.opcode > op::kPutfield
                              ? sites.end()
                              : sites.find(static_cast<uint16_t>(ins.operand));
        const uint8_t opcode = static_cast<uint8_t>(ins.opcode);
        const bool isStatic = opcode == op::kGetstatic || opcode == op::kPutstatic;
        if (site == sites.end() || site->second->isStatic != isStatic) {
            ++i;
            continue;
        }
        if (opcode == op::kPutfield && UninitializedReceiver(*cls, *method, code, i)) {
            ++uninitialized;
            ++i;
            continue;
        }
        std::vector<Instruction> before, after;
        int32_t id = site->second->id;
        if (numbered) {
            id = (*where.siteIds)(*site->second, {&where.className, &methodName, &where.sourceFile, line});
            // A pool with no room for the site's int leaves the site unnumbered, never unwatched.
            if ((id < -32768 || id > 32767) && cls->pool.IntegerIndex(id) == 0) id = site->second->id;
        }
        if (!builder.Build(opcode, site->second->descriptor, id, &before, &after)) {
            failed = true;
            break;
        }
        size_t next = i + 1;
        if (!before.empty()) failed = InsertBefore(&code, i, before, kSiteStack, &next) != Refusal::kNone;
        if (!failed && !after.empty()) {
            failed = InsertAfter(&code, next - 1, after, kSiteStack, &next) != Refusal::kNone;
        }
        ++placed;
        i = next;
    }
    counts->uninitialized += uninitialized;
    if (failed || (placed > 0 && WriteMethodCode(cls, method, code) != Refusal::kNone)) {
        ++counts->refusedMethods;
        return false;
    }
    counts->rewritten += placed;
    return placed > 0;
}
}  // namespace

char FieldHookKind(char descriptorChar) {
    switch (descriptorChar) {
        case 'J': case 'F': case 'D': return descriptorChar;
        case 'L': case '[': return 'L';
        default: return 'I';
    }
}

const char* FieldHookReadName(char kind) {
    switch (kind) {
        case 'J': return "readJ";
        case 'F': return "readF";
        case 'D': return "readD";
        case 'L': return "readL";
        default: return "readI";
    }
}

const char* FieldHookWriteName(char kind) {
    switch (kind) {
        case 'J': return "writeJ";
        case 'F': return "writeF";
        case 'D': return "writeD";
        case 'L': return "writeL";
        default: return "writeI";
    }
}

std::string FieldHookReadDescriptor(char kind) {
    const std::string t = TypeOfKind(kind);
    return "(Ljava/lang/Object;" + t + "I)" + t;
}

std::string FieldHookWriteDescriptor(char kind) {
    const std::string t = TypeOfKind(kind);
    if (IsWideKind(kind)) return "(" + t + "Ljava/lang/Object;I)" + t;
    return "(Ljava/lang/Object;" + t + "I)V";
}

bool PoolNamesTarget(const ConstantPool& pool, const std::vector<FieldSiteTarget>& targets) {
    return !MatchingFieldrefs(pool, targets).empty();
}

bool RewriteFieldSites(const uint8_t* data, size_t size, const std::vector<FieldSiteTarget>& targets,
                       std::vector<uint8_t>* out, FieldSiteCounts* counts, const char* hookClass,
                       const FieldSiteIds& siteIds) {
    out->clear();
    ClassFile cls;
    if (targets.empty() || ParseClassFile(data, size, &cls) != Refusal::kNone) return false;
    const std::map<uint16_t, const FieldSiteTarget*> sites = MatchingFieldrefs(cls.pool, targets);
    if (sites.empty()) return false;
    ClassPlace where;
    if (siteIds) {
        const std::string* name = cls.pool.ClassName(cls.thisClass);
        where.className = name != nullptr ? *name : "";
        where.sourceFile = SourceFileOf(cls);
    }
    where.siteIds = &siteIds;
    bool changed = false;
    for (Member& method : cls.methods) {
        changed = RewriteMethod(&cls, &method, sites, hookClass, where, counts) || changed;
    }
    if (changed) WriteClassFile(cls, out);
    return changed;
}

}  // namespace bytecode

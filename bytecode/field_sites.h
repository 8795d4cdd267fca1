// Field access sites made to call the field hook: every getfield, putfield, getstatic and
// putstatic whose Fieldref names a watched field through one of the classes it resolves from
// calls a static method of the hook class with the value read (after the read) or about to be
// assigned (before the write), using stack shuffles only (no new locals):
//
//     getfield     dup; getfield; <id>; invokestatic read<K>(Object, T, int)T [checkcast]
//     getstatic    aconst_null; getstatic; <id>; invokestatic read<K>(Object, T, int)T [checkcast]
//     putfield     dup2; <id>; invokestatic write<K>(Object, T, int)V; putfield
//       (long, double)  dup2_x1; pop2; dup_x2; <id>; invokestatic write<K>(T, Object, int)T; putfield
//     putstatic    dup; aconst_null; swap; <id>; invokestatic write<K>(Object, T, int)V; putstatic
//       (long, double)  aconst_null; <id>; invokestatic write<K>(T, Object, int)T; putstatic
//
// A static site passes null for the object. K is I (int, short, byte, char and boolean, which
// are ints on the stack), J, F, D or L (any reference, cast back to the field's type after a
// read). A putfield whose receiver is still uninitialized (a constructor's store before its
// super or this call, or one the engine cannot type in a constructor) is left alone: the
// verifier would reject passing that receiver on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bytecode/constant_pool.h"
#include "bytecode/refusal.h"

namespace bytecode {

constexpr const char* kFieldHookClass = "com/vexo/internal/FieldHook";

// The hook's methods for a field descriptor: the read, and the write (its descriptor takes the
// value first, and returns it, for long and double).
const char* FieldHookReadName(char kind);
const char* FieldHookWriteName(char kind);
std::string FieldHookReadDescriptor(char kind);
std::string FieldHookWriteDescriptor(char kind);
// 'I', 'J', 'F', 'D' or 'L' for a field descriptor's first character.
char FieldHookKind(char descriptorChar);

// A watched field: the Fieldref classes that resolve to it (its declaring class, and classes
// that inherit it without shadowing it), its name and descriptor, and the id its sites pass.
struct FieldSiteTarget {
    std::vector<std::string> owners;  // internal names, e.g. "demo/Account"
    std::string name;
    std::string descriptor;
    bool isStatic = false;
    int32_t id = 0;  // 0 to 32767
};

struct FieldSiteCounts {
    size_t rewritten = 0;      // sites that now call the hook
    size_t uninitialized = 0;  // putfields on an uninitialized receiver, left alone
    size_t refusedMethods = 0; // methods with sites the engine refused (left as they were)
};

// Where a rewritten site is, as a stack trace names it: the class (internal name), the method,
// the class's SourceFile ("" without one) and the line of the access (-1 without a line number
// covering it, taken from the method's LineNumberTable as read).
struct FieldSitePlace {
    const std::string* className = nullptr;
    const std::string* methodName = nullptr;
    const std::string* sourceFile = nullptr;
    int32_t line = -1;
};

// The int a site of `target` at `place` pushes for the hook: by default the target's id. A value
// beyond sipush's range is pushed by ldc_w from the pool.
using FieldSiteIds = std::function<int32_t(const FieldSiteTarget& target, const FieldSitePlace& place)>;

// Whether the pool holds a Fieldref of a target (the cheap test before any rewriting).
bool PoolNamesTarget(const ConstantPool& pool, const std::vector<FieldSiteTarget>& targets);

// Rewrites the sites of `targets` in every method of the class file in `data`. Returns false
// (and leaves `out` empty) when the class file does not parse or no site was rewritten; a
// method the engine refuses stays as it was and is counted. `hookClass` is the class the
// calls name (tests use one of their own); `siteIds`, when given, chooses each site's int.
bool RewriteFieldSites(const uint8_t* data, size_t size, const std::vector<FieldSiteTarget>& targets,
                       std::vector<uint8_t>* out, FieldSiteCounts* counts,
                       const char* hookClass = kFieldHookClass, const FieldSiteIds& siteIds = nullptr);

}  // namespace bytecode

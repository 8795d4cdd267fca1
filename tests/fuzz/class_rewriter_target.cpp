// Arbitrary bytes as the class file the VM hands the class file hook: the rewriter lists the
// instrumentable methods, then rewrites the class with a probe for each of them and one for a
// method the class does not have.
//
// Expectations: no read outside the input (it lies in a buffer of exactly its size); a class
// the rewriter accepts grows by no more than the hook's constants and a bounded amount per
// method, comes out as a class file its reader accepts again with the same methods, and only
// listed methods are instrumented. A class the field-site pass rewrites, as the engine's target
// runs it (bytecode/fuzz), stays readable to the rewriter with the same methods (the class file
// hook may run both passes on one class).
#include <cstring>
#include <string>
#include <vector>

#include "bytecode/fuzz/class_engine_target.h"
#include "instrument/class_rewriter.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {
constexpr size_t kUtf8Head = 3;  // tag, u2 length
// The hook's constants the rewriter appends: three Utf8 entries, a Class (3 bytes), a
// NameAndType (5) and a Methodref (5).
const size_t kHookConstantBytes = 3 * kUtf8Head + std::strlen(kEntryHookClass) +
                                  std::strlen(kEntryHookMethod) +
                                  std::strlen(kEntryHookDescriptor) + 3 + 5 + 5;
constexpr size_t kIntegerConstantBytes = 5;  // one per probe: its id
// Per instrumented method: the 8-byte prefix, and 2 bytes when the first stack map frame's
// offset, moved by the prefix, no longer fits its one-byte frame type.
constexpr size_t kInstrumentedMethodBytes = 8 + 2;

bool SameMethods(const std::vector<DeclaredMethod>& a, const std::vector<DeclaredMethod>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].descriptor != b[i].descriptor) return false;
    }
    return true;
}
}  // namespace

int FuzzClassRewriter(const uint8_t* data, size_t size) {
    // An exactly sized copy; an empty input has no buffer at all.
    std::vector<uint8_t> input(data, data + size);
    const uint8_t* bytes = input.empty() ? nullptr : input.data();

    std::vector<DeclaredMethod> methods;
    const bool listed = ListInstrumentableMethods(bytes, size, &methods);
    const std::vector<uint8_t> fieldPass = FieldSitePass(bytes, size);
    if (listed && !fieldPass.empty()) {
        std::vector<DeclaredMethod> listedAfter;
        FUZZ_CHECK(ListInstrumentableMethods(fieldPass.data(), fieldPass.size(), &listedAfter),
                   "the entry rewriter refuses the field pass's class");
        FUZZ_CHECK(SameMethods(methods, listedAfter), "%zu methods listed before the field pass, %zu after",
                   methods.size(), listedAfter.size());
    }
    std::vector<EntryProbe> probes;
    auto addProbe = [&probes](const std::string& name, const std::string& descriptor) {
        EntryProbe p;
        p.name = name;
        p.descriptor = descriptor;
        p.id = static_cast<int32_t>(probes.size());
        p.instrumented = false;
        probes.push_back(p);
    };
    for (const DeclaredMethod& m : methods) addProbe(m.name, m.descriptor);
    // A method the class does not declare: the input may itself name one "vexo$absent", so the
    // name grows until no listed method has it.
    std::string absent = "vexo$absent";
    auto listedName = [&methods](const std::string& name) {
        for (const DeclaredMethod& m : methods) {
            if (m.name == name) return true;
        }
        return false;
    };
    while (listedName(absent)) absent += '$';
    addProbe(absent, "()V");

    std::vector<uint8_t> out;
    const bool rewritten = RewriteClass(bytes, size, &probes, &out);
    FUZZ_CHECK(rewritten == !out.empty(), "RewriteClass answered %d with %zu bytes", rewritten,
               out.size());
    if (!rewritten) return 0;
    FUZZ_CHECK(listed, "a class the reader refuses was rewritten");
    FUZZ_CHECK(!probes.back().instrumented, "a method the class lacks was instrumented");

    size_t instrumented = 0;
    for (const EntryProbe& p : probes) instrumented += p.instrumented ? 1 : 0;
    FUZZ_CHECK(instrumented > 0, "rewritten without an instrumented method");
    const size_t bound = size + kHookConstantBytes + kIntegerConstantBytes * probes.size() +
                         kInstrumentedMethodBytes * methods.size();
    FUZZ_CHECK(out.size() <= bound, "%zu bytes became %zu (at most %zu), %zu methods", size,
               out.size(), bound, methods.size());

    std::vector<DeclaredMethod> again;
    FUZZ_CHECK(ListInstrumentableMethods(out.data(), out.size(), &again),
               "the rewritten class is refused by the reader");
    FUZZ_CHECK(SameMethods(methods, again), "%zu methods before, %zu after", methods.size(),
               again.size());
    return 0;
}

// Arbitrary bytes as a class file the engine reads: the model, the method code, the method probe
// pass and the field-site pass.
//
// Expectations: no read outside the input (it lies in a buffer of exactly its size); a class
// file the model parses writes back byte for byte; every method code it decodes is written back
// unchanged, without growing the pool; a class the field-site pass rewrites (watching the first
// two fields the pool's Fieldrefs name) is parsed again by the model with as many methods, and
// every method code that decoded before decodes again. A class the method probe pass rewrites
// (every method, with arguments and exits) parses again, and its method codes decode as before.
#include "bytecode/fuzz/class_engine_target.h"

#include <cstring>
#include <string>

#include "bytecode/class_file.h"
#include "bytecode/field_sites.h"
#include "bytecode/fuzz/fuzz_check.h"
#include "bytecode/method_code.h"
#include "bytecode/method_probes.h"

namespace {
using namespace bytecode;

constexpr size_t kWatchedFields = 2;
constexpr const char* kFieldHook = "vexo/FuzzFieldHook";

// The first Fieldrefs of the pool as watched fields, each owned by the class its Fieldref
// names. Whether a field counts as static alternates, starting from the input's size parity, so
// the fuzzer reaches both kinds of site.
std::vector<FieldSiteTarget> WatchedFields(const ConstantPool& pool, size_t size) {
    std::vector<FieldSiteTarget> targets;
    for (size_t i = 1; i < pool.entries.size() && targets.size() < kWatchedFields; ++i) {
        if (pool.entries[i].tag != kTagFieldref) continue;
        const std::string* owner = pool.ClassName(pool.entries[i].first);
        FieldSiteTarget t;
        if (owner == nullptr || !pool.MemberNameAndType(static_cast<uint32_t>(i), &t.name, &t.descriptor)) {
            continue;
        }
        t.owners.push_back(*owner);
        t.isStatic = ((size + targets.size()) & 1) != 0;
        t.id = static_cast<int32_t>(targets.size() + 1);
        targets.push_back(t);
    }
    return targets;
}

// Which methods' code decodes.
std::vector<bool> DecodableMethods(ClassFile* cls) {
    std::vector<bool> decodable;
    for (Member& m : cls->methods) {
        Code code;
        decodable.push_back(ReadMethodCode(*cls, &m, &code) == Refusal::kNone);
    }
    return decodable;
}

// Every decodable method's code, written back unchanged, equals what was read.
void CheckUnchangedCode(ClassFile* cls) {
    const size_t poolSize = cls->pool.entries.size();
    for (size_t i = 0; i < cls->methods.size(); ++i) {
        Member* method = &cls->methods[i];
        Code code;
        if (ReadMethodCode(*cls, method, &code) != Refusal::kNone) continue;
        const Attribute* attribute = FindCodeAttribute(*cls, method);
        FUZZ_CHECK(attribute != nullptr, "method %zu decoded without a Code attribute", i);
        const std::vector<uint8_t> before = attribute->bytes;
        const Refusal written = WriteMethodCode(cls, method, code);
        FUZZ_CHECK(written == Refusal::kNone, "method %zu decoded but its unchanged code is refused: %s", i,
                   RefusalName(written));
        const std::vector<uint8_t>& after = FindCodeAttribute(*cls, method)->bytes;
        size_t at = 0;
        while (at < before.size() && at < after.size() && before[at] == after[at]) ++at;
        FUZZ_CHECK(before == after, "method %zu: %zu code bytes written back as %zu, first difference at %zu", i,
                   before.size(), after.size(), at);
        FUZZ_CHECK(cls->pool.entries.size() == poolSize, "unchanged code of method %zu grew the pool", i);
    }
}

// Every method probed (arguments and exits): a class the probe pass rewrites parses again, and
// every method code that decoded before decodes again.
void CheckMethodProbes(const uint8_t* data, size_t size, const ClassFile& cls, const std::vector<bool>& decodable) {
    std::vector<MethodProbeTarget> targets;
    for (const Member& m : cls.methods) {
        MethodProbeTarget t;
        const std::string* name = cls.pool.Utf8(m.name);
        const std::string* descriptor = cls.pool.Utf8(m.descriptor);
        if (name == nullptr || descriptor == nullptr) continue;
        t.name = *name;
        t.descriptor = *descriptor;
        const int32_t ids[] = {3, -100, 3000, 70000};  // iconst, bipush, sipush, ldc
        t.id = ids[targets.size() % 4];
        t.arguments = t.exits = true;
        targets.push_back(t);
    }
    std::vector<uint8_t> out;
    const bool rewritten = RewriteMethodProbes(data, size, &targets, &out, "vexo/FuzzMethodHook");
    FUZZ_CHECK(rewritten == !out.empty(), "RewriteMethodProbes answered %d with %zu bytes", rewritten, out.size());
    if (!rewritten) return;
    ClassFile result;
    const Refusal reparsed = ParseClassFile(out.data(), out.size(), &result);
    FUZZ_CHECK(reparsed == Refusal::kNone, "the probe pass's class is refused by the model: %s", RefusalName(reparsed));
    const std::vector<bool> decodableAfter = DecodableMethods(&result);
    FUZZ_CHECK(decodableAfter.size() == decodable.size(), "%zu methods became %zu", decodable.size(),
               decodableAfter.size());
    for (size_t i = 0; i < decodable.size(); ++i) {
        FUZZ_CHECK(!decodable[i] || decodableAfter[i], "method %zu no longer decodes after the probe pass", i);
    }
}

// The checks, on an exactly sized input.
void CheckClassEngine(const uint8_t* data, size_t size) {
    ClassFile cls;
    if (ParseClassFile(data, size, &cls) != Refusal::kNone) return;
    std::vector<uint8_t> again;
    WriteClassFile(cls, &again);
    FUZZ_CHECK(again.size() == size && (size == 0 || std::memcmp(again.data(), data, size) == 0),
               "a class file of %zu bytes written back as %zu bytes, or other bytes", size, again.size());

    const std::vector<bool> decodable = DecodableMethods(&cls);
    CheckUnchangedCode(&cls);
    CheckMethodProbes(data, size, cls, decodable);

    const std::vector<FieldSiteTarget> targets = WatchedFields(cls.pool, size);
    std::vector<uint8_t> out;
    FieldSiteCounts counts;
    // Sites numbered as the agent numbers them (each its own int, from the pool when beyond sipush).
    int32_t sites = 0;
    const FieldSiteIds numbered = [&sites](const FieldSiteTarget& t, const FieldSitePlace& place) {
        FUZZ_CHECK(place.className != nullptr && place.methodName != nullptr && place.sourceFile != nullptr &&
                       place.line >= -1,
                   "a site's place is incomplete");
        ++sites;
        return t.id | (sites << 12);
    };
    const bool rewritten = RewriteFieldSites(data, size, targets, &out, &counts, kFieldHook, numbered);
    FUZZ_CHECK(rewritten == !out.empty(), "RewriteFieldSites answered %d with %zu bytes", rewritten,
               out.size());
    FUZZ_CHECK(rewritten == (counts.rewritten > 0), "%d with %zu sites rewritten", rewritten, counts.rewritten);
    if (!rewritten) return;

    ClassFile result;
    const Refusal reparsed = ParseClassFile(out.data(), out.size(), &result);
    FUZZ_CHECK(reparsed == Refusal::kNone, "the field pass's class is refused by the model: %s",
               RefusalName(reparsed));
    FUZZ_CHECK(result.methods.size() == cls.methods.size(), "%zu methods became %zu", cls.methods.size(),
               result.methods.size());
    const std::vector<bool> decodableAfter = DecodableMethods(&result);
    for (size_t i = 0; i < decodable.size(); ++i) {
        FUZZ_CHECK(!decodable[i] || decodableAfter[i], "method %zu no longer decodes after the field pass", i);
    }
}
}  // namespace

int FuzzClassEngine(const uint8_t* data, size_t size) {
    // An exactly sized copy; an empty input has no buffer at all.
    const std::vector<uint8_t> input(data, data + size);
    CheckClassEngine(input.empty() ? nullptr : input.data(), size);
    return 0;
}

std::vector<uint8_t> FieldSitePass(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    bytecode::ClassFile cls;
    if (bytecode::ParseClassFile(data, size, &cls) != bytecode::Refusal::kNone) return out;
    bytecode::FieldSiteCounts counts;
    bytecode::RewriteFieldSites(data, size, WatchedFields(cls.pool, size), &out, &counts, kFieldHook);
    return out;
}

// The field site rewriter: every read and write of the watched fields (every value kind,
// statics, long and double, inside try/catch/finally, synchronized, switches and loops, an
// inherited field named through a subclass) calls the hook with the value read or assigned, in
// program order; a shadowing field and a constructor's store before its super call are left
// alone; the rewritten classes verify in a fresh loader and compute what the originals do.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "bytecode/field_sites.h"
#include "tests/harness/java_runner.h"

namespace {
using namespace bytecode;

constexpr const char* kHook = "vexotest/FieldSitesHook";
constexpr const char* kSites = "vexotest/FieldSites";
constexpr const char* kBase = "vexotest/FieldSites$Base";
constexpr const char* kSub = "vexotest/FieldSites$Sub";
constexpr const char* kInner = "vexotest/FieldSites$Inner";

struct Access {
    char what;  // 'r' or 'w'
    int id;
    std::string value;
    std::string object;  // the object's class name without its package, "-" for a static
};

// The hook's log since the last call, parsed; the log is emptied.
std::vector<Access> TakeLog() {
    const jvm::Ref log = jvm::StaticField(jvm::FindClass(kHook), "log", "Ljava/lang/StringBuilder;").ref;
    const std::string all = jvm::Text(log);
    EXPECT_EQ(jvm::Call(log, "setLength", "(I)V", {jvm::Int(0)}).thrown, nullptr);
    std::vector<Access> out;
    size_t from = 0;
    for (size_t end; (end = all.find(';', from)) != std::string::npos; from = end + 1) {
        const std::string entry = all.substr(from, end - from);
        const size_t a = entry.find(' '), b = entry.rfind(' ');
        out.push_back({entry[0], std::stoi(entry.substr(1, a - 1)), entry.substr(a + 1, b - a - 1),
                       entry.substr(b + 1)});
    }
    return out;
}

// The accesses of one id, in order.
std::vector<Access> Of(const std::vector<Access>& log, int id) {
    std::vector<Access> out;
    for (const Access& a : log) {
        if (a.id == id) out.push_back(a);
    }
    return out;
}

void ExpectPair(const std::vector<Access>& log, int id, const std::string& value, const std::string& object) {
    const std::vector<Access> seen = Of(log, id);
    ASSERT_EQ(seen.size(), 2u) << "id " << id;
    EXPECT_EQ(seen[0].what, 'w') << "id " << id;
    EXPECT_EQ(seen[1].what, 'r') << "id " << id;
    for (const Access& a : seen) {
        EXPECT_EQ(a.value, value) << "id " << id;
        EXPECT_EQ(a.object, object) << "id " << id;
    }
}

FieldSiteTarget Target(std::vector<std::string> owners, const char* name, const char* descriptor, bool isStatic,
                       int id) {
    FieldSiteTarget t;
    t.owners = std::move(owners);
    t.name = name;
    t.descriptor = descriptor;
    t.isStatic = isStatic;
    t.id = id;
    return t;
}

enum Id { kI, kJ, kF, kD, kS, kB, kZ, kC, kO, kStr, kArr, kSi, kSj, kSd, kSstr, kInherited, kShadowed, kOuter, kK };

std::vector<FieldSiteTarget> SitesTargets() {
    const std::vector<std::string> self = {kSites};
    return {Target(self, "i", "I", false, kI), Target(self, "j", "J", false, kJ),
            Target(self, "f", "F", false, kF), Target(self, "d", "D", false, kD),
            Target(self, "s", "S", false, kS), Target(self, "b", "B", false, kB),
            Target(self, "z", "Z", false, kZ), Target(self, "c", "C", false, kC),
            Target(self, "o", "Ljava/lang/Object;", false, kO),
            Target(self, "str", "Ljava/lang/String;", false, kStr), Target(self, "arr", "[I", false, kArr),
            Target(self, "si", "I", true, kSi), Target(self, "sj", "J", true, kSj),
            Target(self, "sd", "D", true, kSd), Target(self, "sstr", "Ljava/lang/String;", true, kSstr),
            // Base's fields resolve from Base and Sub; Shadow declares its own `shadowed`.
            Target({kBase, kSub}, "inherited", "I", false, kInherited),
            Target({kBase, kSub}, "shadowed", "I", false, kShadowed)};
}

int64_t RunOnce(jvm::Ref clazz) {
    const jvm::Outcome made = jvm::New(clazz, "()V", {});
    EXPECT_EQ(made.thrown, nullptr) << jvm::Text(made.thrown);
    if (made.thrown != nullptr || made.value.ref == nullptr) return 0;
    const jvm::Outcome run = jvm::Call(made.value.ref, "run", "()J", {});
    EXPECT_EQ(run.thrown, nullptr) << jvm::Text(run.thrown);
    return run.value.integer;
}

TEST(FieldSites, EveryKindOfAccessCallsTheHookInOrderAndTheClassComputesTheSame) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/FieldSites.class");
    ASSERT_FALSE(original.empty());
    std::vector<uint8_t> rewritten;
    FieldSiteCounts counts;
    ASSERT_TRUE(RewriteFieldSites(original.data(), original.size(), SitesTargets(), &rewritten, &counts, kHook));
    EXPECT_EQ(counts.refusedMethods, 0u);
    EXPECT_EQ(counts.uninitialized, 0u);

    jvm::Ref plain = jvm::FindClass(kSites);
    ASSERT_NE(plain, nullptr);
    const int64_t expected = RunOnce(plain);
    EXPECT_TRUE(TakeLog().empty()) << "the original calls no hook";

    jvm::Ref fresh = jvm::DefineInFreshLoader(kSites, rewritten);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(RunOnce(fresh), expected);
    const std::vector<Access> log = TakeLog();
    ASSERT_GE(log.size(), 8u);

    // Program order across fields: try, catch, finally, then synchronized.
    const int order[] = {kI, kI, kJ, kJ, kD, kD, kSd, kSd, kF, kF};
    for (size_t n = 0; n < sizeof order / sizeof order[0]; ++n) EXPECT_EQ(log[n].id, order[n]) << "access " << n;
    ExpectPair(log, kI, "3", "FieldSites");
    ExpectPair(log, kJ, std::to_string(1LL << 40), "FieldSites");
    ExpectPair(log, kD, "-2.5", "FieldSites");
    ExpectPair(log, kSd, "0.75", "-");
    ExpectPair(log, kF, "1.25", "FieldSites");
    ExpectPair(log, kZ, "1", "FieldSites");  // booleans pass as ints
    ExpectPair(log, kO, "41", "FieldSites");
    ExpectPair(log, kStr, "text", "FieldSites");
    ExpectPair(log, kSj, std::to_string(-9223372036854775807LL), "-");
    ExpectPair(log, kSstr, "static", "-");
    ExpectPair(log, kInherited, "11", "FieldSites$Sub");
    ExpectPair(log, kShadowed, "17", "FieldSites$Shadow");  // never Shadow's own 13
    EXPECT_EQ(Of(log, kArr).size(), 2u);

    // The loop: s written once, then read on each of the three rounds.
    const std::vector<Access> s = Of(log, kS);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].what, 'w');
    for (const Access& a : s) EXPECT_EQ(a.value, "-7");
    // si = 5; si += 2 (a read and a write); then read.
    const std::vector<Access> si = Of(log, kSi);
    ASSERT_EQ(si.size(), 4u);
    EXPECT_EQ(std::string() + si[0].what + si[1].what + si[2].what + si[3].what, "wrwr");
    EXPECT_EQ(si[0].value + si[1].value + si[2].value + si[3].value, "5577");

    // A pool without the targets' Fieldrefs is left as it is.
    std::vector<uint8_t> none;
    FieldSiteCounts nothing;
    EXPECT_FALSE(RewriteFieldSites(original.data(), original.size(),
                                   {Target({"vexotest/FieldSites$Shadow"}, "inherited", "I", false, 0)}, &none,
                                   &nothing, kHook));
    EXPECT_TRUE(none.empty());
}

// Sites numbered as they are rewritten push their own ints, beyond sipush's range from the pool,
// and each number's place names the class, the method, the source file and a line.
TEST(FieldSites, NumberedSitesPassTheirOwnIdsAndKnowTheirPlaces) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/FieldSites.class");
    ASSERT_FALSE(original.empty());
    struct Place {
        std::string className, method, file;
        int32_t line;
    };
    std::vector<Place> places;  // number n at n - 1
    const FieldSiteIds numbered = [&places](const FieldSiteTarget& target, const FieldSitePlace& place) {
        places.push_back({*place.className, *place.methodName, *place.sourceFile, place.line});
        return target.id | static_cast<int32_t>(places.size() << 12);
    };
    std::vector<uint8_t> rewritten;
    FieldSiteCounts counts;
    ASSERT_TRUE(RewriteFieldSites(original.data(), original.size(), SitesTargets(), &rewritten, &counts, kHook, numbered));
    EXPECT_EQ(counts.refusedMethods, 0u);
    EXPECT_EQ(places.size(), counts.rewritten);

    const int64_t expected = RunOnce(jvm::FindClass(kSites));
    jvm::Ref fresh = jvm::DefineInFreshLoader(kSites, rewritten);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(RunOnce(fresh), expected);
    const std::vector<Access> log = TakeLog();
    ASSERT_GE(log.size(), 8u);
    std::vector<int> lines;
    for (const Access& a : log) {
        const size_t number = static_cast<size_t>(a.id) >> 12;
        ASSERT_TRUE(number >= 1 && number <= places.size()) << a.id;
        const Place& p = places[number - 1];
        EXPECT_EQ(p.className, kSites);
        EXPECT_EQ(p.file, "FieldSites.java");
        EXPECT_FALSE(p.method.empty());
        EXPECT_GT(p.line, 0);
        lines.push_back(p.line);
    }
    EXPECT_EQ(log[0].id & 0xfff, kI);
    EXPECT_NE(std::set<int>(lines.begin(), lines.end()).size(), 1u) << "the sites are on lines of their own";
}

TEST(FieldSites, AConstructorsStoreBeforeItsSuperCallIsLeftAloneAndTheClassVerifies) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/FieldSites$Inner.class");
    ASSERT_FALSE(original.empty());
    const std::vector<FieldSiteTarget> targets = {
        Target({kInner}, "this$0", "Lvexotest/FieldSites;", false, kOuter), Target({kInner}, "k", "I", false, kK),
        Target({kSites}, "i", "I", false, kI)};
    std::vector<uint8_t> rewritten;
    FieldSiteCounts counts;
    ASSERT_TRUE(RewriteFieldSites(original.data(), original.size(), targets, &rewritten, &counts, kHook));
    EXPECT_EQ(counts.uninitialized, 1u) << "the outer instance's store";
    EXPECT_EQ(counts.refusedMethods, 0u);

    jvm::Ref outer = jvm::New(jvm::FindClass(kSites), "()V", {}).value.ref;
    ASSERT_NE(outer, nullptr);
    jvm::SetField(outer, "i", "I", jvm::Int(23));
    jvm::Ref inner = jvm::DefineInFreshLoader(kInner, rewritten);
    ASSERT_NE(inner, nullptr);
    const jvm::Outcome made = jvm::New(inner, "(Lvexotest/FieldSites;)V", {jvm::Reference(outer)});
    ASSERT_EQ(made.thrown, nullptr) << jvm::Text(made.thrown);
    ASSERT_NE(made.value.ref, nullptr);
    const jvm::Outcome outerI = jvm::Call(made.value.ref, "outerI", "()I", {});
    ASSERT_EQ(outerI.thrown, nullptr) << jvm::Text(outerI.thrown);
    EXPECT_EQ(outerI.value.integer, 23);
    const std::vector<Access> log = TakeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_TRUE(log[0].what == 'w' && log[0].id == kK && log[0].value == "5" && log[0].object == "FieldSites$Inner");
    EXPECT_TRUE(log[1].what == 'r' && log[1].id == kOuter && log[1].object == "FieldSites$Inner");
    EXPECT_TRUE(log[2].what == 'r' && log[2].id == kI && log[2].value == "23" && log[2].object == "FieldSites");
}

}  // namespace

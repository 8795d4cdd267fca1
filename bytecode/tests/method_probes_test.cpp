// The method probe rewriter: rewritten methods call the hook with every argument in order, on
// entry once per call (also when a loop branches back to the first instruction), with the
// value of every return, and with the very exception that leaves them (thrown, rethrown or
// thrown by a callee; one caught inside is not seen); recursion nests; constructors see null
// before their super call and the object after it; the classes verify (version 61 with stack
// map frames, version 49 without) and compute what the originals do; methods the engine
// cannot rewrite stay as they were.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bytecode/class_file.h"
#include "bytecode/insertion.h"
#include "bytecode/method_code.h"
#include "bytecode/method_probes.h"
#include "bytecode/opcodes.h"
#include "tests/harness/java_runner.h"

namespace {
using namespace bytecode;

constexpr const char* kHook = "vexotest/ProbeHook";
constexpr const char* kSubjects = "vexotest/ProbeSubjects";
constexpr const char* kDerived = "vexotest/ProbeSubjects$Derived";
constexpr const char* kDirect = "vexotest/ProbeSubjects$Direct";
constexpr int kCodeLimit = 65535;

using Log = std::vector<std::string>;

jvm::Ref Hook() { return jvm::FindClass(kHook); }

// Defines `bytes` in a loader of its own and links the class, so the verifier has run; null
// (with the VerifyError printed) when it refuses the class.
jvm::Ref Linked(const char* name, const std::vector<uint8_t>& bytes) {
    jvm::Ref c = jvm::DefineInFreshLoader(name, bytes);
    if (c == nullptr) return nullptr;
    const jvm::Outcome methods = jvm::Call(c, "getMethods", "()[Ljava/lang/reflect/Method;", {});
    if (methods.thrown == nullptr) return c;
    std::fprintf(stderr, "%s\n", jvm::Text(methods.thrown).c_str());
    return nullptr;
}

// The hook's log since the last call, one string per entry; the log and its exceptions are emptied.
Log TakeLog() {
    const jvm::Ref hook = Hook();
    const jvm::Ref log = jvm::StaticField(hook, "log", "Ljava/lang/StringBuilder;").ref;
    const jvm::Ref list = jvm::StaticField(hook, "exceptions", "Ljava/util/List;").ref;
    const std::string all = jvm::Text(log);
    EXPECT_EQ(jvm::Call(log, "setLength", "(I)V", {jvm::Int(0)}).thrown, nullptr);
    EXPECT_EQ(jvm::Call(list, "clear", "()V", {}).thrown, nullptr);
    Log out;
    size_t from = 0;
    for (size_t end; (end = all.find(';', from)) != std::string::npos; from = end + 1) {
        out.push_back(all.substr(from, end - from));
    }
    return out;
}

// Whether `thrown` is the exception the hook logged as #0 (call before TakeLog).
bool IsFirstLoggedException(jvm::Ref thrown) {
    const jvm::Ref list = jvm::StaticField(Hook(), "exceptions", "Ljava/util/List;").ref;
    const jvm::Outcome size = jvm::Call(list, "size", "()I", {});
    if (size.thrown != nullptr || size.value.integer < 1) return false;
    const jvm::Outcome first = jvm::Call(list, "get", "(I)Ljava/lang/Object;", {jvm::Int(0)});
    return first.thrown == nullptr && jvm::Same(first.value.ref, thrown);
}

// A value as the hook writes it: ints as ints (booleans and chars too), floats and doubles as
// Java prints them, strings as themselves, int arrays as "int[n]" followed by their elements.
std::string Render(char kind, const jvm::Value& v) {
    switch (kind) {
        case 'Z': return v.integer != 0 ? "1" : "0";
        case 'B': case 'C': case 'S': case 'I': case 'J': return std::to_string(v.integer);
        case 'F': case 'D': {
            const jvm::Outcome text =
                jvm::CallStatic(jvm::FindClass("java/lang/String"), "valueOf",
                                kind == 'F' ? "(F)Ljava/lang/String;" : "(D)Ljava/lang/String;", {v});
            return text.thrown != nullptr ? "" : jvm::Text(text.value.ref);
        }
        default: break;
    }
    if (v.ref == nullptr) return "null";
    if (jvm::IsInstance(v.ref, "java/lang/String")) return jvm::Text(v.ref);
    if (jvm::IsInstance(v.ref, "[I")) {
        const std::vector<int32_t> elements = jvm::Ints(v.ref);
        std::string out = "int[" + std::to_string(elements.size()) + "]";
        for (int32_t e : elements) out += " " + std::to_string(e);
        return out;
    }
    return jvm::ClassName(v.ref);
}

jvm::Value Z(bool z) { return jvm::Boolean(z); }
jvm::Value B(int8_t b) { return jvm::Byte(b); }
jvm::Value C(uint16_t c) { return jvm::Char(c); }
jvm::Value S(int16_t s) { return jvm::Short(s); }
jvm::Value I(int32_t i) { return jvm::Int(i); }
jvm::Value J(int64_t j) { return jvm::Long(j); }
jvm::Value F(float f) { return jvm::Float(f); }
jvm::Value D(double d) { return jvm::Double(d); }
jvm::Value L(jvm::Ref l) { return jvm::Reference(l); }

// What a call returned (rendered; "" for void), or the exception it threw.
struct Outcome {
    std::string value;
    jvm::Ref thrown = nullptr;
};

// Calls `name` on `self`, or the static method of `c` when `self` is null.
Outcome Invoke(jvm::Ref c, jvm::Ref self, const char* name, const char* descriptor,
               const std::vector<jvm::Value>& args) {
    const jvm::Outcome called =
        self != nullptr ? jvm::Call(self, name, descriptor, args) : jvm::CallStatic(c, name, descriptor, args);
    const char kind = std::strchr(descriptor, ')')[1];
    Outcome out;
    out.thrown = called.thrown;
    if (called.thrown == nullptr && kind != 'V') out.value = Render(kind, called.value);
    return out;
}

MethodProbeTarget Target(const char* name, const char* descriptor, int32_t id, bool arguments = true,
                         bool exits = true) {
    MethodProbeTarget t;
    t.name = name;
    t.descriptor = descriptor;
    t.id = id;
    t.arguments = arguments;
    t.exits = exits;
    return t;
}

// One call of a subject and the log it makes. `exit` is the exit entry without its value, which
// is the original's result; empty when the call throws (and the log's last entry is `thrown`).
struct Case {
    const char* name;
    const char* descriptor;
    bool instance;
    std::vector<jvm::Value> args;
    Log before;        // the entries up to the exit
    std::string exit;  // e.g. "exitI 13 -"
};

std::vector<MethodProbeTarget> SubjectTargets() {
    return {Target("<init>", "(I)V", 19),
            Target("kinds", "(ZBCSIJFDLjava/lang/Object;)J", 70000),
            Target("objects", "(J[ILjava/lang/String;D[Ljava/lang/Object;)Ljava/lang/String;", -40000),
            Target("isPositive", "(I)Z", 1), Target("asByte", "(I)B", 2), Target("asChar", "(I)C", 3),
            Target("asShort", "(I)S", 4), Target("scaled", "(I)I", 5), Target("widened", "(I)J", 6),
            Target("half", "(I)F", 7), Target("third", "(D)D", 8), Target("text", "(I)Ljava/lang/String;", 9),
            Target("range", "(I)[I", 10), Target("nothing", "()V", 11, true, false),
            Target("bump", "([I)V", 12, false, true), Target("checked", "(I)I", 13),
            Target("caught", "(Ljava/lang/String;)I", 14), Target("rethrown", "(I)I", 15),
            Target("fromCallee", "(I)I", 16), Target("factorial", "(I)I", 17), Target("countdown", "(I[I)I", 18)};
}

std::vector<Case> SubjectCases() {
    jvm::Ref three = jvm::IntArray(3);
    jvm::Ref laps = jvm::IntArray(1);
    jvm::Ref cell = jvm::IntArray(1);
    jvm::Ref prefix = jvm::String("n=");
    jvm::Ref zz = jvm::String("zz");
    return {
        {"kinds", "(ZBCSIJFDLjava/lang/Object;)J", false,
         {Z(true), B(-3), C('x'), S(300), I(123456), J(1LL << 40), F(1.5f), D(-2.25), L(nullptr)},
         {"argI 1", "argI -3", "argI 120", "argI 300", "argI 123456", "argJ 1099511627776", "argF 1.5",
          "argD -2.25", "argL null", "enter 70000 -"},
         "exitJ 70000 -"},
        {"objects", "(J[ILjava/lang/String;D[Ljava/lang/Object;)Ljava/lang/String;", true,
         {J(7), L(three), L(prefix), D(4.75), L(nullptr)},
         {"argJ 7", "argL int[3]", "argL n=", "argD 4.75", "argL null", "enter -40000 ProbeSubjects"},
         "exitL -40000 -"},
        {"isPositive", "(I)Z", false, {I(-4)}, {"argI -4", "enter 1 -"}, "exitI 1 -"},
        {"asByte", "(I)B", false, {I(300)}, {"argI 300", "enter 2 -"}, "exitI 2 -"},
        {"asChar", "(I)C", false, {I(2)}, {"argI 2", "enter 3 -"}, "exitI 3 -"},
        {"asShort", "(I)S", false, {I(40)}, {"argI 40", "enter 4 -"}, "exitI 4 -"},
        {"scaled", "(I)I", true, {I(7)}, {"argI 7", "enter 5 ProbeSubjects"}, "exitI 5 -"},
        {"widened", "(I)J", false, {I(3)}, {"argI 3", "enter 6 -"}, "exitJ 6 -"},
        {"half", "(I)F", false, {I(5)}, {"argI 5", "enter 7 -"}, "exitF 7 -"},
        {"third", "(D)D", false, {D(4.5)}, {"argD 4.5", "enter 8 -"}, "exitD 8 -"},
        {"text", "(I)Ljava/lang/String;", false, {I(-1)}, {"argI -1", "enter 9 -"}, "exitL 9 -"},
        {"text", "(I)Ljava/lang/String;", false, {I(42)}, {"argI 42", "enter 9 -"}, "exitL 9 -"},
        {"range", "(I)[I", false, {I(4)}, {"argI 4", "enter 10 -"}, "exitL 10 -"},
        {"nothing", "()V", true, {}, {"enter 11 ProbeSubjects"}, ""},  // no exits asked for
        {"bump", "([I)V", false, {L(cell)}, {"enter 12 -"}, "exitV 12 -"},  // no arguments asked for
        {"checked", "(I)I", false, {I(-1)}, {"argI -1", "enter 13 -", "thrown 13 - #0"}, ""},
        {"caught", "(Ljava/lang/String;)I", false, {L(zz)}, {"argL zz", "enter 14 -"}, "exitI 14 -"},
        {"rethrown", "(I)I", false, {I(-2)},
         {"argI -2", "enter 15 -", "argI -2", "enter 13 -", "thrown 13 - #0", "thrown 15 - #0"}, ""},
        {"fromCallee", "(I)I", false, {I(-3)},
         {"argI -3", "enter 16 -", "argI -3", "enter 13 -", "thrown 13 - #0", "thrown 16 - #0"}, ""},
        {"fromCallee", "(I)I", false, {I(4)}, {"argI 4", "enter 16 -", "argI 4", "enter 13 -", "exitI 13 - 8"},
         "exitI 16 -"},
        {"factorial", "(I)I", false, {I(3)},
         {"argI 3", "enter 17 -", "argI 2", "enter 17 -", "argI 1", "enter 17 -", "exitI 17 - 1", "exitI 17 - 2"},
         "exitI 17 -"},
        // Four laps through the first instruction, one entry.
        {"countdown", "(I[I)I", false, {I(4), L(laps)}, {"argI 4", "argL int[1]", "enter 18 -"}, "exitI 18 -"},
    };
}

// Runs every case on the original and on the rewritten class (instances of weight 3) and checks
// the results agree and the rewritten one logs what the case says.
void ExpectSubjectCases(const std::vector<uint8_t>& rewritten) {
    jvm::Ref plain = jvm::FindClass(kSubjects);
    ASSERT_NE(plain, nullptr);
    jvm::Ref probed = Linked(kSubjects, rewritten);
    ASSERT_NE(probed, nullptr) << "the verifier refused the rewritten class";
    jvm::Ref plainSelf = jvm::New(plain, "(I)V", {I(3)}).value.ref;
    EXPECT_TRUE(TakeLog().empty()) << "the original calls no hook";
    const jvm::Outcome made = jvm::New(probed, "(I)V", {I(3)});
    ASSERT_EQ(made.thrown, nullptr) << jvm::Text(made.thrown);
    jvm::Ref probedSelf = made.value.ref;
    EXPECT_EQ(TakeLog(), (Log{"argI 3", "enter 19 -", "exitV 19 ProbeSubjects"}));

    // Each class gets arguments of its own (arrays the calls change).
    const std::vector<Case> plainCases = SubjectCases(), cases = SubjectCases();
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& k = cases[n];
        const std::string what = std::string(k.name) + k.descriptor;
        const Outcome expected =
            Invoke(plain, k.instance ? plainSelf : nullptr, k.name, k.descriptor, plainCases[n].args);
        TakeLog();
        const Outcome got = Invoke(probed, k.instance ? probedSelf : nullptr, k.name, k.descriptor, k.args);
        EXPECT_EQ(got.value, expected.value) << what;
        ASSERT_EQ(got.thrown == nullptr, expected.thrown == nullptr) << what;
        Log want = k.before;
        if (got.thrown != nullptr) {
            EXPECT_EQ(jvm::ClassName(got.thrown), jvm::ClassName(expected.thrown)) << what;
            EXPECT_TRUE(IsFirstLoggedException(got.thrown)) << what << ": the hook saw another exception";
        } else if (!k.exit.empty()) {
            // The hook writes arrays without their elements.
            want.push_back(expected.value.empty() ? k.exit
                                                  : k.exit + " " + expected.value.substr(0, expected.value.find(' ')));
        }
        EXPECT_EQ(TakeLog(), want) << what;
    }
}

// The class file with major version 49 and no StackMapTable: the old verifier infers types.
std::vector<uint8_t> AsVersion49(const std::vector<uint8_t>& bytes) {
    ClassFile cls;
    EXPECT_EQ(ParseClassFile(bytes.data(), bytes.size(), &cls), Refusal::kNone);
    for (Member& m : cls.methods) {
        Code code;
        if (ReadMethodCode(cls, &m, &code) != Refusal::kNone) continue;
        std::vector<CodeAttribute> kept;
        for (const CodeAttribute& a : code.attributes) {
            if (a.kind != CodeAttributeKind::kStackMapTable) kept.push_back(a);
        }
        code.attributes = kept;
        code.frames.clear();
        code.hasStackMap = false;
        EXPECT_EQ(WriteMethodCode(&cls, &m, code), Refusal::kNone);
    }
    cls.major = 49;
    std::vector<uint8_t> out;
    WriteClassFile(cls, &out);
    return out;
}

std::vector<uint8_t> Rewritten(const std::vector<uint8_t>& original, std::vector<MethodProbeTarget>* targets) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(RewriteMethodProbes(original.data(), original.size(), targets, &out, kHook));
    return out;
}

void ExpectAllInstrumented(const std::vector<MethodProbeTarget>& targets) {
    for (const MethodProbeTarget& t : targets) {
        EXPECT_TRUE(t.instrumented) << t.name << t.descriptor << ": " << RefusalName(t.refusal);
    }
}

jvm::Ref Construct(jvm::Ref c, const char* descriptor, const std::vector<jvm::Value>& args, jvm::Ref* thrown) {
    const jvm::Outcome made = jvm::New(c, descriptor, args);
    *thrown = made.thrown;
    return made.value.ref;
}

// Direct: a call before its super call, straight code to it; a throw after it. Whether the
// hook sees an exception thrown by the super call itself depends on the verifier (see
// method_probes.h): not with frames, which the split verifier checks.
void ExpectDirectConstructor(const std::vector<uint8_t>& original, bool superCallCovered) {
    std::vector<MethodProbeTarget> targets = {Target("<init>", "(I)V", 31)};
    const std::vector<uint8_t> rewritten = Rewritten(original, &targets);
    ExpectAllInstrumented(targets);
    jvm::Ref direct = Linked(kDirect, rewritten);
    ASSERT_NE(direct, nullptr) << "the verifier refused the rewritten constructor";
    jvm::Ref thrown = nullptr;
    jvm::Ref made = Construct(direct, "(I)V", {I(-6)}, &thrown);
    ASSERT_EQ(thrown, nullptr);
    EXPECT_EQ(jvm::Field(made, "twice", "J").integer, 12);
    EXPECT_EQ(TakeLog(), (Log{"argI -6", "enter 31 -", "exitV 31 ProbeSubjects$Direct"}));
    // The super constructor throws: `this` is not initialised, the hook sees null.
    Construct(direct, "(I)V", {I(-13)}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(jvm::ClassName(thrown), "java.lang.IllegalStateException");
    EXPECT_EQ(IsFirstLoggedException(thrown), superCallCovered);
    Log want = {"argI -13", "enter 31 -"};
    if (superCallCovered) want.push_back("thrown 31 - #0");
    EXPECT_EQ(TakeLog(), want);
    // Thrown after the super call: the hook sees the object.
    Construct(direct, "(I)V", {I(99)}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(jvm::ClassName(thrown), "java.lang.UnsupportedOperationException");
    EXPECT_TRUE(IsFirstLoggedException(thrown));
    EXPECT_EQ(TakeLog(), (Log{"argI 99", "enter 31 -", "thrown 31 ProbeSubjects$Direct #0"}));
}

TEST(MethodProbes, ArgumentsReturnsAndExceptionsOfEveryKindReachTheHookInOrder) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/ProbeSubjects.class");
    ASSERT_FALSE(original.empty());
    std::vector<MethodProbeTarget> targets = SubjectTargets();
    const std::vector<uint8_t> rewritten = Rewritten(original, &targets);
    ExpectAllInstrumented(targets);
    ExpectSubjectCases(rewritten);
}

TEST(MethodProbes, ConstructorsSeeNullBeforeTheirSuperCallAndTheObjectAfterIt) {
    const std::vector<uint8_t> derivedBytes = jvm::ClassBytes("vexotest/ProbeSubjects$Derived.class");
    ASSERT_FALSE(derivedBytes.empty());
    std::vector<MethodProbeTarget> targets = {Target("<init>", "(ILjava/lang/String;)V", 30)};
    const std::vector<uint8_t> rewritten = Rewritten(derivedBytes, &targets);
    ExpectAllInstrumented(targets);
    jvm::Ref derived = Linked(kDerived, rewritten);
    ASSERT_NE(derived, nullptr) << "the verifier refused the rewritten constructor";
    auto label = [](jvm::Ref o) { return jvm::Text(jvm::Field(o, "label", "Ljava/lang/String;").ref); };
    auto value = [](jvm::Ref o) { return jvm::Field(o, "value", "I").integer; };  // Base's

    jvm::Ref thrown = nullptr;
    jvm::Ref a = Construct(derived, "(ILjava/lang/String;)V", {I(-5), L(jvm::String("x "))}, &thrown);
    ASSERT_EQ(thrown, nullptr);
    EXPECT_EQ(label(a), "x");
    EXPECT_EQ(value(a), 5);
    EXPECT_EQ(TakeLog(), (Log{"argI -5", "argL x ", "enter 30 -", "exitV 30 ProbeSubjects$Derived"}));
    // A null label: the constructor catches the NullPointerException itself.
    jvm::Ref b = Construct(derived, "(ILjava/lang/String;)V", {I(4), L(nullptr)}, &thrown);
    ASSERT_EQ(thrown, nullptr);
    EXPECT_EQ(label(b), "none");
    EXPECT_EQ(value(b), 5);
    EXPECT_EQ(TakeLog(), (Log{"argI 4", "argL null", "enter 30 -", "exitV 30 ProbeSubjects$Derived"}));
    // 12 + 1: the super constructor throws, out of the split verifier's reach for handlers; the
    // exception passes unchanged.
    Construct(derived, "(ILjava/lang/String;)V", {I(12), L(jvm::String("y"))}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(jvm::ClassName(thrown), "java.lang.IllegalStateException");
    EXPECT_EQ(TakeLog(), (Log{"argI 12", "argL y", "enter 30 -"}));
    // Thrown by a call in the super call's arguments: `this` is not initialised, the hook sees null.
    Construct(derived, "(ILjava/lang/String;)V", {I(50), L(jvm::String("z"))}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(jvm::ClassName(thrown), "java.lang.ArithmeticException");
    EXPECT_TRUE(IsFirstLoggedException(thrown));
    EXPECT_EQ(TakeLog(), (Log{"argI 50", "argL z", "enter 30 -", "thrown 30 - #0"}));

    const std::vector<uint8_t> directBytes = jvm::ClassBytes("vexotest/ProbeSubjects$Direct.class");
    ASSERT_FALSE(directBytes.empty());
    ExpectDirectConstructor(directBytes, false);
}

// Every subject timed: each call enters and leaves by the timed hooks with its id alone (the
// arguments, receivers and values left out), in the order the calls nest, exceptions included;
// the results are the original's, with frames and without.
TEST(MethodProbes, TimedProbesCallTheTimedHooksWithTheirIdsOnly) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/ProbeSubjects.class");
    ASSERT_FALSE(original.empty());
    for (const std::vector<uint8_t>& bytes : {original, AsVersion49(original)}) {
        std::vector<MethodProbeTarget> targets = SubjectTargets();
        for (MethodProbeTarget& t : targets) {
            t.arguments = false;
            t.exits = t.timing = true;
        }
        const std::vector<uint8_t> rewritten = Rewritten(bytes, &targets);
        ExpectAllInstrumented(targets);
        jvm::Ref plain = jvm::FindClass(kSubjects);
        jvm::Ref timed = Linked(kSubjects, rewritten);
        ASSERT_NE(timed, nullptr) << "the verifier refused the timed class";
        jvm::Ref plainSelf = jvm::New(plain, "(I)V", {I(3)}).value.ref;
        TakeLog();
        jvm::Ref timedSelf = jvm::New(timed, "(I)V", {I(3)}).value.ref;
        EXPECT_EQ(TakeLog(), (Log{"timedEnter 19", "timedExit 19"}));
        const std::vector<Case> plainCases = SubjectCases(), cases = SubjectCases();
        for (size_t n = 0; n < cases.size(); ++n) {
            const Case& k = cases[n];
            const std::string what = std::string(k.name) + k.descriptor;
            const Outcome expected = Invoke(plain, k.instance ? plainSelf : nullptr, k.name, k.descriptor, plainCases[n].args);
            TakeLog();
            const Outcome got = Invoke(timed, k.instance ? timedSelf : nullptr, k.name, k.descriptor, k.args);
            EXPECT_EQ(got.value, expected.value) << what;
            ASSERT_EQ(got.thrown == nullptr, expected.thrown == nullptr) << what;
            // The case's log in the timed hooks' words: "enter 17 -" is "timedEnter 17", ...
            Log want;
            std::string outer;
            for (const std::string& line : k.before) {
                const size_t space = line.find(' ');
                const std::string word = line.substr(0, space);
                const std::string id = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
                if (word == "enter") want.push_back("timedEnter " + id);
                else if (word.compare(0, 4, "exit") == 0) want.push_back("timedExit " + id);
                else if (word == "thrown") want.push_back("timedThrown " + id);
                if (word == "enter" && outer.empty()) outer = id;
            }
            if (got.thrown == nullptr) want.push_back("timedExit " + outer);
            EXPECT_EQ(TakeLog(), want) << what;
        }
    }
}

// With receiverAtExits, an instance method's exits pass `this` (the class keeps it in local 0);
// static methods and constructors pass what they did; a target without arguments, whose exits
// then have all its entry would hand over, enters by timedEnter.
TEST(MethodProbes, ExitsPassThisWhereAsked) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/ProbeSubjects.class");
    ASSERT_FALSE(original.empty());
    std::vector<MethodProbeTarget> targets = SubjectTargets();
    for (MethodProbeTarget& t : targets) t.receiverAtExits = true;
    const std::vector<uint8_t> rewritten = Rewritten(original, &targets);
    ExpectAllInstrumented(targets);
    jvm::Ref plain = jvm::FindClass(kSubjects);
    jvm::Ref probed = Linked(kSubjects, rewritten);
    ASSERT_NE(probed, nullptr) << "the verifier refused the class";
    jvm::Ref plainSelf = jvm::New(plain, "(I)V", {I(3)}).value.ref;
    jvm::Ref probedSelf = jvm::New(probed, "(I)V", {I(3)}).value.ref;
    TakeLog();
    const std::vector<Case> plainCases = SubjectCases(), cases = SubjectCases();
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& k = cases[n];
        const MethodProbeTarget* t = nullptr;
        for (const MethodProbeTarget& c : targets) t = c.name == k.name ? &c : t;
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->receiverPassed, k.instance && t->exits) << k.name;
        EXPECT_EQ(t->bareEntry, t->exits && !t->arguments) << k.name;
        if (t->bareEntry) {
            TakeLog();
            Invoke(probed, k.instance ? probedSelf : nullptr, k.name, k.descriptor, k.args);
            EXPECT_EQ(TakeLog(), (Log{"timedEnter " + std::to_string(t->id), k.exit})) << k.name;
            continue;
        }
        if (!k.instance || k.exit.empty()) continue;
        const Outcome expected = Invoke(plain, plainSelf, k.name, k.descriptor, plainCases[n].args);
        TakeLog();
        const Outcome got = Invoke(probed, probedSelf, k.name, k.descriptor, k.args);
        EXPECT_EQ(got.value, expected.value) << k.name;
        Log want = k.before;
        std::string exit = k.exit.substr(0, k.exit.size() - 1) + "ProbeSubjects";  // "exitI 5 -" with `this`
        want.push_back(expected.value.empty() ? exit : exit + " " + expected.value.substr(0, expected.value.find(' ')));
        EXPECT_EQ(TakeLog(), want) << k.name;
    }
}

TEST(MethodProbes, ClassFilesBeforeVersion50VerifyWithTheOldVerifier) {
    const std::vector<uint8_t> original = jvm::ClassBytes("vexotest/ProbeSubjects.class");
    ASSERT_FALSE(original.empty());
    std::vector<MethodProbeTarget> targets = SubjectTargets();
    const std::vector<uint8_t> rewritten = Rewritten(AsVersion49(original), &targets);
    ExpectAllInstrumented(targets);
    ExpectSubjectCases(rewritten);

    ExpectDirectConstructor(AsVersion49(jvm::ClassBytes("vexotest/ProbeSubjects$Direct.class")), true);
    // Derived's super call follows a branch: without frames the engine cannot tell that every
    // path runs through it.
    const std::vector<uint8_t> derived = AsVersion49(jvm::ClassBytes("vexotest/ProbeSubjects$Derived.class"));
    std::vector<MethodProbeTarget> constructor = {Target("<init>", "(ILjava/lang/String;)V", 30),
                                                  Target("<init>", "(ILjava/lang/String;)V", 30, true, false)};
    std::vector<uint8_t> out;
    EXPECT_TRUE(RewriteMethodProbes(derived.data(), derived.size(), &constructor, &out, kHook));
    EXPECT_FALSE(constructor[0].instrumented);
    EXPECT_EQ(constructor[0].refusal, Refusal::kUntrackedConstructor);
    EXPECT_TRUE(constructor[1].instrumented) << "the prologue alone needs no tracking";
}

// ProbeSubjects with `widened` padded by nops to 65530 bytes of code: room for a prologue of
// five bytes (aconst_null, iconst_5, invokestatic) and no more.
std::vector<uint8_t> PaddedSubjects(const std::vector<uint8_t>& original) {
    ClassFile cls;
    EXPECT_EQ(ParseClassFile(original.data(), original.size(), &cls), Refusal::kNone);
    Member* widened = FindMethod(&cls, "widened", "(I)J");
    Code code;
    EXPECT_EQ(ReadMethodCode(cls, widened, &code), Refusal::kNone);
    const std::vector<uint8_t>& raw = FindCodeAttribute(cls, widened)->bytes;
    const uint32_t length = (uint32_t{raw[4]} << 24) | (uint32_t{raw[5]} << 16) | (uint32_t{raw[6]} << 8) | raw[7];
    size_t first = 0;
    while (code.instructions[first].IsLabel()) ++first;
    const std::vector<Instruction> nops(kCodeLimit - 5 - length, Simple(op::kNop));
    EXPECT_EQ(InsertBefore(&code, first, nops, 0), Refusal::kNone);
    EXPECT_EQ(WriteMethodCode(&cls, widened, code), Refusal::kNone);
    std::vector<uint8_t> out;
    WriteClassFile(cls, &out);
    return out;
}

std::vector<uint8_t> CodeOf(const std::vector<uint8_t>& bytes, const char* name, const char* descriptor) {
    ClassFile cls;
    if (ParseClassFile(bytes.data(), bytes.size(), &cls) != Refusal::kNone) return {};
    Member* m = FindMethod(&cls, name, descriptor);
    const Attribute* code = m == nullptr ? nullptr : FindCodeAttribute(cls, m);
    return code == nullptr ? std::vector<uint8_t>() : code->bytes;
}

TEST(MethodProbes, MethodsTheEngineCannotRewriteStayAsTheyWere) {
    const std::vector<uint8_t> padded = PaddedSubjects(jvm::ClassBytes("vexotest/ProbeSubjects.class"));
    ASSERT_FALSE(padded.empty());

    // One byte more than fits: refused, the method as it was; the other target is rewritten.
    std::vector<MethodProbeTarget> targets = {Target("widened", "(I)J", 5, true, false), Target("half", "(I)F", 7),
                                              Target("absent", "()V", 8)};
    std::vector<uint8_t> out;
    ASSERT_TRUE(RewriteMethodProbes(padded.data(), padded.size(), &targets, &out, kHook));
    EXPECT_FALSE(targets[0].instrumented);
    EXPECT_EQ(targets[0].refusal, Refusal::kCodeTooLong);
    EXPECT_EQ(CodeOf(out, "widened", "(I)J"), CodeOf(padded, "widened", "(I)J"));
    EXPECT_TRUE(targets[1].instrumented);
    EXPECT_EQ(targets[2].refusal, Refusal::kNoSuchMethod);
    jvm::Ref probed = Linked(kSubjects, out);
    ASSERT_NE(probed, nullptr);
    EXPECT_EQ(Invoke(probed, nullptr, "widened", "(I)J", {I(3)}).value, std::to_string(3LL << 33));
    EXPECT_TRUE(TakeLog().empty());

    // The entry alone fits exactly, and the code of 65535 bytes runs.
    std::vector<MethodProbeTarget> entry = {Target("widened", "(I)J", 5, false, false)};
    ASSERT_TRUE(RewriteMethodProbes(padded.data(), padded.size(), &entry, &out, kHook));
    ASSERT_TRUE(entry[0].instrumented) << RefusalName(entry[0].refusal);
    const std::vector<uint8_t> code = CodeOf(out, "widened", "(I)J");
    ASSERT_GE(code.size(), 8u);
    EXPECT_EQ((code[4] << 24) | (code[5] << 16) | (code[6] << 8) | code[7], kCodeLimit);
    probed = Linked(kSubjects, out);
    ASSERT_NE(probed, nullptr);
    EXPECT_EQ(Invoke(probed, nullptr, "widened", "(I)J", {I(3)}).value, std::to_string(3LL << 33));
    EXPECT_EQ(TakeLog(), (Log{"enter 5 -"}));

    // A class file that does not parse: nothing rewritten, every target told why.
    std::vector<uint8_t> cut(padded.begin(), padded.begin() + 100);
    EXPECT_FALSE(RewriteMethodProbes(cut.data(), cut.size(), &entry, &out, kHook));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(entry[0].refusal, Refusal::kMalformedClass);
    EXPECT_FALSE(entry[0].instrumented);
}

}  // namespace

// The bytecode engine: code inserted before and after instructions of real methods verifies
// and runs on every path; branches that outgrow 16 bits are widened with new stack map
// frames; code that would outgrow 65535 bytes, unknown code and corrupt class files are
// refused; and code written back without insertion is byte for byte what was read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytecode/class_file.h"
#include "bytecode/code_reader.h"
#include "bytecode/code_writer.h"
#include "bytecode/insertion.h"
#include "bytecode/method_code.h"
#include "bytecode/opcodes.h"
#include "tests/harness/java_runner.h"

namespace {
using namespace bytecode;

// A Java call's result, with the test failing on an exception it threw.
jvm::Value Checked(const jvm::Outcome& outcome) {
    EXPECT_EQ(outcome.thrown, nullptr) << jvm::Text(outcome.thrown);
    return outcome.value;
}

// Defines `bytes` in a loader of its own and links the class, so the verifier has run.
jvm::Ref LinkedInFreshLoader(const char* name, const std::vector<uint8_t>& bytes) {
    jvm::Ref c = jvm::DefineInFreshLoader(name, bytes);
    // Verification happens at link time.
    return c != nullptr && jvm::HasMethod(c, "<init>", "()V") ? c : nullptr;
}

// How often InsertionHook.hit(id) ran, by id.
std::vector<int> Hits() {
    const std::vector<int32_t> counts =
        jvm::Ints(jvm::StaticField(jvm::FindClass("vexotest/InsertionHook"), "counts", "[I").ref);
    return std::vector<int>(counts.begin(), counts.end());
}

// iconst/bipush id; invokestatic InsertionHook.hit(I)V
std::vector<Instruction> HitCall(ClassFile* cls, int id) {
    Instruction push;
    EXPECT_TRUE(PushInt(id, &push));
    const uint16_t hit = cls->pool.MethodrefIndex("vexotest/InsertionHook", "hit", "(I)V");
    EXPECT_NE(hit, 0);
    return {push, WithOperand(op::kInvokestatic, hit)};
}

ClassFile ParsedInsertable(std::vector<uint8_t>* bytes = nullptr) {
    std::vector<uint8_t> original = jvm::ClassBytes("vexotest/Insertable.class");
    ClassFile cls;
    EXPECT_EQ(ParseClassFile(original.data(), original.size(), &cls), Refusal::kNone);
    if (bytes != nullptr) *bytes = original;
    return cls;
}

enum HookId { kEvery = 3, kField = 0, kPut = 1, kExit = 2 };

bool IsFieldAccess(uint16_t opcode) { return opcode >= op::kGetstatic && opcode <= op::kPutfield; }

// Before every instruction hit(kEvery), before every field access hit(kField), before every
// return hit(kExit), and after every putfield hit(kPut).
void InstrumentEverywhere(ClassFile* cls, Code* code) {
    const std::vector<Instruction> every = HitCall(cls, kEvery), field = HitCall(cls, kField),
                                   put = HitCall(cls, kPut), exit = HitCall(cls, kExit);
    for (size_t i = 0; i < code->instructions.size();) {
        const uint16_t opcode = code->instructions[i].opcode;
        if (code->instructions[i].IsLabel()) {
            ++i;
            continue;
        }
        std::vector<Instruction> before = every;
        if (IsFieldAccess(opcode)) before.insert(before.end(), field.begin(), field.end());
        if (opcode <= 0xff && IsReturn(static_cast<uint8_t>(opcode))) {
            before.insert(before.end(), exit.begin(), exit.end());
        }
        size_t next = 0;
        ASSERT_EQ(InsertBefore(code, i, before, 1, &next), Refusal::kNone);
        if (opcode == op::kPutfield) {
            ASSERT_EQ(InsertAfter(code, next - 1, put, 1, &next), Refusal::kNone);
        }
        i = next;
    }
}

struct HitDelta {
    int field, put, exit;
};

void ExpectHits(const std::vector<int>& before, HitDelta expected, const char* what) {
    const std::vector<int> now = Hits();
    EXPECT_EQ(now[kField] - before[kField], expected.field) << what << ": field accesses";
    EXPECT_EQ(now[kPut] - before[kPut], expected.put) << what << ": after putfield";
    EXPECT_EQ(now[kExit] - before[kExit], expected.exit) << what << ": returns";
    EXPECT_GT(now[kEvery], before[kEvery]) << what;
}

// What `self.make(yes)` returns, as its toString gives it.
std::string Made(jvm::Ref self, bool yes) {
    return jvm::Text(Checked(jvm::Call(self, "make", "(Z)Ljava/lang/Object;", {jvm::Boolean(yes)})).ref);
}

jvm::Ref Construct(jvm::Ref clazz, int32_t arg) { return Checked(jvm::New(clazz, "(I)V", {jvm::Int(arg)})).ref; }

int32_t CallInt(jvm::Ref self, const char* name, int32_t arg) {
    return static_cast<int32_t>(Checked(jvm::Call(self, name, "(I)I", {jvm::Int(arg)})).integer);
}

TEST(BytecodeEngine, InsertedCallsRunOnEveryPathAndMethodsBehaveAsBefore) {
    ClassFile cls = ParsedInsertable();
    size_t rewritten = 0;
    for (Member& m : cls.methods) {
        Code code;
        ASSERT_EQ(ReadMethodCode(cls, &m, &code), Refusal::kNone) << *cls.pool.Utf8(m.name);
        InstrumentEverywhere(&cls, &code);
        ASSERT_EQ(WriteMethodCode(&cls, &m, code), Refusal::kNone) << *cls.pool.Utf8(m.name);
        ++rewritten;
    }
    EXPECT_EQ(rewritten, cls.methods.size());
    std::vector<uint8_t> out;
    WriteClassFile(cls, &out);
    jvm::Ref plain = jvm::FindClass("vexotest/Insertable");
    jvm::Ref traced = LinkedInFreshLoader("vexotest/Insertable", out);
    ASSERT_NE(traced, nullptr) << "the verifier refused the rewritten class";

    // Constructors: this(...) after a branch on an uninitialized `this`; then ratio's
    // initialiser, total and name.
    std::vector<int> h = Hits();
    jvm::Ref a = Construct(plain, -4);
    jvm::Ref b = Construct(traced, -4);
    ASSERT_NE(b, nullptr);
    ExpectHits(h, {3, 3, 2}, "new Insertable(-4)");
    EXPECT_EQ(jvm::Field(b, "total", "I").integer, 4);
    h = Hits();
    jvm::Ref c = Checked(jvm::New(traced, "()V", {})).ref;
    ExpectHits(h, {3, 3, 2}, "new Insertable()");
    EXPECT_EQ(jvm::Field(c, "total", "I").integer, 1);

    auto callInt = [&](const char* name, int32_t arg, HitDelta expected) {
        const std::vector<int> before = Hits();
        const int32_t want = CallInt(a, name, arg);
        const int32_t got = CallInt(b, name, arg);
        EXPECT_EQ(got, want) << name << "(" << arg << ")";
        ExpectHits(before, expected, name);
    };
    callInt("loop", 5, {2 * 5 + 1, 5, 1});
    callInt("loop", 0, {1, 0, 1});
    callInt("guarded", 3, {3, 1, 1});   // total = n; finished++ in the finally block
    callInt("guarded", -3, {3, 1, 1});  // the handler's copy of the same
    callInt("locked", 4, {2, 1, 1});
    callInt("block", 4, {3, 1, 1});
    for (int32_t n : {0, 1, 2, 3, 70, 5}) callInt("switches", n, {2, 1, 1});

    h = Hits();
    const std::vector<jvm::Value> wideArgs = {jvm::Long(3), jvm::Double(2.5)};
    const int64_t wantWide = Checked(jvm::Call(a, "wide", "(JD)J", wideArgs)).integer;
    const int64_t gotWide = Checked(jvm::Call(b, "wide", "(JD)J", wideArgs)).integer;
    EXPECT_EQ(gotWide, wantWide);
    ExpectHits(h, {6, 2, 1}, "wide");
    for (bool yes : {true, false}) {
        h = Hits();
        const std::string want = Made(a, yes);
        const std::string got = Made(b, yes);
        EXPECT_EQ(got, want);
        ExpectHits(h, {1, 0, 1}, "make");
    }
}

// Inserts `copies` calls of hit(id) before the `nth` instruction with `opcode` in the method.
Refusal InsertMany(ClassFile* cls, const char* name, const char* descriptor, uint16_t opcode,
                   int nth, int copies, int id) {
    Member* m = FindMethod(cls, name, descriptor);
    if (m == nullptr) return Refusal::kNoCode;
    Code code;
    Refusal refusal = ReadMethodCode(*cls, m, &code);
    if (refusal != Refusal::kNone) return refusal;
    std::vector<Instruction> calls;
    const std::vector<Instruction> one = HitCall(cls, id);
    for (int k = 0; k < copies; ++k) calls.insert(calls.end(), one.begin(), one.end());
    for (size_t i = 0; i < code.instructions.size(); ++i) {
        if (code.instructions[i].opcode == opcode && nth-- == 0) {
            refusal = InsertBefore(&code, i, calls, 1);
            if (refusal != Refusal::kNone) return refusal;
            return WriteMethodCode(cls, m, code);
        }
    }
    return Refusal::kMalformedCode;
}

TEST(BytecodeEngine, BranchesBeyondSixteenBitsAreWidenedAndCodeBeyondTheLimitIsRefused) {
    ClassFile cls = ParsedInsertable();
    const int copies = 9000;  // 4 bytes each: 36000 bytes between a branch and its target
    // A loop whose test jumps over the body, and whose end jumps back.
    ASSERT_EQ(InsertMany(&cls, "loop", "(I)I", op::kPutfield, 0, copies, 4), Refusal::kNone);
    // A conditional inside `new StringBuilder(yes ? ...)`: its new frame holds uninitialized values.
    ASSERT_EQ(InsertMany(&cls, "make", "(Z)Ljava/lang/Object;", op::kLdc, 0, copies, 5), Refusal::kNone);
    // A conditional before this(...): its new frame holds the uninitialized `this`.
    ASSERT_EQ(InsertMany(&cls, "<init>", "(I)V", op::kGoto, 0, copies, 6), Refusal::kNone);
    // Switches whose cases lie beyond 32767 bytes, and breaks that jump over the long case.
    ASSERT_EQ(InsertMany(&cls, "switches", "(I)I", op::kPutfield, 0, copies, 7), Refusal::kNone);

    Code loop;
    ASSERT_EQ(ReadMethodCode(cls, FindMethod(&cls, "loop", "(I)I"), &loop), Refusal::kNone)
        << "the written code reads back";
    size_t longJumps = 0;
    for (const Instruction& ins : loop.instructions) longJumps += ins.opcode == op::kGotoW;
    EXPECT_EQ(longJumps, 2u) << "the loop's test inverted around a goto_w, and its back jump a goto_w";

    std::vector<uint8_t> out;
    WriteClassFile(cls, &out);
    jvm::Ref plain = jvm::FindClass("vexotest/Insertable");
    jvm::Ref traced = LinkedInFreshLoader("vexotest/Insertable", out);
    ASSERT_NE(traced, nullptr) << "the verifier refused the widened code";
    std::vector<int> h = Hits();
    jvm::Ref a = Construct(plain, 5);
    jvm::Ref b = Construct(traced, 5);
    Construct(traced, -5);
    EXPECT_EQ(Hits()[6] - h[6], copies) << "only the branch with the inserted code";
    h = Hits();
    EXPECT_EQ(CallInt(b, "loop", 3), CallInt(a, "loop", 3));
    EXPECT_EQ(Hits()[4] - h[4], 3 * copies);
    for (bool yes : {true, false}) {
        h = Hits();
        EXPECT_EQ(Made(b, yes), Made(a, yes));
        EXPECT_EQ(Hits()[5] - h[5], yes ? copies : 0);
    }
    for (int32_t n : {0, 1, 3, 9}) {
        h = Hits();
        EXPECT_EQ(CallInt(b, "switches", n), CallInt(a, "switches", n));
        EXPECT_EQ(Hits()[7] - h[7], n == 0 ? copies : 0);
    }

    // Before version 50 the verifier infers types: the same widening, without new frames.
    ClassFile old = ParsedInsertable();
    old.major = 49;
    ASSERT_EQ(InsertMany(&old, "loop", "(I)I", op::kPutfield, 0, copies, 4), Refusal::kNone);
    WriteClassFile(old, &out);
    jvm::Ref inferred = LinkedInFreshLoader("vexotest/Insertable", out);
    ASSERT_NE(inferred, nullptr) << "the old verifier refused the widened code";
    jvm::Ref o = Construct(inferred, 5);
    h = Hits();
    jvm::Ref p = Construct(plain, 5);
    EXPECT_EQ(CallInt(o, "loop", 4), CallInt(p, "loop", 4));
    EXPECT_EQ(Hits()[4] - h[4], 4 * copies);

    // 17000 calls: 68000 bytes. The method stays as it was.
    ClassFile fresh = ParsedInsertable();
    const std::vector<uint8_t> before = FindCodeAttribute(fresh, FindMethod(&fresh, "loop", "(I)I"))->bytes;
    EXPECT_EQ(InsertMany(&fresh, "loop", "(I)I", op::kPutfield, 0, 17000, 4), Refusal::kCodeTooLong);
    EXPECT_EQ(FindCodeAttribute(fresh, FindMethod(&fresh, "loop", "(I)I"))->bytes, before);
}

TEST(BytecodeEngine, CodeWrittenBackWithoutInsertionIsByteIdentical) {
    for (const char* resource : {"vexotest/Insertable.class", "java/lang/String.class",
                                 "java/util/HashMap.class", "java/util/concurrent/ConcurrentHashMap.class",
                                 "java/lang/Character.class", "java/util/Formatter.class"}) {
        const std::vector<uint8_t> original = jvm::ClassBytes(resource);
        ASSERT_FALSE(original.empty()) << resource;
        ClassFile cls;
        ASSERT_EQ(ParseClassFile(original.data(), original.size(), &cls), Refusal::kNone) << resource;
        size_t methods = 0;
        for (Member& m : cls.methods) {
            if (FindCodeAttribute(cls, &m) == nullptr) continue;
            const std::vector<uint8_t> before = FindCodeAttribute(cls, &m)->bytes;
            Code code;
            ASSERT_EQ(ReadMethodCode(cls, &m, &code), Refusal::kNone) << resource << " " << *cls.pool.Utf8(m.name);
            ASSERT_EQ(WriteMethodCode(&cls, &m, code), Refusal::kNone) << resource << " " << *cls.pool.Utf8(m.name);
            EXPECT_EQ(FindCodeAttribute(cls, &m)->bytes, before) << resource << " " << *cls.pool.Utf8(m.name);
            ++methods;
        }
        EXPECT_GT(methods, 5u) << resource;
        std::vector<uint8_t> out;
        WriteClassFile(cls, &out);
        EXPECT_EQ(out, original) << resource;
    }
}

TEST(BytecodeEngine, TruncatedCorruptOrUnknownInputsAreRefusedWithoutHarm) {
    std::vector<uint8_t> original;
    ClassFile cls = ParsedInsertable(&original);
    ClassFile scratch;
    for (size_t size = 0; size < original.size(); ++size) {
        EXPECT_EQ(ParseClassFile(original.data(), size, &scratch), Refusal::kMalformedClass) << "truncated to " << size;
    }
    std::vector<uint8_t> versioned = original;
    for (uint8_t major : {44, 70}) {
        versioned[7] = major;
        EXPECT_EQ(ParseClassFile(versioned.data(), versioned.size(), &scratch), Refusal::kUnsupportedVersion);
    }
    versioned[7] = 69;
    EXPECT_EQ(ParseClassFile(versioned.data(), versioned.size(), &scratch), Refusal::kNone) << "Java 25";

    Member* loop = FindMethod(&cls, "loop", "(I)I");
    const std::vector<uint8_t> body = FindCodeAttribute(cls, loop)->bytes;
    const MethodContext context = ContextOf(cls, *loop);
    Code code;
    for (size_t size = 0; size < body.size(); ++size) {
        EXPECT_NE(DecodeCode(cls.pool, context, body.data(), size, &code), Refusal::kNone) << "truncated to " << size;
    }
    std::vector<uint8_t> bad = body;
    bad[8] = 0xcb;  // the first opcode
    EXPECT_EQ(DecodeCode(cls.pool, context, bad.data(), bad.size(), &code), Refusal::kUnknownOpcode);
    // A code attribute that may hold code offsets the engine does not know: the method is refused.
    bad = body;
    const uint16_t name = cls.pool.Utf8Index("RuntimeVisibleTypeAnnotations");
    const uint32_t codeLength = (uint32_t{bad[4]} << 24) | (uint32_t{bad[5]} << 16) | (bad[6] << 8) | bad[7];
    const size_t handlers = (size_t{bad[8 + codeLength]} << 8) | bad[9 + codeLength];
    const size_t attributeCount = 8 + codeLength + 2 + handlers * 8;
    ASSERT_LT(bad[attributeCount + 1], 255);
    bad[attributeCount + 1]++;  // one more attribute, at the end
    const uint8_t extra[] = {uint8_t(name >> 8), uint8_t(name), 0, 0, 0, 2, 0, 0};
    bad.insert(bad.end(), extra, extra + sizeof extra);
    EXPECT_EQ(DecodeCode(cls.pool, context, bad.data(), bad.size(), &code), Refusal::kUnknownCodeAttribute);

    // Every byte of every method's code flipped: refused, or decoded into code that writes.
    size_t decoded = 0, refused = 0;
    for (Member& m : cls.methods) {
        const std::vector<uint8_t> good = FindCodeAttribute(cls, &m)->bytes;
        for (size_t i = 0; i < good.size(); ++i) {
            std::vector<uint8_t> flipped = good;
            flipped[i] ^= 0xa5;
            if (DecodeCode(cls.pool, ContextOf(cls, m), flipped.data(), flipped.size(), &code) != Refusal::kNone) {
                ++refused;
                continue;
            }
            ++decoded;
            std::vector<uint8_t> written;
            ConstantPool pool = cls.pool;
            EncodeCode(code, ContextOf(cls, m), &pool, &written);
        }
    }
    EXPECT_GT(refused, 0u);
    EXPECT_GT(decoded, 0u);

    // Inserted code must be straight-line, and there is no "after" a return.
    ASSERT_EQ(ReadMethodCode(cls, loop, &code), Refusal::kNone);
    Instruction jump = Simple(op::kGoto);
    EXPECT_EQ(InsertBefore(&code, code.instructions.size() - 1, {jump}, 0), Refusal::kNotStraightLine);
    EXPECT_EQ(InsertBefore(&code, code.instructions.size() - 1, {Simple(op::kAthrow)}, 0), Refusal::kNotStraightLine);
    EXPECT_EQ(InsertAfter(&code, code.instructions.size() - 1, {Simple(op::kNop)}, 0), Refusal::kNoFallThrough);
}
}  // namespace

// The method probe rewriter: rewritten methods call the hook with every argument in order, on
// entry once per call (also when a loop branches back to the first instruction), with the
// value of every return, and with the very exception that leaves them (thrown, rethrown or
// thrown by a callee; one caught inside is not seen); recursion nests; constructors see null
// before their super call and the object after it; the classes verify (version 61 with stack
// map frames, version 49 without) and compute what the originals do; methods the engine
// cannot rewrite stay as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytecode/class_file.h"
#include "bytecode/insertion.h"
#include "bytecode/method_code.h"
#include "bytecode/method_probes.h"
#include "bytecode/opcodes.h"
#include "tests/harness/class_files.h"
#include "tests/harness/test_jvm.h"

namespace {
using namespace bytecode;

constexpr const char* kHook = "vexotest/ProbeHook";
constexpr const char* kSubjects = "vexotest/ProbeSubjects";
constexpr const char* kDerived = "vexotest/ProbeSubjects$Derived";
constexpr const char* kDirect = "vexotest/ProbeSubjects$Direct";
constexpr int kCodeLimit = 65535;

using Log = std::vector<std::string>;

jclass Hook(JNIEnv* env) { return env->FindClass(kHook); }

// Defines `bytes` in a loader of its own and links the class, so the verifier has run; null
// (with the VerifyError described) when it refuses the class.
jclass Linked(JNIEnv* env, const char* name, const std::vector<uint8_t>& bytes) {
    jclass c = DefineInFreshLoader(env, name, bytes);
    if (c == nullptr) return nullptr;
    jclass reflected = env->FindClass("java/lang/Class");
    env->CallObjectMethod(c, env->GetMethodID(reflected, "getMethods", "()[Ljava/lang/reflect/Method;"));
    return Failed(env) ? nullptr : c;
}

// The hook's log since the last call, one string per entry; the log and its exceptions are emptied.
Log TakeLog(JNIEnv* env) {
    env->PushLocalFrame(16);
    jclass hook = Hook(env);
    jobject log = env->GetStaticObjectField(hook, env->GetStaticFieldID(hook, "log", "Ljava/lang/StringBuilder;"));
    jobject list = env->GetStaticObjectField(hook, env->GetStaticFieldID(hook, "exceptions", "Ljava/util/List;"));
    jclass builder = env->GetObjectClass(log);
    auto text = static_cast<jstring>(
        env->CallObjectMethod(log, env->GetMethodID(builder, "toString", "()Ljava/lang/String;")));
    EXPECT_FALSE(Failed(env));
    env->CallVoidMethod(log, env->GetMethodID(builder, "setLength", "(I)V"), 0);
    EXPECT_FALSE(Failed(env));
    env->CallVoidMethod(list, env->GetMethodID(env->FindClass("java/util/List"), "clear", "()V"));
    EXPECT_FALSE(Failed(env));
    const char* chars = env->GetStringUTFChars(text, nullptr);
    const std::string all = chars;
    env->ReleaseStringUTFChars(text, chars);
    env->PopLocalFrame(nullptr);
    Log out;
    size_t from = 0;
    for (size_t end; (end = all.find(';', from)) != std::string::npos; from = end + 1) {
        out.push_back(all.substr(from, end - from));
    }
    return out;
}

// Whether `thrown` is the exception the hook logged as #0 (call before TakeLog).
bool IsFirstLoggedException(JNIEnv* env, jthrowable thrown) {
    jclass hook = Hook(env);
    jobject list = env->GetStaticObjectField(hook, env->GetStaticFieldID(hook, "exceptions", "Ljava/util/List;"));
    jclass listClass = env->FindClass("java/util/List");
    const jint size = env->CallIntMethod(list, env->GetMethodID(listClass, "size", "()I"));
    if (Failed(env) || size < 1) return false;
    jobject first = env->CallObjectMethod(list, env->GetMethodID(listClass, "get", "(I)Ljava/lang/Object;"), 0);
    return !Failed(env) && env->IsSameObject(first, thrown);
}

std::string Utf(JNIEnv* env, jstring s) {
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string out = chars;
    env->ReleaseStringUTFChars(s, chars);
    return out;
}

std::string ClassNameOf(JNIEnv* env, jobject o) {
    jclass c = env->GetObjectClass(o);
    auto name = static_cast<jstring>(
        env->CallObjectMethod(c, env->GetMethodID(env->FindClass("java/lang/Class"), "getName", "()Ljava/lang/String;")));
    return Failed(env) ? "" : Utf(env, name);
}

// A value as the hook writes it: ints as ints (booleans and chars too), floats and doubles as
// Java prints them, strings as themselves, int arrays as "int[n]" followed by their elements.
std::string Render(JNIEnv* env, char kind, jvalue v) {
    jclass string = env->FindClass("java/lang/String");
    switch (kind) {
        case 'Z': return v.z ? "1" : "0";
        case 'B': return std::to_string(v.b);
        case 'C': return std::to_string(v.c);
        case 'S': return std::to_string(v.s);
        case 'I': return std::to_string(v.i);
        case 'J': return std::to_string(v.j);
        case 'F': case 'D': {
            jmethodID valueOf = env->GetStaticMethodID(string, "valueOf", kind == 'F' ? "(F)Ljava/lang/String;"
                                                                                    : "(D)Ljava/lang/String;");
            auto text = static_cast<jstring>(env->CallStaticObjectMethodA(string, valueOf, &v));
            return Failed(env) ? "" : Utf(env, text);
        }
        default: break;
    }
    if (v.l == nullptr) return "null";
    if (env->IsInstanceOf(v.l, string)) return Utf(env, static_cast<jstring>(v.l));
    if (env->IsInstanceOf(v.l, env->FindClass("[I"))) {
        auto array = static_cast<jintArray>(v.l);
        std::vector<jint> elements(static_cast<size_t>(env->GetArrayLength(array)));
        env->GetIntArrayRegion(array, 0, static_cast<jsize>(elements.size()), elements.data());
        std::string out = "int[" + std::to_string(elements.size()) + "]";
        for (jint e : elements) out += " " + std::to_string(e);
        return out;
    }
    return ClassNameOf(env, v.l);
}

jvalue Z(bool z) { jvalue v; v.z = z ? JNI_TRUE : JNI_FALSE; return v; }
jvalue B(jbyte b) { jvalue v; v.b = b; return v; }
jvalue C(jchar c) { jvalue v; v.c = c; return v; }
jvalue S(jshort s) { jvalue v; v.s = s; return v; }
jvalue I(jint i) { jvalue v; v.i = i; return v; }
jvalue J(jlong j) { jvalue v; v.j = j; return v; }
jvalue F(jfloat f) { jvalue v; v.f = f; return v; }
jvalue D(jdouble d) { jvalue v; v.d = d; return v; }
jvalue L(jobject l) { jvalue v; v.l = l; return v; }

// What a call returned (rendered; "" for void), or the exception it threw.
struct Outcome {
    std::string value;
    jthrowable thrown = nullptr;
};

// Calls `name` on `self`, or the static method of `c` when `self` is null.
Outcome Invoke(JNIEnv* env, jclass c, jobject self, const char* name, const char* descriptor,
               const std::vector<jvalue>& args) {
    jmethodID m = self != nullptr ? env->GetMethodID(c, name, descriptor) : env->GetStaticMethodID(c, name, descriptor);
    EXPECT_NE(m, nullptr) << name << descriptor;
    if (m == nullptr) return {"", nullptr};
    const jvalue* a = args.empty() ? nullptr : args.data();
    const char kind = std::strchr(descriptor, ')')[1];
    jvalue r;
    r.j = 0;
#define VEXO_INVOKE(Type) (self != nullptr ? env->Call##Type##MethodA(self, m, a) : env->CallStatic##Type##MethodA(c, m, a))
    switch (kind) {
        case 'Z': r.z = VEXO_INVOKE(Boolean); break;
        case 'B': r.b = VEXO_INVOKE(Byte); break;
        case 'C': r.c = VEXO_INVOKE(Char); break;
        case 'S': r.s = VEXO_INVOKE(Short); break;
        case 'I': r.i = VEXO_INVOKE(Int); break;
        case 'J': r.j = VEXO_INVOKE(Long); break;
        case 'F': r.f = VEXO_INVOKE(Float); break;
        case 'D': r.d = VEXO_INVOKE(Double); break;
        case 'V': VEXO_INVOKE(Void); break;
        default: r.l = VEXO_INVOKE(Object); break;
    }
#undef VEXO_INVOKE
    Outcome out;
    if (env->ExceptionCheck()) {
        out.thrown = env->ExceptionOccurred();
        env->ExceptionClear();
        return out;
    }
    if (kind != 'V') out.value = Render(env, kind, r);
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
    std::vector<jvalue> args;
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

std::vector<Case> SubjectCases(JNIEnv* env) {
    jintArray three = env->NewIntArray(3);
    jintArray laps = env->NewIntArray(1);
    jintArray cell = env->NewIntArray(1);
    jstring prefix = env->NewStringUTF("n=");
    jstring zz = env->NewStringUTF("zz");
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
void ExpectSubjectCases(JNIEnv* env, const std::vector<uint8_t>& rewritten) {
    ASSERT_EQ(env->PushLocalFrame(256), JNI_OK);
    jclass plain = env->FindClass(kSubjects);
    ASSERT_NE(plain, nullptr);
    jclass probed = Linked(env, kSubjects, rewritten);
    ASSERT_NE(probed, nullptr) << "the verifier refused the rewritten class";
    jobject plainSelf = env->NewObject(plain, env->GetMethodID(plain, "<init>", "(I)V"), 3);
    EXPECT_TRUE(TakeLog(env).empty()) << "the original calls no hook";
    jobject probedSelf = env->NewObject(probed, env->GetMethodID(probed, "<init>", "(I)V"), 3);
    ASSERT_FALSE(Failed(env));
    EXPECT_EQ(TakeLog(env), (Log{"argI 3", "enter 19 -", "exitV 19 ProbeSubjects"}));

    // Each class gets arguments of its own (arrays the calls change).
    const std::vector<Case> plainCases = SubjectCases(env), cases = SubjectCases(env);
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& k = cases[n];
        const std::string what = std::string(k.name) + k.descriptor;
        env->PushLocalFrame(32);
        const Outcome expected =
            Invoke(env, plain, k.instance ? plainSelf : nullptr, k.name, k.descriptor, plainCases[n].args);
        TakeLog(env);
        const Outcome got = Invoke(env, probed, k.instance ? probedSelf : nullptr, k.name, k.descriptor, k.args);
        EXPECT_EQ(got.value, expected.value) << what;
        ASSERT_EQ(got.thrown == nullptr, expected.thrown == nullptr) << what;
        Log want = k.before;
        if (got.thrown != nullptr) {
            EXPECT_EQ(ClassNameOf(env, got.thrown), ClassNameOf(env, expected.thrown)) << what;
            EXPECT_TRUE(IsFirstLoggedException(env, got.thrown)) << what << ": the hook saw another exception";
        } else if (!k.exit.empty()) {
            // The hook writes arrays without their elements.
            want.push_back(expected.value.empty() ? k.exit
                                                  : k.exit + " " + expected.value.substr(0, expected.value.find(' ')));
        }
        EXPECT_EQ(TakeLog(env), want) << what;
        env->PopLocalFrame(nullptr);
    }
    env->PopLocalFrame(nullptr);
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

jobject Construct(JNIEnv* env, jclass c, const char* descriptor, const std::vector<jvalue>& args,
                  jthrowable* thrown) {
    jobject o = env->NewObjectA(c, env->GetMethodID(c, "<init>", descriptor), args.data());
    *thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    return o;
}

// Direct: a call before its super call, straight code to it; a throw after it. Whether the
// hook sees an exception thrown by the super call itself depends on the verifier (see
// method_probes.h): not with frames, which the split verifier checks.
void ExpectDirectConstructor(JNIEnv* env, const std::vector<uint8_t>& original, bool superCallCovered) {
    std::vector<MethodProbeTarget> targets = {Target("<init>", "(I)V", 31)};
    const std::vector<uint8_t> rewritten = Rewritten(original, &targets);
    ExpectAllInstrumented(targets);
    jclass direct = Linked(env, kDirect, rewritten);
    ASSERT_NE(direct, nullptr) << "the verifier refused the rewritten constructor";
    jthrowable thrown = nullptr;
    jobject made = Construct(env, direct, "(I)V", {I(-6)}, &thrown);
    ASSERT_EQ(thrown, nullptr);
    EXPECT_EQ(env->GetLongField(made, env->GetFieldID(direct, "twice", "J")), 12);
    EXPECT_EQ(TakeLog(env), (Log{"argI -6", "enter 31 -", "exitV 31 ProbeSubjects$Direct"}));
    // The super constructor throws: `this` is not initialised, the hook sees null.
    Construct(env, direct, "(I)V", {I(-13)}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(ClassNameOf(env, thrown), "java.lang.IllegalStateException");
    EXPECT_EQ(IsFirstLoggedException(env, thrown), superCallCovered);
    Log want = {"argI -13", "enter 31 -"};
    if (superCallCovered) want.push_back("thrown 31 - #0");
    EXPECT_EQ(TakeLog(env), want);
    // Thrown after the super call: the hook sees the object.
    Construct(env, direct, "(I)V", {I(99)}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(ClassNameOf(env, thrown), "java.lang.UnsupportedOperationException");
    EXPECT_TRUE(IsFirstLoggedException(env, thrown));
    EXPECT_EQ(TakeLog(env), (Log{"argI 99", "enter 31 -", "thrown 31 ProbeSubjects$Direct #0"}));
}

TEST(MethodProbes, ArgumentsReturnsAndExceptionsOfEveryKindReachTheHookInOrder) {
    JNIEnv* env = TestEnv();
    const std::vector<uint8_t> original = ClassBytes(env, "vexotest/ProbeSubjects.class");
    ASSERT_FALSE(original.empty());
    std::vector<MethodProbeTarget> targets = SubjectTargets();
    const std::vector<uint8_t> rewritten = Rewritten(original, &targets);
    ExpectAllInstrumented(targets);
    ExpectSubjectCases(env, rewritten);
}

TEST(MethodProbes, ConstructorsSeeNullBeforeTheirSuperCallAndTheObjectAfterIt) {
    JNIEnv* env = TestEnv();
    ASSERT_EQ(env->PushLocalFrame(256), JNI_OK);
    const std::vector<uint8_t> derivedBytes = ClassBytes(env, "vexotest/ProbeSubjects$Derived.class");
    ASSERT_FALSE(derivedBytes.empty());
    std::vector<MethodProbeTarget> targets = {Target("<init>", "(ILjava/lang/String;)V", 30)};
    const std::vector<uint8_t> rewritten = Rewritten(derivedBytes, &targets);
    ExpectAllInstrumented(targets);
    jclass derived = Linked(env, kDerived, rewritten);
    ASSERT_NE(derived, nullptr) << "the verifier refused the rewritten constructor";
    jfieldID label = env->GetFieldID(derived, "label", "Ljava/lang/String;");
    jfieldID value = env->GetFieldID(env->FindClass("vexotest/ProbeSubjects$Base"), "value", "I");

    jthrowable thrown = nullptr;
    jobject a = Construct(env, derived, "(ILjava/lang/String;)V", {I(-5), L(env->NewStringUTF("x "))}, &thrown);
    ASSERT_EQ(thrown, nullptr);
    EXPECT_EQ(Utf(env, static_cast<jstring>(env->GetObjectField(a, label))), "x");
    EXPECT_EQ(env->GetIntField(a, value), 5);
    EXPECT_EQ(TakeLog(env), (Log{"argI -5", "argL x ", "enter 30 -", "exitV 30 ProbeSubjects$Derived"}));
    // A null label: the constructor catches the NullPointerException itself.
    jobject b = Construct(env, derived, "(ILjava/lang/String;)V", {I(4), L(nullptr)}, &thrown);
    ASSERT_EQ(thrown, nullptr);
    EXPECT_EQ(Utf(env, static_cast<jstring>(env->GetObjectField(b, label))), "none");
    EXPECT_EQ(env->GetIntField(b, value), 5);
    EXPECT_EQ(TakeLog(env), (Log{"argI 4", "argL null", "enter 30 -", "exitV 30 ProbeSubjects$Derived"}));
    // 12 + 1: the super constructor throws, out of the split verifier's reach for handlers; the
    // exception passes unchanged.
    Construct(env, derived, "(ILjava/lang/String;)V", {I(12), L(env->NewStringUTF("y"))}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(ClassNameOf(env, thrown), "java.lang.IllegalStateException");
    EXPECT_EQ(TakeLog(env), (Log{"argI 12", "argL y", "enter 30 -"}));
    // Thrown by a call in the super call's arguments: `this` is not initialised, the hook sees null.
    Construct(env, derived, "(ILjava/lang/String;)V", {I(50), L(env->NewStringUTF("z"))}, &thrown);
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(ClassNameOf(env, thrown), "java.lang.ArithmeticException");
    EXPECT_TRUE(IsFirstLoggedException(env, thrown));
    EXPECT_EQ(TakeLog(env), (Log{"argI 50", "argL z", "enter 30 -", "thrown 30 - #0"}));

    const std::vector<uint8_t> directBytes = ClassBytes(env, "vexotest/ProbeSubjects$Direct.class");
    ASSERT_FALSE(directBytes.empty());
    ExpectDirectConstructor(env, directBytes, false);
}

TEST(MethodProbes, ClassFilesBeforeVersion50VerifyWithTheOldVerifier) {
    JNIEnv* env = TestEnv();
    ASSERT_EQ(env->PushLocalFrame(256), JNI_OK);
    const std::vector<uint8_t> original = ClassBytes(env, "vexotest/ProbeSubjects.class");
    ASSERT_FALSE(original.empty());
    std::vector<MethodProbeTarget> targets = SubjectTargets();
    const std::vector<uint8_t> rewritten = Rewritten(AsVersion49(original), &targets);
    ExpectAllInstrumented(targets);
    ExpectSubjectCases(env, rewritten);

    ExpectDirectConstructor(env, AsVersion49(ClassBytes(env, "vexotest/ProbeSubjects$Direct.class")), true);
    // Derived's super call follows a branch: without frames the engine cannot tell that every
    // path runs through it.
    const std::vector<uint8_t> derived = AsVersion49(ClassBytes(env, "vexotest/ProbeSubjects$Derived.class"));
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
    JNIEnv* env = TestEnv();
    ASSERT_EQ(env->PushLocalFrame(256), JNI_OK);
    const std::vector<uint8_t> padded = PaddedSubjects(ClassBytes(env, "vexotest/ProbeSubjects.class"));
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
    jclass probed = Linked(env, kSubjects, out);
    ASSERT_NE(probed, nullptr);
    EXPECT_EQ(Invoke(env, probed, nullptr, "widened", "(I)J", {I(3)}).value, std::to_string(3LL << 33));
    EXPECT_TRUE(TakeLog(env).empty());

    // The entry alone fits exactly, and the code of 65535 bytes runs.
    std::vector<MethodProbeTarget> entry = {Target("widened", "(I)J", 5, false, false)};
    ASSERT_TRUE(RewriteMethodProbes(padded.data(), padded.size(), &entry, &out, kHook));
    ASSERT_TRUE(entry[0].instrumented) << RefusalName(entry[0].refusal);
    const std::vector<uint8_t> code = CodeOf(out, "widened", "(I)J");
    ASSERT_GE(code.size(), 8u);
    EXPECT_EQ((code[4] << 24) | (code[5] << 16) | (code[6] << 8) | code[7], kCodeLimit);
    probed = Linked(env, kSubjects, out);
    ASSERT_NE(probed, nullptr);
    EXPECT_EQ(Invoke(env, probed, nullptr, "widened", "(I)J", {I(3)}).value, std::to_string(3LL << 33));
    EXPECT_EQ(TakeLog(env), (Log{"enter 5 -"}));

    // A class file that does not parse: nothing rewritten, every target told why.
    std::vector<uint8_t> cut(padded.begin(), padded.begin() + 100);
    EXPECT_FALSE(RewriteMethodProbes(cut.data(), cut.size(), &entry, &out, kHook));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(entry[0].refusal, Refusal::kMalformedClass);
    EXPECT_FALSE(entry[0].instrumented);
}

}  // namespace

// The class file rewriter: rewritten classes pass the JVM's verifier, behave as before and call
// the entry hook first; what it cannot handle safely it leaves alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "instrument/class_file_passes.h"
#include "instrument/class_rewriter.h"
#include "instrument/hook_class.h"
#include "tests/harness/class_files.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"

namespace {
struct HookCall {
    jobject receiver;  // global reference, or null
    jint id;
};
std::vector<HookCall> g_hookCalls;

void JNICALL RecordingEnter(JNIEnv* env, jclass, jobject receiver, jint id) {
    g_hookCalls.push_back({receiver != nullptr ? env->NewGlobalRef(receiver) : nullptr, id});
}

// A hook class of the test's own, in the boot loader as the bridge defines it.
void DefineTestHook(JNIEnv* env) {
    static bool defined = false;
    if (defined) return;
    defined = true;
    const unsigned char bytes[] = {
        0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 52, 0, 7,
        1, 0, 27, 'c', 'o', 'm', '/', 'v', 'e', 'x', 'o', '/', 'i', 'n', 't', 'e', 'r', 'n', 'a',
        'l', '/', 'E', 'n', 't', 'r', 'y', 'H', 'o', 'o', 'k',
        7, 0, 1,
        1, 0, 16, 'j', 'a', 'v', 'a', '/', 'l', 'a', 'n', 'g', '/', 'O', 'b', 'j', 'e', 'c', 't',
        7, 0, 3,
        1, 0, 5, 'e', 'n', 't', 'e', 'r',
        1, 0, 22, '(', 'L', 'j', 'a', 'v', 'a', '/', 'l', 'a', 'n', 'g', '/', 'O', 'b', 'j', 'e',
        'c', 't', ';', 'I', ')', 'V',
        0, 0x31, 0, 2, 0, 4, 0, 0, 0, 0, 0, 1, 0x01, 0x09, 0, 5, 0, 6, 0, 0, 0, 0};
    jclass hook = env->DefineClass(kEntryHookClass, nullptr, reinterpret_cast<const jbyte*>(bytes),
                                   sizeof bytes);
    ASSERT_NE(hook, nullptr);
    JNINativeMethod native = {const_cast<char*>("enter"), const_cast<char*>(kEntryHookDescriptor),
                              reinterpret_cast<void*>(RecordingEnter)};
    ASSERT_EQ(env->RegisterNatives(hook, &native, 1), JNI_OK);
}

jint CallInt(JNIEnv* env, jobject target, jclass c, const char* name, jint arg) {
    return env->CallIntMethod(target, env->GetMethodID(c, name, "(I)I"), arg);
}

TEST(ClassRewriter, RewrittenMethodsVerifyBehaveAsBeforeAndCallTheHookFirst) {
    JNIEnv* env = TestEnv();
    DefineTestHook(env);
    std::vector<uint8_t> original = ClassBytes(env, "vexotest/Rewritable.class");
    std::vector<EntryProbe> probes = {{"switches", "(I)I", 7, false},
                                      {"risky", "(I)I", 70000, false},
                                      {"count", "(I)I", 9, false},
                                      {"<init>", "()V", 3, false},
                                      {"make", "(Z)Ljava/lang/Object;", 11, false}};
    std::vector<uint8_t> rewritten;
    ASSERT_TRUE(RewriteClass(original.data(), original.size(), &probes, &rewritten));
    EXPECT_TRUE(probes[0].instrumented && probes[1].instrumented && probes[2].instrumented);
    EXPECT_FALSE(probes[3].instrumented) << "a constructor's receiver is not initialised at entry";
    EXPECT_EQ(probes[3].refusal, ProbeRefusal::kConstructor);
    EXPECT_TRUE(probes[4].instrumented);
    EXPECT_EQ(probes[4].refusal, ProbeRefusal::kNone);

    jclass plain = env->FindClass("vexotest/Rewritable");
    jclass traced = DefineInFreshLoader(env, "vexotest/Rewritable", rewritten);
    ASSERT_NE(traced, nullptr) << "the verifier refused the rewritten class";
    jobject a = env->NewObject(plain, env->GetMethodID(plain, "<init>", "()V"));
    jobject b = env->NewObject(traced, env->GetMethodID(traced, "<init>", "()V"));
    EXPECT_TRUE(g_hookCalls.empty()) << "the constructor was left alone";

    for (jint n : {1, 2, 3, 70, 5}) {
        EXPECT_EQ(CallInt(env, a, plain, "switches", n), CallInt(env, b, traced, "switches", n)) << n;
    }
    for (jint n : {-2, 0, 10}) {
        EXPECT_EQ(CallInt(env, a, plain, "risky", n), CallInt(env, b, traced, "risky", n)) << n;
    }
    jmethodID countPlain = env->GetStaticMethodID(plain, "count", "(I)I");
    jmethodID countTraced = env->GetStaticMethodID(traced, "count", "(I)I");
    EXPECT_EQ(env->CallStaticIntMethod(plain, countPlain, 1000),
              env->CallStaticIntMethod(traced, countTraced, 1000));
    EXPECT_FALSE(env->ExceptionCheck());
    jmethodID make = env->GetMethodID(traced, "make", "(Z)Ljava/lang/Object;");
    jobject made = env->CallObjectMethod(b, make, JNI_TRUE);
    ASSERT_NE(made, nullptr) << "an object made across a branch";
    EXPECT_FALSE(env->ExceptionCheck());

    ASSERT_EQ(g_hookCalls.size(), 10u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(g_hookCalls[i].id, 7);
        EXPECT_TRUE(env->IsSameObject(g_hookCalls[i].receiver, b));
    }
    for (size_t i = 5; i < 8; ++i) EXPECT_EQ(g_hookCalls[i].id, 70000) << "ids beyond a short's range";
    EXPECT_EQ(g_hookCalls[8].id, 9);
    EXPECT_EQ(g_hookCalls[8].receiver, nullptr) << "a static method passes no receiver";
}

// A class "T" with one method `name`()V (static by default) of `codeLength` bytes: nops and a
// return, with no local variables.
std::vector<uint8_t> ClassWithCode(uint32_t codeLength, const char* name = "m", uint16_t access = 0x09,
                                   uint8_t majorVersion = 52) {
    std::vector<uint8_t> b = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, majorVersion, 0, 8};
    auto u2 = [&](uint32_t v) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); };
    auto u4 = [&](uint32_t v) { u2(v >> 16); u2(v); };
    auto utf8 = [&](const char* s) { b.push_back(1); u2(uint32_t(std::strlen(s))); b.insert(b.end(), s, s + std::strlen(s)); };
    utf8("T"); b.push_back(7); u2(1);
    utf8("java/lang/Object"); b.push_back(7); u2(3);
    utf8(name); utf8("()V"); utf8("Code");
    u2(0x21); u2(2); u2(4); u2(0); u2(0);
    u2(1);
    u2(access); u2(5); u2(6); u2(1);
    u2(7); u4(12 + codeLength); u2(0); u2(0); u4(codeLength);
    b.insert(b.end(), codeLength - 1, 0x00);
    b.push_back(0xb1);
    u2(0); u2(0);
    u2(0);
    return b;
}

TEST(ClassRewriter, CodeThatWouldOutgrowTheLimitIsLeftAloneAndCodeThatFitsRuns) {
    JNIEnv* env = TestEnv();
    DefineTestHook(env);
    std::vector<EntryProbe> probes = {{"m", "()V", 4, false}};
    std::vector<uint8_t> out;
    const std::vector<uint8_t> tooLong = ClassWithCode(65528);
    EXPECT_FALSE(RewriteClass(tooLong.data(), tooLong.size(), &probes, &out));
    EXPECT_FALSE(probes[0].instrumented);
    EXPECT_EQ(probes[0].refusal, ProbeRefusal::kCodeTooLong);
    EXPECT_TRUE(out.empty());

    const std::vector<uint8_t> fits = ClassWithCode(65527);
    ASSERT_TRUE(RewriteClass(fits.data(), fits.size(), &probes, &out));
    jclass t = DefineInFreshLoader(env, "T", out);
    ASSERT_NE(t, nullptr);
    g_hookCalls.clear();
    env->CallStaticVoidMethod(t, env->GetStaticMethodID(t, "m", "()V"));
    ASSERT_EQ(g_hookCalls.size(), 1u);
    EXPECT_EQ(g_hookCalls[0].id, 4);
}

// Before version 51 a <clinit> is the class initialiser whatever its flags say, so it has no
// receiver to pass even when ACC_STATIC is missing.
TEST(ClassRewriter, AnOldClassInitialiserWithoutTheStaticFlagPassesNoReceiver) {
    JNIEnv* env = TestEnv();
    DefineTestHook(env);
    std::vector<EntryProbe> probes = {{"<clinit>", "()V", 12, false}};
    std::vector<uint8_t> out;
    const std::vector<uint8_t> original = ClassWithCode(1, "<clinit>", 0x0000, 49);
    ASSERT_TRUE(RewriteClass(original.data(), original.size(), &probes, &out));
    jclass t = DefineInFreshLoader(env, "T", out);
    ASSERT_NE(t, nullptr);
    g_hookCalls.clear();
    jobject instance = env->AllocObject(t);  // initialises the class first
    EXPECT_FALSE(env->ExceptionCheck()) << "the rewritten initialiser did not verify or run";
    env->ExceptionClear();
    EXPECT_NE(instance, nullptr);
    ASSERT_EQ(g_hookCalls.size(), 1u);
    EXPECT_EQ(g_hookCalls[0].id, 12);
    EXPECT_EQ(g_hookCalls[0].receiver, nullptr);
}

TEST(ClassRewriter, TruncatedOrCorruptClassFilesAreRefusedWithoutHarm) {
    JNIEnv* env = TestEnv();
    const std::vector<uint8_t> original = ClassBytes(env, "vexotest/Rewritable.class");
    std::vector<EntryProbe> probes = {{"switches", "(I)I", 1, false}};
    std::vector<uint8_t> out;
    for (size_t size = 0; size < original.size(); ++size) {
        EXPECT_FALSE(RewriteClass(original.data(), size, &probes, &out)) << "truncated to " << size;
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(probes[0].instrumented);
        EXPECT_EQ(probes[0].refusal, ProbeRefusal::kMalformedClass) << "truncated to " << size;
    }
    std::vector<uint8_t> corrupt = original;
    corrupt[10] = 99;  // the first constant's tag
    EXPECT_FALSE(RewriteClass(corrupt.data(), corrupt.size(), &probes, &out));
    std::vector<EntryProbe> none = {{"absent", "()V", 1, false}};
    EXPECT_FALSE(RewriteClass(original.data(), original.size(), &none, &out))
        << "nothing to instrument: the class stays as it is";
    EXPECT_EQ(none[0].refusal, ProbeRefusal::kMethodNotFound);
}
}  // namespace

namespace {
// Passes of the test's own over a "class file" of letters: each sees what the one before made.
std::string g_seen;   // each pass's input, separated by '|'
std::string g_undone; // the passes whose records were taken back
bool g_memory = true; // whether the VM has memory for the class file

PassResult Appending(const uint8_t* data, size_t size, char letter) {
    g_seen += std::string(reinterpret_cast<const char*>(data), size) + "|";
    PassResult result;
    result.bytes.assign(data, data + size);
    result.bytes.push_back(static_cast<uint8_t>(letter));
    result.undo = [letter] { g_undone += letter; };
    return result;
}
PassResult PassA(LoadingClass*, const uint8_t* data, size_t size) { return Appending(data, size, 'a'); }
PassResult PassC(LoadingClass*, const uint8_t* data, size_t size) { return Appending(data, size, 'c'); }
// Changes nothing: what it would take back never is.
PassResult Unchanged(LoadingClass*, const uint8_t* data, size_t size) {
    g_seen += std::string(reinterpret_cast<const char*>(data), size) + "|";
    PassResult result;
    result.undo = [] { g_undone += 'u'; };
    return result;
}

jvmtiError JNICALL Allocate(jvmtiEnv*, jlong size, unsigned char** memory) {
    if (!g_memory) return JVMTI_ERROR_OUT_OF_MEMORY;
    *memory = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
    return JVMTI_ERROR_NONE;
}

// Runs the passes over "x"; returns the class file handed to the VM ("" for none).
std::string RunOverX(std::initializer_list<ClassFilePass> passes, std::string* errors) {
    jvmtiInterface_1_ table = {};
    table.Allocate = Allocate;
    jvmtiEnv jvmti;
    jvmti.functions = &table;
    LoadingClass c;
    c.name = "p/C";
    const unsigned char data[] = {'x'};
    jint newLength = 0;
    unsigned char* newData = nullptr;
    g_seen.clear();
    g_undone.clear();
    StderrCapture capture;
    RunClassFilePasses(&jvmti, &c, passes, data, 1, &newLength, &newData);
    *errors = capture.Finish();
    const std::string out = newData == nullptr ? "" : std::string(reinterpret_cast<char*>(newData), static_cast<size_t>(newLength));
    std::free(newData);
    return out;
}
}  // namespace

TEST(ClassFilePasses, EachPassTakesThePreviousOutputAndAFailedHandOverTakesBackEveryChange) {
    std::string errors;
    g_memory = true;
    EXPECT_EQ(RunOverX({PassA, Unchanged, PassC}, &errors), "xac");
    EXPECT_EQ(g_seen, "x|xa|xa|");
    EXPECT_EQ(g_undone, "");
    EXPECT_EQ(errors, "");

    EXPECT_EQ(RunOverX({Unchanged, Unchanged}, &errors), "");  // nothing changed: nothing handed over
    EXPECT_EQ(g_seen, "x|x|");

    g_memory = false;
    EXPECT_EQ(RunOverX({PassA, Unchanged, PassC}, &errors), "");
    EXPECT_EQ(g_undone, "ac");
    EXPECT_EQ(errors, "Vexo error:  no memory for the rewritten class p/C: it stays as it was\n");
}

namespace {
int g_gatedCalls = 0;
void JNICALL GatedTarget(JNIEnv*, jclass, jobject, jint) { ++g_gatedCalls; }
}  // namespace

// The gate in front of a hook's native, run (and verified: the test JVM verifies classes of the
// boot loader) as rewritten code calls it.
TEST(HookClasses, AGatedHookCallsItsNativeUnlessClosedButLetsItsPassIdThrough) {
    JNIEnv* env = TestEnv();
    const std::vector<HookNative> natives{{"enter0", kGatedDescriptor, reinterpret_cast<void*>(GatedTarget)}};
    ASSERT_TRUE(DefineGatedHookClass(env, "vexotest/GatedHook", natives, {{"enter", "enter0"}}));
    jclass hook = env->FindClass("vexotest/GatedHook");
    ASSERT_NE(hook, nullptr);
    jmethodID enter = env->GetStaticMethodID(hook, "enter", kGatedDescriptor);
    jfieldID closed = env->GetStaticFieldID(hook, kGateClosedField, "Z");
    jfieldID pass = env->GetStaticFieldID(hook, kGatePassField, "I");
    ASSERT_TRUE(enter != nullptr && closed != nullptr && pass != nullptr);
    g_gatedCalls = 0;
    env->CallStaticVoidMethod(hook, enter, nullptr, 5);
    EXPECT_EQ(g_gatedCalls, 1) << "open";
    env->SetStaticIntField(hook, pass, 7);
    env->SetStaticBooleanField(hook, closed, JNI_TRUE);
    env->CallStaticVoidMethod(hook, enter, nullptr, 5);
    EXPECT_EQ(g_gatedCalls, 1) << "closed";
    env->CallStaticVoidMethod(hook, enter, hook, 7);
    EXPECT_EQ(g_gatedCalls, 2) << "closed, but the pass id goes through";
    env->SetStaticBooleanField(hook, closed, JNI_FALSE);
    env->CallStaticVoidMethod(hook, enter, nullptr, 5);
    EXPECT_EQ(g_gatedCalls, 3) << "open again";

    // Owners by id: an object the owner at its id does not own stays out; a null object, an
    // id without an owner and one past the array go through.
    jfieldID ownersField = env->GetStaticFieldID(hook, kGateOwnersField, kGateOwnersDescriptor);
    ASSERT_NE(ownersField, nullptr);
    jclass classClass = env->FindClass("java/lang/Class");
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray owners = env->NewObjectArray(3, classClass, nullptr);
    env->SetObjectArrayElement(owners, 1, stringClass);
    env->SetStaticObjectField(hook, ownersField, owners);
    g_gatedCalls = 0;
    env->CallStaticVoidMethod(hook, enter, hook, 1);
    EXPECT_EQ(g_gatedCalls, 0) << "a class is not a String";
    env->CallStaticVoidMethod(hook, enter, env->NewStringUTF("s"), 1);
    env->CallStaticVoidMethod(hook, enter, nullptr, 1);
    env->CallStaticVoidMethod(hook, enter, hook, 2);
    env->CallStaticVoidMethod(hook, enter, hook, 3);
    EXPECT_EQ(g_gatedCalls, 4);
    env->SetStaticObjectField(hook, ownersField, nullptr);
    env->CallStaticVoidMethod(hook, enter, hook, 1);
    EXPECT_EQ(g_gatedCalls, 5) << "no owners: every object goes through";
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(hook);
}

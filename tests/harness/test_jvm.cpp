#include "tests/harness/test_jvm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {
JavaVM* g_vm = nullptr;
bool g_checkedJni = true;
jvmtiEnv* g_jvmti = nullptr;

JavaVM* CreateVm() {
    std::string classPath = std::string("-Djava.class.path=") + VEXO_TEST_CLASSPATH;
    JavaVMOption options[] = {
        {const_cast<char*>(classPath.c_str()), nullptr},
        {const_cast<char*>(g_checkedJni ? "-Xcheck:jni" : "-Xmixed"), nullptr},
        {const_cast<char*>("-XX:+DisplayVMOutputToStderr"), nullptr},
        // Classes the agent defines in the boot loader (the hook classes) verified like any other.
        {const_cast<char*>("-XX:+UnlockDiagnosticVMOptions"), nullptr},
        {const_cast<char*>("-XX:+BytecodeVerificationLocal"), nullptr},
    };
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_8;
    args.nOptions = sizeof options / sizeof options[0];
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
        std::fprintf(stderr, "test harness: JNI_CreateJavaVM failed\n");
        std::abort();
    }
    return vm;
}
}  // namespace

void UseCheckedJni(bool checked) { g_checkedJni = checked; }

JavaVM* TestJvm() {
    if (g_vm == nullptr) g_vm = CreateVm();
    return g_vm;
}

JNIEnv* TestEnv() {
    JavaVM* vm = TestJvm();
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) == JNI_EDETACHED) {
        vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    }
    return env;
}

jvmtiEnv* TestJvmti() {
    if (g_jvmti == nullptr) {
        TestEnv();
        TestJvm()->GetEnv(reinterpret_cast<void**>(&g_jvmti), JVMTI_VERSION_1_2);
    }
    return g_jvmti;
}

void ExpectFreshProcess() {
    static int testsInProcess = 0;
    ASSERT_EQ(++testsInProcess, 1)
        << "the agent's state lives once per process: run each test in a process of its own "
           "(ctest does), or select one test with --gtest_filter";
}

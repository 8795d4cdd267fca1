// nativeInitialize: the late attach and what it reports to Java.
#include <gtest/gtest.h>

#include <string>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"

namespace {
struct Reported {
    jint jni, jvmdi, jvmpi;
    bool debugHook, watchModifications, watchAccess, profileHook;
};

class Initialize : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        ScriptedVm();
        env_ = TestEnv();
    }

    jobject NewObject(const char* className) {
        jclass clazz = env_->FindClass(className);
        EXPECT_NE(clazz, nullptr) << className;
        return env_->AllocObject(clazz);
    }

    // Calls nativeInitialize; returns its result and what it wrote to standard error.
    bool CallInitialize(jobject info, std::string* errors) {
        StderrCapture capture;
        const jboolean result = Java_com_vexo_NativeApi_nativeInitialize(env_, nullptr, info);
        *errors = capture.Finish();
        return result == JNI_TRUE;
    }

    jint IntField(jobject object, const char* name) {
        jclass c = env_->GetObjectClass(object);
        return env_->GetIntField(object, env_->GetFieldID(c, name, "I"));
    }

    Reported Read(jobject info) {
        jclass c = env_->GetObjectClass(info);
        auto i = [&](const char* name) { return env_->GetIntField(info, env_->GetFieldID(c, name, "I")); };
        auto z = [&](const char* name) {
            return env_->GetBooleanField(info, env_->GetFieldID(c, name, "Z")) == JNI_TRUE;
        };
        return {i("m_iJNIVersion"), i("m_iJVMDIVersion"), i("m_iJVMPIVersion"),
                z("m_bDebugEventHookOK"), z("m_bDebugCanWatchFieldModificationsOK"),
                z("m_bDebugCanWatchFieldAccessOK"), z("m_bProfileEventHookOK")};
    }

    JNIEnv* env_ = nullptr;
};

TEST_F(Initialize, UnderJni11NoAttachIsTriedAndNothingIsReported) {
    Script().jniVersion = JNI_VERSION_1_1;
    jobject info = NewObject("com/vexo/InitializeInfo");
    std::string errors;
    EXPECT_TRUE(CallInitialize(info, &errors));
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(CallsStartingWith("GetEnv").empty());
    EXPECT_FALSE(g_agent.connected);
    const Reported r = Read(info);
    EXPECT_EQ(r.jni, 0x00010001);
    EXPECT_EQ(r.jvmdi, 0);
    EXPECT_EQ(r.jvmpi, 0);
    EXPECT_FALSE(r.debugHook || r.watchModifications || r.watchAccess || r.profileHook);
}

TEST_F(Initialize, LateAttachUnderJni12ReportsDebugMode) {
    Script().jniVersion = JNI_VERSION_1_2;
    Script().capabilityBits = 3;
    jobject info = NewObject("com/vexo/InitializeInfo");
    std::string errors;
    EXPECT_TRUE(CallInitialize(info, &errors));
    EXPECT_EQ(errors, "");
    const Reported r = Read(info);
    EXPECT_EQ(r.jni, JNI_VERSION_1_2);
    EXPECT_EQ(r.jvmdi, 1);
    EXPECT_EQ(r.jvmpi, 11);
    EXPECT_TRUE(r.debugHook);
    EXPECT_TRUE(r.watchModifications);
    EXPECT_TRUE(r.watchAccess);
    EXPECT_FALSE(r.profileHook);
}

TEST_F(Initialize, LateAttachInProfilerModeReportsTheProfilerHook) {
    Script().jniVersion = JNI_VERSION_1_2;
    Script().jvmpi11Status = JNI_EVERSION;
    Script().jvmdiStatus = JNI_EVERSION;
    jobject info = NewObject("com/vexo/InitializeInfo");
    std::string errors;
    EXPECT_TRUE(CallInitialize(info, &errors));
    EXPECT_EQ(errors, "Vexo error:  cannot obtain jvmdi (debug) interface pointer (fffffffd)\n");
    const Reported r = Read(info);
    EXPECT_EQ(r.jvmpi, 1);
    EXPECT_EQ(r.jvmdi, 0);
    EXPECT_FALSE(r.debugHook);
    EXPECT_TRUE(r.profileHook);
}

TEST_F(Initialize, JniTwoPointZeroCountsAsLaterThan12) {
    Script().jniVersion = 0x00020000;
    jobject info = NewObject("com/vexo/InitializeInfo");
    std::string errors;
    EXPECT_TRUE(CallInitialize(info, &errors));
    EXPECT_TRUE(g_agent.connected);
    EXPECT_EQ(Read(info).jni, 0x00020000);
}

TEST_F(Initialize, TheRunningJvmsOwnVersionAttaches) {
    Script().jniVersion = 0;  // whatever the embedded JVM answers (JNI 10 on JDK 17)
    jobject info = NewObject("com/vexo/InitializeInfo");
    std::string errors;
    EXPECT_TRUE(CallInitialize(info, &errors));
    EXPECT_TRUE(g_agent.connected);
    EXPECT_GE(Read(info).jni, JNI_VERSION_1_2);
}

TEST_F(Initialize, AMissingFieldFailsOnceWritesNothingAndALaterCompleteCallDoesNotReconnect) {
    Script().jniVersion = JNI_VERSION_1_2;
    jobject incomplete = NewObject("vexotest/IncompleteInitializeInfo");
    jclass incompleteClass = env_->GetObjectClass(incomplete);
    for (const char* name : {"m_iJNIVersion", "m_iJVMPIVersion"}) {
        env_->SetIntField(incomplete, env_->GetFieldID(incompleteClass, name, "I"), -7);
    }
    std::string errors;
    EXPECT_FALSE(CallInitialize(incomplete, &errors));
    // Exactly the agent's message: no JNI warning from a call behind the pending exception.
    EXPECT_EQ(errors, "ERROR: VexoDll failed to access fields in InitializeInfo\n");
    ASSERT_TRUE(env_->ExceptionCheck());
    jthrowable pending = env_->ExceptionOccurred();
    env_->ExceptionClear();
    EXPECT_TRUE(env_->IsInstanceOf(pending, env_->FindClass("java/lang/NoSuchFieldError")));
    EXPECT_EQ(IntField(incomplete, "m_iJNIVersion"), -7);
    EXPECT_EQ(IntField(incomplete, "m_iJVMPIVersion"), -7);
    // The attach happened all the same.
    EXPECT_TRUE(g_agent.connected);
    const size_t requests = CallsStartingWith("GetEnv").size();
    EXPECT_EQ(requests, 2u);

    jobject complete = NewObject("com/vexo/InitializeInfo");
    EXPECT_TRUE(CallInitialize(complete, &errors));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(CallsStartingWith("GetEnv").size(), requests);
    EXPECT_EQ(Read(complete).jvmdi, 1);
}

TEST_F(Initialize, AfterJvmOnLoadTheEarlyConnectionIsReported) {
    StartAgent("nojvmdi");
    const size_t requests = CallsStartingWith("GetEnv").size();
    Script().jniVersion = JNI_VERSION_1_2;
    jobject info = NewObject("com/vexo/InitializeInfo");
    std::string errors;
    EXPECT_TRUE(CallInitialize(info, &errors));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(CallsStartingWith("GetEnv").size(), requests);
    const Reported r = Read(info);
    EXPECT_EQ(r.jvmpi, 11);
    EXPECT_EQ(r.jvmdi, 0);
    EXPECT_FALSE(r.debugHook);
    EXPECT_TRUE(r.profileHook);
}
}  // namespace

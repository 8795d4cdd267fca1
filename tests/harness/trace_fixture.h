// A test fixture with the agent connected in debug mode to the scripted interfaces and, unless
// a test says otherwise, the test panel registered.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "tests/harness/java_objects.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        StartAgent("");
        env_ = TestEnv();
        if (RegistersPanel()) {
            Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr,
                                                           NewInstance(env_, "vexotest/Panel"));
        }
    }

    virtual bool RegistersPanel() const { return true; }

    // Builds a list of the trace points wanted (an entry without a name stands for a null
    // element), activates it and returns the Java trace point objects (null where it had none).
    std::vector<jobject> Activate(const std::vector<TracePointWanted>& list, int limit = 4096) {
        std::vector<jobject> points;
        for (const TracePointWanted& wanted : list) {
            points.push_back(wanted.name == nullptr && wanted.className == nullptr &&
                                     wanted.object == nullptr
                                 ? nullptr
                                 : NewTracePoint(env_, wanted));
        }
        ActivateList(NewTracePoints(env_, points, limit));
        return points;
    }

    std::string ActivateList(jobject list) {
        StderrCapture capture;
        Java_com_vexo_NativeApi_nativeActivateTracePoints(env_, nullptr, list);
        return capture.Finish();
    }

    bool Same(jobject a, jobject b) { return env_->IsSameObject(a, b) == JNI_TRUE; }

    JNIEnv* env_ = nullptr;
};

// The trace points the tests use most.
inline TracePointWanted ShapeArea() { return {0, nullptr, "vexotest.Shape", "area", "()D"}; }
inline TracePointWanted ShapeField(int kind, const char* name, const char* signature) {
    return {0x001 | kind, nullptr, "vexotest.Shape", name, signature};
}

// Stacks on trace point events, with the agent on the scripted interfaces: without a stack service
// (no JVMTI) the stack bit is written back clear; with one, the frames it captures come as
// StackTraceElements and count against the bank's byte bound.
#include <jni.h>

#include <string>
#include <vector>

#include "tests/harness/debug_events.h"
#include "tests/harness/trace_fixture.h"
#include "trace/event_bank.h"
#include "trace/stack_frames.h"
#include "trace/trace_flags.h"

namespace {
jmethodID g_area = nullptr;
jmethodID g_hidden = nullptr;
jmethodID g_native = nullptr;
int g_captures = 0;

// Three frames under the traced method: area at two places, a hidden frame, a native one.
int32_t ScriptedCapture(StackFrame* frames, int32_t depth) {
    ++g_captures;
    const StackFrame all[] = {{g_area, 0}, {g_area, 9}, {g_hidden, 3}, {g_native, -1}};
    int32_t n = 0;
    for (const StackFrame& f : all) {
        if (n < depth) frames[n++] = f;
    }
    return n;
}

bool ScriptedDescribe(JNIEnv*, jmethodID method, MethodFacts* facts) {
    facts->className = method == g_hidden ? "vexotest.Shape$$Lambda/0x1" : "vexotest.Shape";
    facts->methodName = method == g_area ? "area" : method == g_hidden ? "run" : "nativeWork";
    facts->sourceFile = method == g_hidden ? "" : "Shape.java";
    facts->hidden = method == g_hidden;
    facts->native = method == g_native;
    if (method == g_area) facts->lines = {{8, 12}, {2, 11}};  // unsorted: delivery sorts them
    return true;
}

class Stacks : public TraceTest {
protected:
    jmethodID Area() { return MethodOf(env_, "vexotest/Shape", "area", "()D"); }
    TracePointWanted AreaWithStack() { return {kStackTracePoint, nullptr, "vexotest.Shape", "area", "()D"}; }

    // "class.method(file:line)" of each element of an event's m_Stack; "null" for no stack.
    std::string StackOf(jobject event) {
        jclass eventClass = env_->GetObjectClass(event);
        auto stack = static_cast<jobjectArray>(env_->GetObjectField(
            event, env_->GetFieldID(eventClass, "m_Stack", "[Ljava/lang/StackTraceElement;")));
        if (stack == nullptr) return "null";
        jclass elementClass = env_->FindClass("java/lang/StackTraceElement");
        jmethodID text = env_->GetMethodID(elementClass, "toString", "()Ljava/lang/String;");
        std::string all;
        for (jsize i = 0; i < env_->GetArrayLength(stack); ++i) {
            auto s = static_cast<jstring>(env_->CallObjectMethod(env_->GetObjectArrayElement(stack, i), text));
            const char* chars = env_->GetStringUTFChars(s, nullptr);
            all += (i == 0 ? "" : " ") + std::string(chars);
            env_->ReleaseStringUTFChars(s, chars);
        }
        return all;
    }
};

TEST_F(Stacks, AskedForWhereNoneCanBeRecordedTheBitIsWrittenBackClearAndEventsAreAsBefore) {
    auto points = Activate({AreaWithStack()});
    EXPECT_EQ(TracePointFlags(env_, points[0]) & (kStackTracePoint | kArmedTracePoint), kArmedTracePoint);
    HitBreakpoint(env_, Area(), NewInstance(env_, "vexotest/Shape"));
    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(StackOf(d.events[0].event), "null");
}

TEST_F(Stacks, CapturedFramesComeNamedWithinTheDepthAndCountAgainstTheByteBound) {
    g_area = Area();
    g_hidden = MethodOf(env_, "vexotest/Shape", "toString", "()Ljava/lang/String;");
    g_native = MethodOf(env_, "vexotest/Shape", "hashCode", "()I");
    InstallStackService({ScriptedCapture, ScriptedDescribe});
    TracePointWanted shallow = AreaWithStack();
    auto points = Activate({shallow, {0x100, nullptr, "vexotest.Shape", "make", "()Lvexotest/Shape;"}});
    EXPECT_NE(TracePointFlags(env_, points[0]) & kStackTracePoint, 0) << "recorded: written back set";
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitBreakpoint(env_, Area(), shape);
    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    // Before the first line entry: the first line; the hidden frame left out; a native frame.
    EXPECT_EQ(StackOf(d.events[0].event),
              "vexotest.Shape.area(Shape.java:11) vexotest.Shape.area(Shape.java:12) "
              "vexotest.Shape.nativeWork(Native Method)");

    // The bound on a bank's bytes takes the frames too: one record of four frames fits, the
    // second is dropped and counted; a trace point that asks for no stack captures none.
    const int captures = g_captures;
    BoundRecording(100, 16 + 4 * 16, 0);
    HitBreakpoint(env_, Area(), shape);
    HitBreakpoint(env_, Area(), shape);
    d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    ASSERT_EQ(d.drops.size(), 1u);
    EXPECT_EQ(d.drops[0].second, 1);
    EXPECT_EQ(g_captures, captures + 2);
    BoundRecording(0, 0, 0);
    HitBreakpoint(env_, StaticMethodOf(env_, "vexotest/Shape", "make", "()Lvexotest/Shape;"), nullptr);
    d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(StackOf(d.events[0].event), "null");
    EXPECT_EQ(g_captures, captures + 2);
}
}  // namespace

// The debug interface over JVMTI, against a JVMTI table of the test's own: field watches and
// the JVMTI field events behind them, frames valid only while their event is handled, the
// values of modifications.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "agent/vm_events.h"
#include "bridge/debug_events.h"
#include "bridge/field_watch_gate.h"
#include "session/agent_options.h"
#include "bridge/jvmdi_bridge.h"
#include "bridge/jvmti_env.h"
#include "tests/harness/test_jvm.h"

namespace {
std::vector<std::string> g_calls;
std::set<jfieldID> g_watched[2];  // what the fake JVMTI holds, per kind
jobject g_localObject = nullptr;  // what GetLocalObject answers

void Log(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_calls.push_back(text);
}

// JVMTI's rules for watches: a second watch on a field is a duplicate, clearing an unwatched
// field finds nothing.
jvmtiError Watch(int kind, jfieldID field, bool set) {
    std::set<jfieldID>& held = g_watched[kind];
    if (set) return held.insert(field).second ? JVMTI_ERROR_NONE : JVMTI_ERROR_DUPLICATE;
    return held.erase(field) == 1 ? JVMTI_ERROR_NONE : JVMTI_ERROR_NOT_FOUND;
}

jvmtiError JNICALL FakeSetAccess(jvmtiEnv*, jclass, jfieldID f) { return Watch(0, f, true); }
jvmtiError JNICALL FakeClearAccess(jvmtiEnv*, jclass, jfieldID f) { return Watch(0, f, false); }
jvmtiError JNICALL FakeSetModification(jvmtiEnv*, jclass, jfieldID f) { return Watch(1, f, true); }
jvmtiError JNICALL FakeClearModification(jvmtiEnv*, jclass, jfieldID f) { return Watch(1, f, false); }

jvmtiError JNICALL FakeSetEventNotificationMode(jvmtiEnv*, jvmtiEventMode mode, jvmtiEvent event,
                                                jthread, ...) {
    Log("%s %s", mode == JVMTI_ENABLE ? "enable" : "disable",
        event == JVMTI_EVENT_FIELD_ACCESS ? "access" : event == JVMTI_EVENT_FIELD_MODIFICATION ? "modification" : "other");
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL FakeGetLocalObject(jvmtiEnv*, jthread, jint depth, jint slot, jobject* value) {
    Log("GetLocalObject depth %d slot %d", depth, slot);
    *value = TestEnv()->NewLocalRef(g_localObject);
    return JVMTI_ERROR_NONE;
}

jvmtiInterface_1 g_table;
_jvmtiEnv g_fakeJvmti;

class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        g_table = jvmtiInterface_1{};
        g_table.SetFieldAccessWatch = FakeSetAccess;
        g_table.ClearFieldAccessWatch = FakeClearAccess;
        g_table.SetFieldModificationWatch = FakeSetModification;
        g_table.ClearFieldModificationWatch = FakeClearModification;
        g_table.SetEventNotificationMode = FakeSetEventNotificationMode;
        g_table.GetLocalObject = FakeGetLocalObject;
        g_fakeJvmti.functions = &g_table;
        g_bridge.jvmti = &g_fakeJvmti;
        GateInit(&g_fakeJvmti);
        HandTheDebugInterfaceItsRoads();
        g_calls.clear();
        g_watched[0].clear();
        g_watched[1].clear();
    }

    JVMDI_Interface_1* jvmdi_ = BridgeJvmdi();
    jfieldID a_ = reinterpret_cast<jfieldID>(0x10);
    jfieldID b_ = reinterpret_cast<jfieldID>(0x20);
};

TEST_F(Bridge, FieldEventsAreOnOnlyWhileWantedAndSomeWatchIsSet) {
    jvmdi_->SetEventNotificationMode(JVMDI_ENABLE, JVMDI_EVENT_FIELD_ACCESS, nullptr);
    jvmdi_->SetEventNotificationMode(JVMDI_ENABLE, JVMDI_EVENT_FIELD_MODIFICATION, nullptr);
    EXPECT_TRUE(g_calls.empty()) << "no watch yet: the events (and the interpreter) stay off";

    jvmdi_->SetFieldAccessWatch(nullptr, a_);
    jvmdi_->SetFieldAccessWatch(nullptr, b_);
    jvmdi_->SetFieldModificationWatch(nullptr, a_);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"enable access", "enable modification"}));
    EXPECT_EQ(GateWatchCount(kAccessWatch), 2);

    g_calls.clear();
    jvmdi_->ClearFieldAccessWatch(nullptr, a_);
    EXPECT_TRUE(g_calls.empty()) << "one access watch is left";
    jvmdi_->ClearFieldAccessWatch(nullptr, b_);
    jvmdi_->ClearFieldModificationWatch(nullptr, a_);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"disable access", "disable modification"}));
    EXPECT_FALSE(GateEventOn(kAccessWatch));
    EXPECT_FALSE(GateEventOn(kModificationWatch));
}

TEST_F(Bridge, WatchesJvmtiRefusedAreNotCounted) {
    jvmdi_->SetEventNotificationMode(JVMDI_ENABLE, JVMDI_EVENT_FIELD_ACCESS, nullptr);
    EXPECT_EQ(jvmdi_->SetFieldAccessWatch(nullptr, a_), JVMDI_ERROR_NONE);
    EXPECT_EQ(jvmdi_->SetFieldAccessWatch(nullptr, a_), JVMDI_ERROR_DUPLICATE);
    EXPECT_EQ(GateWatchCount(kAccessWatch), 1);
    EXPECT_EQ(jvmdi_->ClearFieldAccessWatch(nullptr, a_), JVMDI_ERROR_NONE);
    EXPECT_FALSE(GateEventOn(kAccessWatch)) << "the duplicate kept the event on";
    EXPECT_EQ(jvmdi_->ClearFieldAccessWatch(nullptr, a_), JVMDI_ERROR_NOT_FOUND);
    EXPECT_EQ(GateWatchCount(kAccessWatch), 0);

    // The count did not go below zero: one new watch turns the event on again.
    jvmdi_->SetFieldAccessWatch(nullptr, b_);
    EXPECT_TRUE(GateEventOn(kAccessWatch));
}

TEST_F(Bridge, WatchesSetBeforeTheModeTakeEffectWhenItIsEnabledAndOffWhenDisabled) {
    jvmdi_->SetFieldModificationWatch(nullptr, a_);
    EXPECT_TRUE(g_calls.empty());
    jvmdi_->SetEventNotificationMode(JVMDI_ENABLE, JVMDI_EVENT_FIELD_MODIFICATION, nullptr);
    jvmdi_->SetEventNotificationMode(JVMDI_DISABLE, JVMDI_EVENT_FIELD_MODIFICATION, nullptr);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"enable modification", "disable modification"}));
}

TEST_F(Bridge, UnservedEventKindsCanBeSwitchedOffButNotOn) {
    EXPECT_EQ(jvmdi_->SetEventNotificationMode(JVMDI_DISABLE, JVMDI_EVENT_METHOD_ENTRY, nullptr),
              JVMDI_ERROR_NONE);
    EXPECT_EQ(jvmdi_->SetEventNotificationMode(JVMDI_ENABLE, JVMDI_EVENT_METHOD_ENTRY, nullptr),
              JVMDI_ERROR_NOT_IMPLEMENTED);
    EXPECT_EQ(jvmdi_->SetEventNotificationMode(JVMDI_ENABLE, 77, nullptr),
              JVMDI_ERROR_INVALID_EVENT_TYPE);
    EXPECT_EQ(jvmdi_->SetEventNotificationMode(5, JVMDI_EVENT_BREAKPOINT, nullptr),
              JVMDI_ERROR_ILLEGAL_ARGUMENT);
    EXPECT_TRUE(g_calls.empty());
}

// What the hook saw and got, per event, outermost first.
struct HookSight {
    jvmdiError frameResult;
    jframeID frame;
    jvmdiError localResult;
    bool gotReceiver;
};
std::vector<HookSight> g_sights;
bool g_nest = false;

void JNICALL RecordingHook(JNIEnv* env, JVMDI_Event* event) {
    JVMDI_Interface_1* jvmdi = BridgeJvmdi();
    HookSight sight{};
    sight.frameResult = jvmdi->GetCurrentFrame(event->u.breakpoint.thread, &sight.frame);
    if (g_nest) {  // an event raised by the hook's own work on this thread
        g_nest = false;
        BridgeOnBreakpoint(&g_fakeJvmti, env, nullptr, nullptr, 0);
    }
    jobject receiver = nullptr;
    sight.localResult = jvmdi->GetLocalObject(sight.frame, 0, &receiver);
    sight.gotReceiver = receiver != nullptr && env->IsSameObject(receiver, g_localObject);
    if (receiver != nullptr) env->DeleteGlobalRef(receiver);
    g_sights.push_back(sight);
}

TEST_F(Bridge, FramesAnswerTheReceiverOnlyWhileTheirEventIsHandled) {
    JNIEnv* env = TestEnv();
    g_localObject = env->NewGlobalRef(env->NewStringUTF("receiver"));
    g_bridge.debugHook.store(RecordingHook);
    g_nest = true;
    BridgeOnBreakpoint(&g_fakeJvmti, env, nullptr, nullptr, 0);
    g_bridge.debugHook.store(nullptr);

    ASSERT_EQ(g_sights.size(), 2u);
    const HookSight& inner = g_sights[0];
    const HookSight& outer = g_sights[1];
    EXPECT_EQ(inner.frameResult, JVMDI_ERROR_NONE);
    EXPECT_EQ(outer.frameResult, JVMDI_ERROR_NONE);
    EXPECT_NE(inner.frame, outer.frame);
    EXPECT_TRUE(inner.gotReceiver);
    EXPECT_TRUE(outer.gotReceiver) << "the outer frame is current again once the inner event ended";
    EXPECT_EQ(g_calls, (std::vector<std::string>{"GetLocalObject depth 0 slot 0",
                                                 "GetLocalObject depth 0 slot 0"}));

    // Outside any event there is no current frame, and an old frame is no longer valid.
    jframeID frame = nullptr;
    EXPECT_EQ(BridgeJvmdi()->GetCurrentFrame(nullptr, &frame), JVMDI_ERROR_THREAD_NOT_SUSPENDED);
    jobject receiver = nullptr;
    EXPECT_EQ(BridgeJvmdi()->GetLocalObject(outer.frame, 0, &receiver), JVMDI_ERROR_INVALID_FRAMEID);
    EXPECT_EQ(receiver, nullptr);
    env->DeleteGlobalRef(g_localObject);
}

TEST(BridgeValues, AModificationsValueKeepsOnlyTheBytesOfItsType) {
    jvalue dirty;
    dirty.j = 0x1122334455667701LL;
    EXPECT_EQ(CleanValue('Z', dirty).j, 0x01);
    EXPECT_EQ(CleanValue('B', dirty).j, 0x01);
    EXPECT_EQ(CleanValue('C', dirty).j, 0x7701);
    EXPECT_EQ(CleanValue('S', dirty).j, 0x7701);
    EXPECT_EQ(CleanValue('I', dirty).j, 0x55667701);
    EXPECT_EQ(CleanValue('J', dirty).j, dirty.j);
    EXPECT_EQ(CleanValue('D', dirty).j, dirty.j);
    EXPECT_EQ(CleanValue('L', dirty).l, dirty.l);
}
}  // namespace

// The bridge's words are whole words between commas: a trace point or a file name that holds
// one is not that word.
TEST(AgentOptions, WordsAreWholeAndValuesAreTheFirstOfTheirName) {
    const char* options = "method=p.X.breakpoints,output=/tmp/watches.txt,breakpoints,jar=a.jar,jar=b.jar";
    EXPECT_TRUE(HasOptionWord(options, "breakpoints"));
    EXPECT_FALSE(HasOptionWord(options, "watches"));
    EXPECT_FALSE(HasOptionWord("method=p.X.breakpoints", "breakpoints"));
    EXPECT_FALSE(HasOptionWord(nullptr, "breakpoints"));
    EXPECT_EQ(OptionValue(options, "jar"), "a.jar");
    EXPECT_EQ(OptionValue(options, "points"), "");
    EXPECT_TRUE(AsksForSession("nojvmdi,field=demo.Account.balance"));
    EXPECT_TRUE(AsksForSession("classes"));
    EXPECT_FALSE(AsksForSession("breakpoints,nojvmdi,classesX,jar=x"));
    EXPECT_FALSE(AsksForSession(nullptr));
}

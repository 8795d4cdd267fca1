// The profiler event dispatcher: the object table kept in step, class descriptors, counts and
// collected class names, and method entries reaching the recorder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "platform/heap.h"
#include "registry/class_descriptor.h"
#include "registry/class_names.h"
#include "registry/object_table.h"
#include "tests/harness/java_objects.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"
#include "trace/event_bank.h"
#include "trace/trace_flags.h"

namespace {
JVMPI_Event Alloc(jobjectID id, jobjectID classId, bool requested = false) {
    JVMPI_Event e = {};
    e.event_type = JVMPI_EVENT_OBJECT_ALLOC | (requested ? JVMPI_REQUESTED_EVENT : 0);
    e.u.obj_alloc.obj_id = id;
    e.u.obj_alloc.class_id = classId;
    return e;
}

JVMPI_Event ClassLoad(jobjectID classId, const char* name, JVMPI_Field* statics = nullptr,
                      jint staticCount = 0, jint interfaces = 0) {
    JVMPI_Event e = {};
    e.event_type = JVMPI_EVENT_CLASS_LOAD;
    e.u.class_load.class_id = classId;
    e.u.class_load.class_name = name;
    e.u.class_load.num_interfaces = interfaces;
    e.u.class_load.num_static_fields = staticCount;
    e.u.class_load.statics = statics;
    return e;
}

JVMPI_Event Simple(jint type, jobjectID id, jobjectID other = 0) {
    JVMPI_Event e = {};
    e.event_type = type;
    if ((type & ~JVMPI_REQUESTED_EVENT) == JVMPI_EVENT_OBJECT_MOVE) {
        e.u.obj_move.obj_id = id;
        e.u.obj_move.new_obj_id = other;
    } else {
        e.u.obj_free.obj_id = id;  // also class_unload.class_id: the same place
    }
    return e;
}

void Send(JVMPI_Event e) { SendProfilerEvent(&e); }

constexpr jobjectID kClassClass = 0x500;  // java.lang.Class: its own class
constexpr jobjectID kShapeClass = 0x508;

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        StartAgent("nojvmdi");
        env_ = TestEnv();
        ASSERT_TRUE(g_agent.profilerMode);
        // A requested allocation of a class object comes back with java.lang.Class as its class.
        Script().onRequestEvent = [](jint type, jobjectID id) {
            if (type == JVMPI_EVENT_OBJECT_ALLOC) Send(Alloc(id, kClassClass, true));
        };
    }

    const ObjectSlot& SlotFor(jobjectID id) { return *SlotOf(LookupObject(id)); }

    JNIEnv* env_ = nullptr;
};

TEST_F(Dispatch, AnAllocationEntersItsClassFirstAndAnObjectThatIsItsOwnClassPointsToItself) {
    Send(Alloc(0x2000, kShapeClass));
    EXPECT_EQ(CallsStartingWith("RequestEvent"),
              (std::vector<std::string>{"RequestEvent 4 0x508", "RequestEvent 4 0x500"}));
    const SlotHandle shape = LookupObject(kShapeClass);
    const SlotHandle classClass = LookupObject(kClassClass);
    ASSERT_NE(shape, 0);
    ASSERT_NE(classClass, 0);
    EXPECT_EQ(SlotFor(0x2000).classHandle.load(), shape);
    EXPECT_EQ(SlotFor(kShapeClass).classHandle.load(), classClass);
    EXPECT_EQ(SlotFor(kClassClass).classHandle.load(), classClass) << "its own class";
}

TEST_F(Dispatch, RequestedEventsAreHandledAlikeAndAPresentObjectIsLeftAsItIs) {
    Send(Alloc(0x2000, 0, true));
    const SlotHandle h = LookupObject(0x2000);
    ASSERT_NE(h, 0);
    EXPECT_EQ(SlotOf(h)->classHandle.load(), 0) << "class 0: no request, class handle 0";
    EXPECT_TRUE(CallsStartingWith("RequestEvent").empty());
    Send(Alloc(0x2000, kShapeClass, true));
    EXPECT_EQ(LookupObject(0x2000), h);
    EXPECT_EQ(SlotOf(h)->classHandle.load(), 0);
}

TEST_F(Dispatch, FreesAndMovesFollowTheObject) {
    Send(Alloc(0x2000, 0));
    const SlotHandle h = LookupObject(0x2000);
    Send(Simple(JVMPI_EVENT_OBJECT_MOVE | JVMPI_REQUESTED_EVENT, 0x2000, 0x3000));
    EXPECT_EQ(LookupObject(0x2000), 0);
    EXPECT_EQ(LookupObject(0x3000), h);
    Send(Simple(JVMPI_EVENT_OBJECT_FREE, 0x3000));
    EXPECT_EQ(LookupObject(0x3000), 0);
}

TEST_F(Dispatch, AClassLoadBuildsOneDescriptorCountsAndCollectsTheName) {
    JVMPI_Field statics[] = {{const_cast<char*>("a"), const_cast<char*>("I")},
                             {const_cast<char*>("b"), const_cast<char*>("J")},
                             {const_cast<char*>("c"), const_cast<char*>("Z")},
                             {const_cast<char*>("d"), const_cast<char*>("Ljava/lang/String;")}};
    ASSERT_TRUE(BeginCollectingClassNames(4));
    Send(ClassLoad(kShapeClass, "vexotest.Shape", statics, 4, 2));
    const ClassDescriptor* d = SlotFor(kShapeClass).descriptor.load();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->staticDataSize, 17);
    EXPECT_EQ(d->interfaceCount, 2);
    EXPECT_EQ(d->superHandle.load(), kSuperNotKnown);
    EXPECT_STREQ(d->name, "vexotest.Shape");
    EXPECT_EQ(reinterpret_cast<const char*>(d + 1), d->name) << "one allocation";

    Send(ClassLoad(kShapeClass, "renamed"));  // a second load keeps the descriptor
    EXPECT_EQ(SlotFor(kShapeClass).descriptor.load(), d);
    EXPECT_STREQ(d->name, "vexotest.Shape");
    EXPECT_EQ(Java_com_vexo_NativeApi_nativeGetClassesModificationCount(env_, nullptr), 2);
    EndCollectingClassNames();
    Send(ClassLoad(kShapeClass, "not collected"));
    size_t length = 0;
    const char* names = CollectedClassNames(&length);
    EXPECT_EQ(std::string(names, length), std::string("vexotest.Shape\0renamed\0", 23));
    DiscardClassNames();
}

TEST_F(Dispatch, ANamelessClassGetsAnEmptyNameAndNoStaticsGiveZero) {
    Send(ClassLoad(kShapeClass, nullptr));
    const ClassDescriptor* d = SlotFor(kShapeClass).descriptor.load();
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, "");
    EXPECT_EQ(d->staticDataSize, 0);
}

TEST_F(Dispatch, AClassObjectThatCannotBeEnteredIsReportedAndStillCounted) {
    Script().onRequestEvent = nullptr;  // the profiler delivers nothing
    StderrCapture capture;
    Send(ClassLoad(kShapeClass, "vexotest.Shape"));
    EXPECT_EQ(capture.Finish(), "ERROR: VexoDll failed to find object description\n");
    EXPECT_EQ(g_classModificationCount.load(), 1);
}

TEST_F(Dispatch, AFailedDescriptorAllocationIsReportedAndALaterLoadTriesAgain) {
    Send(Alloc(kShapeClass, kClassClass));
    MemFailAfter(1);
    StderrCapture capture;
    Send(ClassLoad(kShapeClass, "abc"));
    MemFailAfter(0);
    const size_t bytes = sizeof(ClassDescriptor) + 4;
    EXPECT_EQ(capture.Finish(),
              "ERROR: VexoDll failed to allocate " + std::to_string(bytes) + " bytes\n");
    EXPECT_EQ(SlotFor(kShapeClass).descriptor.load(), nullptr);
    Send(ClassLoad(kShapeClass, "abc"));
    EXPECT_NE(SlotFor(kShapeClass).descriptor.load(), nullptr);
}

TEST_F(Dispatch, TheNameBufferGrowsByExactly1024BytesAndFarEnoughForLongNames) {
    ASSERT_TRUE(BeginCollectingClassNames(10));
    Send(ClassLoad(kShapeClass, "123456789"));  // 10 bytes: fits exactly
    Send(ClassLoad(kShapeClass, "x"));          // needs 2 more: one growth step
    const std::string longName(3000, 'n');
    Send(ClassLoad(kShapeClass, longName.c_str()));
    size_t length = 0;
    const char* names = CollectedClassNames(&length);
    EXPECT_EQ(length, 10u + 2u + 3001u);
    EXPECT_EQ(std::string(names + 12), longName);
    DiscardClassNames();
}

TEST_F(Dispatch, UnloadsCountAndNothingHappensOutsideProfilerMode) {
    Send(Alloc(kShapeClass, kClassClass));
    Send(Simple(JVMPI_EVENT_CLASS_UNLOAD, kShapeClass));
    EXPECT_EQ(g_classModificationCount.load(), 1);
    EXPECT_NE(LookupObject(kShapeClass), 0) << "an unload leaves the slot to the class object's release";
    g_agent.profilerMode = false;
    Send(Simple(JVMPI_EVENT_CLASS_UNLOAD, kShapeClass));
    Send(Simple(JVMPI_EVENT_OBJECT_FREE, kShapeClass));
    EXPECT_EQ(g_classModificationCount.load(), 1);
    EXPECT_NE(LookupObject(kShapeClass), 0);
    g_agent.profilerMode = true;
}

// A method entry on an object of the trace point's own class is recorded with the object's
// slot handle and delivered as the Java object itself (JVMPI 1.1).
TEST_F(Dispatch, AMethodEntryReachesTheRecorderAndIsDeliveredAsTheObject) {
    Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr, NewInstance(env_, "vexotest/Panel"));
    jobject shapeClass = env_->FindClass("vexotest/Shape");
    const jobjectID classId = ProfilerIdOf(env_, shapeClass);
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const jobjectID shapeId = ProfilerIdOf(env_, shape);
    Script().onRequestEvent = [&](jint type, jobjectID id) {
        if (type != JVMPI_EVENT_OBJECT_ALLOC) return;
        Send(Alloc(id, id == shapeId ? classId : kClassClass, true));
    };
    jobject point = NewTracePoint(env_, {0, nullptr, "vexotest.Shape", "area", "()D"});
    Java_com_vexo_NativeApi_nativeActivateTracePoints(env_, nullptr,
                                                     NewTracePoints(env_, {point}, 100));
    EXPECT_TRUE(g_agent.profilerEventsEnabled.load()) << "activation enables the events";
    EXPECT_EQ(TracePointFlags(env_, point), kArmedTracePoint);
    EXPECT_TRUE(ArmingCalls().empty()) << "nothing is armed through the debugger";

    JVMPI_Event entry = {};
    entry.event_type = JVMPI_EVENT_METHOD_ENTRY2;
    entry.u.method_entry2.method_id = MethodOf(env_, "vexotest/Shape", "area", "()D");
    entry.u.method_entry2.obj_id = shapeId;
    SendProfilerEvent(&entry);
    const EventBank& bank = g_recording.banks[g_recording.currentBank];
    ASSERT_EQ(bank.eventCount, 1);
    EXPECT_EQ(bank.head->records[0].flags, kSlotSubject);
    EXPECT_EQ(bank.head->records[0].subject,
              static_cast<uintptr_t>(static_cast<uint32_t>(LookupObject(shapeId))));

    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_TRUE(env_->IsSameObject(d.events[0].subject, shape));
    EXPECT_TRUE(env_->IsSameObject(d.events[0].tracePoint, point));
}
}  // namespace

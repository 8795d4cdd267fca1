// The heap dump walker: record lengths, class records, name collection, cancellation, and the
// super classes that let profiler-mode tracing accept subclass instances.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "heap/heap_dump_walker.h"
#include "registry/class_descriptor.h"
#include "registry/class_names.h"
#include "registry/object_table.h"
#include "tests/harness/heap_dump_builder.h"
#include "tests/harness/java_objects.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"
#include "trace/event_bank.h"
#include "trace/trace_flags.h"

namespace {
struct ClassInfo {
    const char* name;
    jobjectID super;
    int interfaces;
    std::vector<JVMPI_Field> statics;
};

constexpr jobjectID kClassClass = 0x500;

class HeapWalk : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        StartAgent("nojvmdi");
        env_ = TestEnv();
        Script().onRequestEvent = [this](jint type, jobjectID id) { Answer(type, id); };
    }

    // The scripted profiler: allocations, class loads and class object dumps for known ids.
    void Answer(jint type, jobjectID id) {
        JVMPI_Event e = {};
        e.event_type = type | JVMPI_REQUESTED_EVENT;
        auto known = classes_.find(id);
        if (type == JVMPI_EVENT_OBJECT_ALLOC) {
            e.u.obj_alloc.obj_id = id;
            auto instance = instanceClass_.find(id);
            e.u.obj_alloc.class_id = instance != instanceClass_.end() ? instance->second : kClassClass;
        } else if (type == JVMPI_EVENT_CLASS_LOAD && known != classes_.end()) {
            e.u.class_load.class_id = id;
            e.u.class_load.class_name = known->second.name;
            e.u.class_load.num_interfaces = known->second.interfaces;
            e.u.class_load.num_static_fields = static_cast<jint>(known->second.statics.size());
            e.u.class_load.statics = known->second.statics.data();
        } else if (type == JVMPI_EVENT_OBJECT_DUMP && known != classes_.end()) {
            objectDump_ = Dump();
            objectDump_.Class(id, known->second.super, known->second.interfaces, 1, 0);
            e.u.object_dump.data = objectDump_.bytes.data();
            e.u.object_dump.data_len = static_cast<jint>(objectDump_.bytes.size());
        } else {
            return;  // the profiler knows nothing of it
        }
        SendProfilerEvent(&e);
    }

    const ClassDescriptor* DescriptorOf(jobjectID id) {
        const ObjectSlot* slot = SlotOf(LookupObject(id));
        return slot == nullptr ? nullptr : slot->descriptor.load();
    }

    std::string Names() {
        size_t length = 0;
        const char* names = CollectedClassNames(&length);
        return std::string(names == nullptr ? "" : names, length);
    }

    JNIEnv* env_ = nullptr;
    std::map<jobjectID, ClassInfo> classes_;
    std::map<jobjectID, jobjectID> instanceClass_;
    Dump objectDump_;
};

TEST_F(HeapWalk, AnEmptyDumpWalksNothingAndCollectsNoName) {
    Dump dump;
    HandleHeapDump(2, dump.Begin(), dump.End());
    EXPECT_EQ(g_heapWalk.classDumpCount, 0);
    size_t length = 7;
    EXPECT_NE(CollectedClassNames(&length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(HeapWalk, RootsArraysAndInstancesHaveTheirLengths) {
    Dump dump;
    const size_t rootLengths[] = {9, 13, 13, 9, 5, 9, 5, 5};
    for (unsigned tag = 1; tag <= 8; ++tag) dump.Root(tag, rootLengths[tag - 1]);
    dump.Root(0xFF, 5);
    dump.PrimArray(1, 3, JVMPI_LONG, 24).PrimArray(2, 5, JVMPI_BOOLEAN, 5);
    dump.Instance(3, 4, 16);
    dump.Byte(JVMPI_GC_OBJ_ARRAY_DUMP).Id(5).U4(2).Id(6).Id(7).Id(8);
    const size_t expected[] = {9, 13, 13, 9, 5, 9, 5, 5, 5, 34, 15, 29, 21};
    const char* at = dump.Begin();
    int32_t classes = 0;
    for (size_t length : expected) {
        const char* next = ParseDumpRecord(at, dump.End(), &classes);
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(static_cast<size_t>(next - at), length) << "tag " << (at[0] & 0xff);
        at = next;
    }
    EXPECT_EQ(at, dump.End());
    WalkHeapDump(dump.Begin(), static_cast<int32_t>(dump.bytes.size()), &classes);
    EXPECT_EQ(classes, 0);
    EXPECT_EQ(g_heapWalk.progressDone.load(), static_cast<int32_t>(dump.bytes.size() - 21));
}

TEST_F(HeapWalk, StrayBytesAreSteppedOverOneAtATimeAndBadRecordsEndTheWalk) {
    Dump dump;
    dump.Byte(0x00).Byte(0x30);
    int32_t classes = 0;
    EXPECT_EQ(ParseDumpRecord(dump.Begin(), dump.End(), &classes), dump.Begin() + 1);
    EXPECT_EQ(ParseDumpRecord(dump.Begin() + 1, dump.End(), &classes), dump.Begin() + 2);
    Dump badType;
    badType.PrimArray(1, 1, 12, 8);
    EXPECT_EQ(ParseDumpRecord(badType.Begin(), badType.End(), &classes), nullptr);
    Dump cut;
    cut.Byte(JVMPI_GC_INSTANCE_DUMP).Id(1);  // the count lies past the end
    EXPECT_EQ(ParseDumpRecord(cut.Begin(), cut.End(), &classes), nullptr);
}

TEST_F(HeapWalk, AClassRecordIsSteppedWithItsDescriptorAndGetsItsSuperClass) {
    JVMPI_Field ints[] = {{nullptr, const_cast<char*>("I")}, {nullptr, const_cast<char*>("I")},
                          {nullptr, const_cast<char*>("I")}};
    classes_[0x600] = {"Base", 0, 0, {}};
    classes_[0x608] = {"Derived", 0x600, 2, {ints, ints + 3}};
    Dump dump;
    dump.Class(0x608, 0x600, 2, 3, 12).Class(0x600, 0, 0, 0, 0);
    int32_t classes = 0;
    const char* next = ParseDumpRecord(dump.Begin(), dump.End(), &classes);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next - dump.Begin(), 76);
    EXPECT_EQ(classes, 1);
    ASSERT_NE(DescriptorOf(0x608), nullptr);
    EXPECT_EQ(DescriptorOf(0x608)->superHandle.load(), LookupObject(0x600));
    EXPECT_EQ(ParseDumpRecord(next, dump.End(), &classes), dump.End());
    EXPECT_EQ(DescriptorOf(0x600)->superHandle.load(), 0) << "no super class";
}

TEST_F(HeapWalk, AClassWithoutDescriptorEndsTheWalkWithAMessage) {
    classes_[0x600] = {"Known", 0, 0, {}};
    Dump dump;
    dump.Class(0x600, 0, 0, 0, 0).Class(0x700, 0, 0, 0, 0).Class(0x600, 0, 0, 0, 0);
    StderrCapture capture;
    HandleHeapDump(2, dump.Begin(), dump.End());
    EXPECT_EQ(capture.Finish(), "ERROR: unexpected object type");
    EXPECT_EQ(g_heapWalk.classDumpCount, 1);
    EXPECT_EQ(Names(), std::string("Known\0", 6));
}

TEST_F(HeapWalk, AHeapDumpEventCollectsTheNamesOfItsClassesAndCountsThem) {
    classes_[0x600] = {"java.lang.Object", 0, 0, {}};
    classes_[0x608] = {"vexotest.Shape", 0x600, 0, {}};
    Dump dump;
    dump.Root(JVMPI_GC_ROOT_STICKY_CLASS, 5).Class(0x600, 0, 0, 2, 0).Instance(0x900, 0x608, 8);
    dump.Class(0x608, 0x600, 0, 0, 0);
    JVMPI_Event e = {};
    e.event_type = JVMPI_EVENT_HEAP_DUMP | JVMPI_REQUESTED_EVENT;
    e.u.heap_dump.dump_level = 2;
    e.u.heap_dump.begin = const_cast<char*>(dump.Begin());
    e.u.heap_dump.end = const_cast<char*>(dump.End());
    SendProfilerEvent(&e);
    EXPECT_EQ(g_heapWalk.classDumpCount, 2);
    EXPECT_EQ(Names(), std::string("java.lang.Object\0vexotest.Shape\0", 32));
    EXPECT_EQ(g_heapWalk.classCountAtDump, 2);
    EXPECT_EQ(g_heapWalk.classCountAtDump, g_classModificationCount.load());
}

TEST_F(HeapWalk, CancellationStopsTheWalkBeforeTheNextRecord) {
    classes_[0x600] = {"First", 0, 0, {}};
    classes_[0x608] = {"Second", 0, 0, {}};
    Dump dump;
    dump.Class(0x600, 0, 0, 0, 0).Class(0x608, 0, 0, 0, 0);
    g_heapWalk.cancelRequested = true;
    HandleHeapDump(2, dump.Begin(), dump.End());
    EXPECT_EQ(g_heapWalk.classDumpCount, 0);
    g_heapWalk.cancelRequested = false;
    // A request made while the first class loads stands for another thread's cancel.
    Script().onRequestEvent = [this](jint type, jobjectID id) {
        Answer(type, id);
        if (type == JVMPI_EVENT_CLASS_LOAD) g_heapWalk.cancelRequested = true;
    };
    HandleHeapDump(2, dump.Begin(), dump.End());
    EXPECT_EQ(g_heapWalk.classDumpCount, 1);
    EXPECT_EQ(Names(), std::string("First\0", 6));
    g_heapWalk.cancelRequested = false;
}

// With super classes learnt from object dumps, a method entry on an instance of a subclass is
// recorded and one on an unrelated class is not.
TEST_F(HeapWalk, ProfilerModeTracingAcceptsSubclassInstancesThroughTheClassChain) {
    Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr, NewInstance(env_, "vexotest/Panel"));
    auto idOf = [&](const char* name) { return ProfilerIdOf(env_, env_->FindClass(name)); };
    const jobjectID object = idOf("java/lang/Object");
    const jobjectID shape = idOf("vexotest/Shape");
    const jobjectID circle = idOf("vexotest/Circle");
    const jobjectID unrelated = idOf("vexotest/Unrelated");
    classes_[object] = {"java.lang.Object", 0, 0, {}};
    classes_[shape] = {"vexotest.Shape", object, 0, {}};
    classes_[circle] = {"vexotest.Circle", shape, 0, {}};
    classes_[unrelated] = {"vexotest.Unrelated", object, 0, {}};
    const jobjectID aCircle = ProfilerIdOf(env_, NewInstance(env_, "vexotest/Circle"));
    const jobjectID anUnrelated = ProfilerIdOf(env_, NewInstance(env_, "vexotest/Unrelated"));
    instanceClass_[aCircle] = circle;
    instanceClass_[anUnrelated] = unrelated;

    jobject point = NewTracePoint(env_, {0, nullptr, "vexotest.Shape", "area", "()D"});
    Java_com_vexo_NativeApi_nativeActivateTracePoints(env_, nullptr, NewTracePoints(env_, {point}, 100));
    const jmethodID area = MethodOf(env_, "vexotest/Shape", "area", "()D");
    auto enter = [&](jobjectID receiver) {
        JVMPI_Event e = {};
        e.event_type = JVMPI_EVENT_METHOD_ENTRY2;
        e.u.method_entry2.method_id = area;
        e.u.method_entry2.obj_id = receiver;
        SendProfilerEvent(&e);
    };
    StderrCapture capture;
    enter(anUnrelated);
    enter(aCircle);
    EXPECT_EQ(capture.Finish(), "") << "reaching the top of the chain is no error";
    const EventBank& bank = g_recording.banks[g_recording.currentBank];
    ASSERT_EQ(bank.eventCount, 1);
    EXPECT_EQ(bank.head->records[0].flags, kSlotSubject);
    EXPECT_EQ(bank.head->records[0].subject,
              static_cast<uintptr_t>(static_cast<uint32_t>(LookupObject(aCircle))));
    EXPECT_EQ(DescriptorOf(circle)->superHandle.load(), LookupObject(shape));
}
}  // namespace

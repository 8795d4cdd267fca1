// The listing methods: classes through the debugger or a heap dump, objects, handle conversion,
// progress and cancellation.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "heap/heap_dump_walker.h"
#include "registry/class_names.h"
#include "registry/object_table.h"
#include "tests/harness/heap_dump_builder.h"
#include "tests/harness/java_objects.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"

namespace {
struct Listing {
    jobject objects;
    jint count;
    bool filtered;
    jint modificationCount;
};

class ListingTest : public ::testing::Test {
protected:
    void Start(const char* options) {
        ExpectFreshProcess();
        StartAgent(options);
        env_ = TestEnv();
    }

    Listing Read(jobject result) {
        jclass c = env_->GetObjectClass(result);
        return {env_->GetObjectField(result, env_->GetFieldID(c, "m_Objects", "Ljava/lang/Object;")),
                env_->GetIntField(result, env_->GetFieldID(c, "m_iActualCount", "I")),
                env_->GetBooleanField(result, env_->GetFieldID(c, "m_bFiltered", "Z")) == JNI_TRUE,
                env_->GetIntField(result, env_->GetFieldID(c, "m_iModificationCount", "I"))};
    }

    Listing Classes() {
        jobject result = NewInstance(env_, "com/vexo/ReturnObjectArray");
        env_->SetIntField(result, FieldOf(env_, "com/vexo/ReturnObjectArray", "m_iModificationCount", "I"), -1);
        Java_com_vexo_NativeApi_nativeGetClasses(env_, nullptr, result);
        return Read(result);
    }

    Listing Objects() {
        jobject result = NewInstance(env_, "com/vexo/ReturnObjectArray");
        env_->SetIntField(result, FieldOf(env_, "com/vexo/ReturnObjectArray", "m_iModificationCount", "I"), -1);
        Java_com_vexo_NativeApi_nativeGetObjects(env_, nullptr, nullptr, result);
        return Read(result);
    }

    std::string Bytes(jobject array) {
        auto bytes = static_cast<jbyteArray>(array);
        std::string text(static_cast<size_t>(env_->GetArrayLength(bytes)), '\0');
        env_->GetByteArrayRegion(bytes, 0, static_cast<jsize>(text.size()),
                                 reinterpret_cast<jbyte*>(&text[0]));
        return text;
    }

    // The scripted profiler answers heap dumps with `dump_` and class loads from `names_`.
    void AnswerDumps() {
        Script().onRequestEvent = [this](jint type, jobjectID id) {
            JVMPI_Event e = {};
            e.event_type = type | JVMPI_REQUESTED_EVENT;
            if (type == JVMPI_EVENT_HEAP_DUMP) {
                e.u.heap_dump.dump_level = 2;
                e.u.heap_dump.begin = const_cast<char*>(dump_.Begin());
                e.u.heap_dump.end = const_cast<char*>(dump_.End());
            } else if (type == JVMPI_EVENT_OBJECT_ALLOC) {
                e.u.obj_alloc.obj_id = id;
            } else if (type == JVMPI_EVENT_CLASS_LOAD && names_.count(id) != 0) {
                e.u.class_load.class_id = id;
                e.u.class_load.class_name = names_[id];
                if (cancelAtLoad_) Java_com_vexo_NativeApi_nativeGetProgress(env_, nullptr, JNI_TRUE, 100);
            } else {
                return;
            }
            SendProfilerEvent(&e);
        };
    }

    JNIEnv* env_ = nullptr;
    Dump dump_;
    std::map<jobjectID, const char*> names_;
    bool cancelAtLoad_ = false;
};

TEST_F(ListingTest, TheDebuggerListsClassObjectsAndItsReferencesAreReleased) {
    Script().loadedClasses = {"java/lang/String", "vexotest/Shape"};
    Start("");
    Classes();  // class loading on first use makes global references of its own
    const long globals = LiveGlobalRefs();
    Listing l = Classes();
    EXPECT_EQ(LiveGlobalRefs(), globals) << "the debugger's class references were kept";
    EXPECT_EQ(l.count, 2);
    EXPECT_FALSE(l.filtered);
    EXPECT_EQ(l.modificationCount, g_classModificationCount.load());
    auto array = static_cast<jobjectArray>(l.objects);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(env_->GetArrayLength(array), 2);
    EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(array, 0), env_->FindClass("java/lang/String")));
    EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(array, 1), env_->FindClass("vexotest/Shape")));
    EXPECT_EQ(CallsStartingWith("Deallocate").size(), 2u);
}

TEST_F(ListingTest, InDebugModeAFailedDebuggerListingAndAnObjectListingAnswerNullWithoutTheProfiler) {
    Script().getLoadedClassesResult = JVMDI_ERROR_INTERNAL;
    Start("");
    Listing l = Classes();
    EXPECT_EQ(l.objects, nullptr);
    EXPECT_EQ(l.count, 0);
    EXPECT_EQ(l.modificationCount, 0);
    // Debug mode ignores every profiler event, so the dump is not asked for and the events,
    // which would stay on for the rest of the run, are left off.
    EXPECT_TRUE(CallsStartingWith("RequestEvent").empty());
    EXPECT_TRUE(CallsStartingWith("EnableEvent").empty());
    EXPECT_FALSE(g_agent.profilerEventsEnabled.load());
    Listing o = Objects();
    EXPECT_EQ(o.objects, nullptr);
    EXPECT_EQ(o.count, 0);
    EXPECT_FALSE(o.filtered);
    EXPECT_TRUE(CallsStartingWith("EnableEvent").empty()) << "an object listing enabled the events";
}

TEST_F(ListingTest, TheProfilerListsTheClassNamesOfAHeapDump) {
    Start("nojvmdi");
    names_ = {{0x600, "java.lang.Object"}, {0x608, "vexotest.Shape"}};
    dump_.Root(JVMPI_GC_ROOT_STICKY_CLASS, 5).Class(0x600, 0, 0, 0, 0).Class(0x608, 0x600, 0, 1, 0);
    AnswerDumps();
    Listing l = Classes();
    EXPECT_EQ(Bytes(l.objects), std::string("java.lang.Object\0vexotest.Shape\0", 32));
    EXPECT_EQ(l.count, 2);
    EXPECT_EQ(l.modificationCount, g_heapWalk.classCountAtDump);
    EXPECT_EQ(l.modificationCount, Java_com_vexo_NativeApi_nativeGetClassesModificationCount(env_, nullptr));
    size_t left = 0;
    EXPECT_EQ(CollectedClassNames(&left), nullptr) << "the name storage was not freed";
    Listing o = Objects();
    EXPECT_EQ(Bytes(o.objects), Bytes(l.objects)) << "objects answer with the class listing";
    EXPECT_EQ(o.modificationCount, -1) << "the object listing writes no modification count";
}

TEST_F(ListingTest, ACancelEndsTheWalkAndStaysForTheObjectListingUntilCleared) {
    Start("nojvmdi");
    names_ = {{0x600, "First"}, {0x608, "Second"}};
    dump_.Class(0x600, 0, 0, 0, 0).Class(0x608, 0, 0, 0, 0);
    AnswerDumps();
    cancelAtLoad_ = true;  // stands for nativeGetProgress(true) on another thread
    Listing l = Classes();
    EXPECT_EQ(Bytes(l.objects), std::string("First\0", 6));
    EXPECT_EQ(l.count, 1);
    cancelAtLoad_ = false;
    Listing o = Objects();
    EXPECT_EQ(o.count, 0) << "the object listing clears no cancel";
    EXPECT_EQ(Bytes(o.objects), "");
    EXPECT_EQ(Classes().count, 2) << "the class listing starts with the cancel cleared";
    for (jint scale : {0, 1, 100, 1 << 30}) {
        EXPECT_EQ(Java_com_vexo_NativeApi_nativeGetProgress(env_, nullptr, JNI_FALSE, scale), 0);
    }
}

TEST_F(ListingTest, WithoutAProfilerObjectsAreOneNullElementAndHandlesAreNotConverted) {
    Start("nojvmpi");
    Listing o = Objects();
    EXPECT_TRUE(o.filtered);
    EXPECT_EQ(o.count, 0);
    auto array = static_cast<jobjectArray>(o.objects);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(env_->GetArrayLength(array), 1);
    EXPECT_EQ(env_->GetObjectArrayElement(array, 0), nullptr);
    jintArray ids = env_->NewIntArray(1);
    jobjectArray out = env_->NewObjectArray(1, env_->FindClass("java/lang/Object"), nullptr);
    EXPECT_FALSE(Java_com_vexo_NativeApi_nativeConvertObjectIDs(env_, nullptr, ids, 0, 1, out, 0));
}

TEST_F(ListingTest, HandlesConvertToObjectsWithinTheirRangesOnly) {
    Start("nojvmdi");
    AnswerDumps();
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const jobjectID id = ProfilerIdOf(env_, shape);
    const SlotHandle h = InsertObject(id, 0, 0);
    const jint handles[] = {h, 0, h};
    jintArray ids = env_->NewIntArray(3);
    env_->SetIntArrayRegion(ids, 0, 3, handles);
    jclass objectClass = env_->FindClass("java/lang/Object");
    jobjectArray out = env_->NewObjectArray(4, objectClass, shape);
    auto convert = [&](jint first, jint count, jint at) {
        return Java_com_vexo_NativeApi_nativeConvertObjectIDs(env_, nullptr, ids, first, count, out, at) == JNI_TRUE;
    };
    EXPECT_FALSE(convert(-1, 1, 0));
    EXPECT_FALSE(convert(1, 3, 0)) << "one past the identifiers";
    EXPECT_FALSE(convert(0, 3, 2)) << "past the destination";
    EXPECT_TRUE(convert(0, 0, 0));
    EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(out, 0), shape)) << "count 0 wrote";
    EXPECT_TRUE(convert(0, 3, 1));
    EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(out, 1), shape));
    EXPECT_EQ(env_->GetObjectArrayElement(out, 2), nullptr) << "handle 0 gives null";
    EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(out, 3), shape));
    EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(ListingTest, AFreedSlotConvertsToNullNotToWhatItsFreeListLinkWouldName) {
    Start("nojvmdi");
    jobject first = NewInstance(env_, "vexotest/Shape");
    jobject second = NewInstance(env_, "vexotest/Circle");
    const SlotHandle h1 = InsertObject(ProfilerIdOf(env_, first), 0, 0);
    const SlotHandle h2 = InsertObject(ProfilerIdOf(env_, second), 0, 0);
    ReleaseObject(ProfilerIdOf(env_, second));
    ReleaseObject(ProfilerIdOf(env_, first));  // its slot's word now links to h2's slot
    // An object whose identifier equals that link: read as an identifier, the link names it.
    jobject bystander = NewInstance(env_, "vexotest/Shape");
    ASSERT_NE(SlotOf(h1)->objectId.load(), 0);
    ForceProfilerId(env_, bystander, static_cast<jobjectID>(SlotOf(h1)->objectId.load()));
    const jint handles[] = {h1, h2};
    jintArray ids = env_->NewIntArray(2);
    env_->SetIntArrayRegion(ids, 0, 2, handles);
    jobjectArray out = env_->NewObjectArray(2, env_->FindClass("java/lang/Object"), first);
    EXPECT_TRUE(Java_com_vexo_NativeApi_nativeConvertObjectIDs(env_, nullptr, ids, 0, 2, out, 0));
    EXPECT_EQ(env_->GetObjectArrayElement(out, 0), nullptr) << "a free slot named an object";
    EXPECT_EQ(env_->GetObjectArrayElement(out, 1), nullptr);
}

TEST_F(ListingTest, AResultClassWithoutTheCountIsFilledAndOneWithoutItsArrayIsReported) {
    Script().loadedClasses = {"java/lang/String"};
    Start("");
    jobject partial = NewInstance(env_, "vexotest/ReturnObjectArrayWithoutCount");
    Java_com_vexo_NativeApi_nativeGetClasses(env_, nullptr, partial);
    EXPECT_FALSE(env_->ExceptionCheck()) << "the optional field's lookup left an exception";
    EXPECT_EQ(env_->GetIntField(partial, FieldOf(env_, "vexotest/ReturnObjectArrayWithoutCount", "m_iActualCount", "I")), 1);
    jobject wrong = NewInstance(env_, "vexotest/Panel");
    StderrCapture capture;
    Java_com_vexo_NativeApi_nativeGetClasses(env_, nullptr, wrong);
    EXPECT_EQ(capture.Finish(), "ERROR: VexoDll failed to access fields in ReturnObjectArray\n");
    env_->ExceptionClear();
}
}  // namespace

// Trace point activation: resolving, arming, replacing and writing back.
#include "tests/harness/trace_fixture.h"
#include "trace/event_bank.h"
#include "trace/table_readers.h"
#include "trace/trace_points.h"

namespace {
std::string Hex(const char* call, void* member, const char* tail = "") {
    char text[128];
    std::snprintf(text, sizeof text, "%s %p%s", call, member, tail);
    return text;
}

class Activation : public TraceTest {
protected:
    jclass ClassOfEntry(int i) { return reinterpret_cast<jclass>(g_tracePoints.entries[i].classRef); }
};

TEST_F(Activation, AListArmsItsTracePointsAndAnEmptyListDisarmsThemAndSetsTheLimit) {
    const jmethodID area = MethodOf(env_, "vexotest/Shape", "area", "()D");
    const jfieldID count = FieldOf(env_, "vexotest/Shape", "count", "I");
    const long globalsBefore = LiveGlobalRefs();
    auto points = Activate({ShapeArea(), ShapeField(0x10, "count", "I")}, 100);
    EXPECT_EQ(ArmingCalls(),
              (std::vector<std::string>{Hex("SetBreakpoint", area, " 0"),
                                        Hex("SetFieldAccessWatch", count),
                                        Hex("SetFieldModificationWatch", count)}));
    ASSERT_EQ(g_tracePoints.count, 2);
    EXPECT_EQ(g_recording.recordingLimit.load(), 100);
    EXPECT_EQ(TracePointFlags(env_, points[0]), 0x004);
    EXPECT_EQ(TracePointFlags(env_, points[1]), 0x015);
    EXPECT_EQ(LiveGlobalRefs() - globalsBefore, 5)
        << "a class and a trace point reference each, and the field's declaring class";

    EXPECT_EQ(ActivateList(NewTracePoints(env_, {}, 7)), "");
    EXPECT_EQ(CallsStartingWith("Clear"),
              (std::vector<std::string>{Hex("ClearBreakpoint", area, " 0"),
                                        Hex("ClearFieldAccessWatch", count),
                                        Hex("ClearFieldModificationWatch", count)}));
    EXPECT_EQ(g_tracePoints.count, 0);
    EXPECT_EQ(g_tracePoints.entries, nullptr);
    EXPECT_EQ(g_recording.recordingLimit.load(), 7);
    // The class references are gone; the trace point references wait for two deliveries.
    EXPECT_EQ(LiveGlobalRefs() - globalsBefore, 2);
}

// A hit that found its entry in the published table before the lock may still use the entry's
// class references after a new activation replaced the table: they are deleted only once no
// thread reads that table, at the next activation or delivery after the read ended.
TEST_F(Activation, AReplacedTablesClassReferencesOutliveAReadInFlight) {
    const jmethodID area = MethodOf(env_, "vexotest/Shape", "area", "()D");
    const long globalsBefore = LiveGlobalRefs();
    Activate({ShapeArea()}, 100);
    ASSERT_NE(BeginTableRead(), 0u);
    const void* table = nullptr;
    const TracePointEntry* entry = FindPublishedTracePoint(env_, area, nullptr, &table);
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(ActivateList(NewTracePoints(env_, {}, 7)), "");
    EXPECT_EQ(LiveGlobalRefs() - globalsBefore, 2) << "the class reference is kept for the read";
    EXPECT_TRUE(env_->IsInstanceOf(NewInstance(env_, "vexotest/Shape"), reinterpret_cast<jclass>(entry->classRef)));
    EXPECT_FALSE(PublishedTableCurrentLocked(table));
    EndTableRead();
    EXPECT_EQ(ActivateList(NewTracePoints(env_, {}, 7)), "");
    EXPECT_EQ(LiveGlobalRefs() - globalsBefore, 1) << "the read is over: the class reference goes";
    EXPECT_EQ(FindPublishedTracePoint(env_, area, nullptr, &table), nullptr);
}

TEST_F(Activation, AnAllNullListLooksNothingUpAndReportsNothing) {
    EXPECT_EQ(ActivateList(NewTracePoints(env_, {nullptr, nullptr}, 5)), "");
    EXPECT_EQ(g_tracePoints.count, 0);
    EXPECT_TRUE(ArmingCalls().empty());
    EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(Activation, ANullArrayCountsAsAnEmptyList) {
    Activate({ShapeArea()});
    jobject list = NewTracePoints(env_, {}, 9);
    jclass c = env_->GetObjectClass(list);
    env_->SetObjectField(list, env_->GetFieldID(c, "m_TracePoints", "[Lcom/vexo/TracePoints$TracePoint;"),
                         nullptr);
    EXPECT_EQ(ActivateList(list), "");
    EXPECT_EQ(g_tracePoints.count, 0);
    EXPECT_EQ(CallsStartingWith("ClearBreakpoint").size(), 1u);
    EXPECT_EQ(g_recording.recordingLimit.load(), 9);
}

TEST_F(Activation, NullElementsLeaveNoGapBetweenEntries) {
    auto points = Activate({{}, ShapeArea(), {}, ShapeField(0x10, "count", "I"), {}});
    ASSERT_EQ(g_tracePoints.count, 2);
    EXPECT_TRUE(Same(g_tracePoints.entries[0].tracePointRef, points[1]));
    EXPECT_TRUE(Same(g_tracePoints.entries[1].tracePointRef, points[3]));
    EXPECT_EQ(g_tracePoints.entries[2].memberId, nullptr) << "unused places stay zero";
}

TEST_F(Activation, DotsAndSlashesNameTheSameClassAndNestedClassesTakeADollar) {
    auto points = Activate({{0, nullptr, "vexotest.Shape", "area", "()D"},
                            {0, nullptr, "vexotest/Shape", "area", "()D"},
                            {0, nullptr, "vexotest.Shape$Corner", "move", "()V"}});
    ASSERT_EQ(g_tracePoints.count, 3);
    EXPECT_EQ(g_tracePoints.entries[0].memberId, g_tracePoints.entries[1].memberId);
    EXPECT_TRUE(Same(ClassOfEntry(0), ClassOfEntry(1)));
    EXPECT_EQ(g_tracePoints.entries[2].memberId,
              MethodOf(env_, "vexotest/Shape$Corner", "move", "()V"));
}

TEST_F(Activation, TheObjectsClassWinsOverTheClassName) {
    jobject circle = NewInstance(env_, "vexotest/Circle");
    auto points = Activate({{0x001 | 0x40, circle, "vexotest.Unrelated", "radius", "D"}});
    ASSERT_EQ(g_tracePoints.count, 1);
    EXPECT_TRUE(Same(ClassOfEntry(0), env_->FindClass("vexotest/Circle")));
    EXPECT_EQ(TracePointFlags(env_, points[0]), 0x045);
}

TEST_F(Activation, UnresolvableTracePointsComeBackUnarmedAndTheOthersAreEntered) {
    auto points = Activate({{0x1004, nullptr, "vexotest.Shape", "noSuchMethod", "()V"},
                            {0x004, nullptr, "vexotest.NoSuchClass", "area", "()D"},
                            {0x004, nullptr, nullptr, "area", "()D"},
                            {0x004, nullptr, "vexotest.Shape", nullptr, "()D"},
                            ShapeArea()});
    EXPECT_EQ(TracePointFlags(env_, points[0]), 0x1000) << "other bits are carried unchanged";
    EXPECT_EQ(TracePointFlags(env_, points[1]), 0);
    EXPECT_EQ(TracePointFlags(env_, points[2]), 0);
    EXPECT_EQ(TracePointFlags(env_, points[3]), 0);
    EXPECT_EQ(TracePointFlags(env_, points[4]), 0x004);
    EXPECT_EQ(g_tracePoints.count, 1);
    EXPECT_FALSE(env_->ExceptionCheck()) << "a failed lookup left its exception pending";
}

TEST_F(Activation, TheStaticBitChoosesTheStaticLookups) {
    auto points = Activate({{0x100, nullptr, "vexotest.Shape", "make", "()Lvexotest/Shape;"},
                            {0x000, nullptr, "vexotest.Shape", "make", "()Lvexotest/Shape;"},
                            {0x100, nullptr, "vexotest.Shape", "area", "()D"},
                            {0x111, nullptr, "vexotest.Shape", "total", "I"},
                            {0x011, nullptr, "vexotest.Shape", "total", "I"}});
    EXPECT_EQ(TracePointFlags(env_, points[0]), 0x104);
    EXPECT_EQ(TracePointFlags(env_, points[1]), 0x000);
    EXPECT_EQ(TracePointFlags(env_, points[2]), 0x100);
    EXPECT_EQ(TracePointFlags(env_, points[3]), 0x115);
    EXPECT_EQ(TracePointFlags(env_, points[4]), 0x011);
    ASSERT_EQ(g_tracePoints.count, 2);
    EXPECT_EQ(g_tracePoints.entries[0].memberId,
              StaticMethodOf(env_, "vexotest/Shape", "make", "()Lvexotest/Shape;"));
    EXPECT_EQ(g_tracePoints.entries[1].memberId,
              StaticFieldOf(env_, "vexotest/Shape", "total", "I"));
}

TEST_F(Activation, AValueKindThatDoesNotFitTheFieldIsRefused) {
    auto points = Activate({ShapeField(0x20, "count", "I"), ShapeField(0x50, "area", "D"),
                            ShapeField(0x90, "letter", "C"), ShapeField(0xA0, "count", "I")});
    EXPECT_EQ(TracePointFlags(env_, points[0]), 0x21);
    EXPECT_EQ(TracePointFlags(env_, points[1]), 0x51);
    EXPECT_EQ(TracePointFlags(env_, points[2]), 0x95);
    EXPECT_EQ(TracePointFlags(env_, points[3]), 0xA5) << "kinds above char read nothing";
}

TEST_F(Activation, TwoTracePointsOnOneInheritedMethodAreBothEnteredWithTheirOwnClasses) {
    Activate({{0, nullptr, "vexotest.Circle", "area", "()D"}, ShapeArea()});
    ASSERT_EQ(g_tracePoints.count, 2);
    EXPECT_EQ(g_tracePoints.entries[0].memberId, g_tracePoints.entries[1].memberId);
    EXPECT_FALSE(Same(ClassOfEntry(0), ClassOfEntry(1)));
}

TEST_F(Activation, AListClassWithoutTheLimitIsReportedAndTheOldTableStaysArmed) {
    Activate({ShapeArea()}, 50);
    jobject odd = NewInstance(env_, "vexotest/IncompleteTracePoints");
    EXPECT_EQ(ActivateList(odd), "ERROR: cannot find fields in ActivateTracePoints\n");
    ASSERT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
    EXPECT_EQ(g_tracePoints.count, 1);
    EXPECT_TRUE(CallsStartingWith("Clear").empty());
    EXPECT_EQ(g_recording.recordingLimit.load(), 50);
}

TEST_F(Activation, ATracePointClassWithoutAFieldEmptiesTheTableAndArmsNothing) {
    Activate({ShapeArea()}, 50);
    const size_t armedBefore = ArmingCalls().size();
    // An older TracePoints class, from a loader of its own, whose TracePoint lacks a field.
    jclass alt = env_->FindClass("vexotest/AltClasses");
    jmethodID load = env_->GetStaticMethodID(alt, "load", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/Class;");
    auto loadClass = [&](const char* name) {
        return static_cast<jclass>(env_->CallStaticObjectMethod(
            alt, load, env_->NewStringUTF(VEXO_ALT_JAR), env_->NewStringUTF(name)));
    };
    jclass oldList = loadClass("com.vexo.TracePoints");
    jclass oldPoint = loadClass("com.vexo.TracePoints$TracePoint");
    ASSERT_NE(oldList, nullptr);
    ASSERT_NE(oldPoint, nullptr);
    jobjectArray array = env_->NewObjectArray(1, oldPoint, env_->AllocObject(oldPoint));
    jobject list = env_->AllocObject(oldList);
    env_->SetObjectField(list, env_->GetFieldID(oldList, "m_TracePoints", "[Lcom/vexo/TracePoints$TracePoint;"), array);
    env_->SetIntField(list, env_->GetFieldID(oldList, "m_iMaxNumTraces", "I"), 12);

    EXPECT_EQ(ActivateList(list), "ERROR: VexoDll failed to access fields in TracePoint\n");
    ASSERT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
    EXPECT_EQ(g_tracePoints.count, 0);
    EXPECT_EQ(ArmingCalls().size(), armedBefore);
    EXPECT_EQ(CallsStartingWith("ClearBreakpoint").size(), 1u);
    EXPECT_EQ(g_recording.recordingLimit.load(), 12);
}
}  // namespace

namespace {
void SetReflectionItem(JNIEnv* env, jobject point, jobject item) {
    jclass c = env->GetObjectClass(point);
    env->SetObjectField(point, env->GetFieldID(c, "m_ReflectionItem", "Ljava/lang/Object;"), item);
    env->DeleteLocalRef(c);
}
}  // namespace

TEST_F(Activation, AClassInTheReflectionItemIsTheClassWhateverTheNameAndAnythingElseIsIgnored) {
    jclass shape = env_->FindClass("vexotest/Shape");
    jobject byClass = NewTracePoint(env_, {0, nullptr, "no.such.Class", "area", "()D"});
    SetReflectionItem(env_, byClass, shape);
    jobject byName = NewTracePoint(env_, ShapeArea());
    SetReflectionItem(env_, byName, env_->NewStringUTF("vexotest.Circle"));  // not a class: the name decides
    EXPECT_EQ(ActivateList(NewTracePoints(env_, {byClass, byName}, 10)), "");
    ASSERT_EQ(g_tracePoints.count, 2);
    EXPECT_TRUE(Same(ClassOfEntry(0), shape));
    EXPECT_TRUE(Same(ClassOfEntry(1), shape));
    EXPECT_EQ(TracePointFlags(env_, byClass), 0x004);
}

TEST_F(Activation, AddedTracePointsJoinTheArmedOnesWhichStayArmedAndTheLimitStays) {
    const jfieldID count = FieldOf(env_, "vexotest/Shape", "count", "I");
    auto first = Activate({ShapeArea()}, 55);
    const size_t armingBefore = ArmingCalls().size();
    jobject added = NewTracePoint(env_, ShapeField(0x10, "count", "I"));
    jobject missing = NewTracePoint(env_, {0, nullptr, "vexotest.Shape", "nothing", "()V"});
    jclass pointClass = env_->GetObjectClass(added);
    jobjectArray array = env_->NewObjectArray(2, pointClass, nullptr);
    env_->SetObjectArrayElement(array, 0, added);
    env_->SetObjectArrayElement(array, 1, missing);
    std::vector<jsize> refused;
    AddTracePoints(env_, array, &refused);
    EXPECT_TRUE(CallsStartingWith("Clear").empty()) << "nothing armed is disarmed";
    EXPECT_EQ(ArmingCalls().size() - armingBefore, 2u);
    EXPECT_EQ(CallsStartingWith("SetFieldAccessWatch").back(), Hex("SetFieldAccessWatch", count));
    ASSERT_EQ(g_tracePoints.count, 2);
    EXPECT_TRUE(Same(g_tracePoints.entries[0].tracePointRef, first[0]));
    EXPECT_TRUE(Same(g_tracePoints.entries[1].tracePointRef, added));
    EXPECT_EQ(TracePointFlags(env_, added), 0x015);
    EXPECT_EQ(TracePointFlags(env_, missing), 0x000);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(g_recording.recordingLimit.load(), 55);
    // The next activation disarms both.
    EXPECT_EQ(ActivateList(NewTracePoints(env_, {}, 1)), "");
    EXPECT_EQ(CallsStartingWith("Clear").size(), 3u);
}

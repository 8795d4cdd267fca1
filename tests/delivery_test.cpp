// Delivery of recorded events to Java, and the life of the references involved.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/sync.h"
#include "tests/harness/debug_events.h"
#include "tests/harness/trace_fixture.h"
#include "trace/call_details.h"
#include "trace/debug_hook.h"
#include "trace/event_bank.h"
#include "trace/recorder.h"
#include "trace/trace_points.h"

namespace {
class Delivering : public TraceTest {
protected:
    jmethodID Area() { return MethodOf(env_, "vexotest/Shape", "area", "()D"); }
    jfieldID ShapeFieldId(const char* name, const char* sig) {
        return FieldOf(env_, "vexotest/Shape", name, sig);
    }
    // An entry of area() on `shape` as the method hook raises it, with two arguments whose objects
    // are the caller's references. Returns the time the entry's record took, or 0.
    int64_t EnterWithArguments(jobject shape, const CallValue& first, const CallValue& second) {
        const CallValue values[2] = {first, second};
        MethodEntryOffer offer;
        offer.receiver = shape;
        offer.arguments = values;
        offer.argumentCount = 2;
        offer.argumentsBorrowed = true;
        offer.active = true;
        MethodEntryOffer* previous = OfferMethodEntry(&offer);
        HitBreakpoint(env_, Area(), shape);
        OfferMethodEntry(previous);
        return offer.time;
    }
    // Each event's subject, trace point (points[point[i]]), thread (this one) and time (rising).
    void ExpectEveryEventsFields(const Delivery& d, const std::vector<jobject>& subjects,
                                 const std::vector<jobject>& points, const std::vector<int>& point) {
        ASSERT_EQ(d.events.size(), subjects.size());
        ASSERT_EQ(env_->PushLocalFrame(16), JNI_OK);
        jclass threadClass = env_->FindClass("java/lang/Thread");
        jobject current = env_->CallStaticObjectMethod(
            threadClass, env_->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;"));
        ASSERT_FALSE(env_->ExceptionCheck());
        jlong last = 0;
        for (size_t i = 0; i < subjects.size(); ++i) {
            jobject e = d.events[i].event;
            jclass c = env_->GetObjectClass(e);
            EXPECT_TRUE(Same(d.events[i].subject, subjects[i])) << i;
            EXPECT_TRUE(Same(d.events[i].tracePoint, points[point[i]])) << i;
            EXPECT_TRUE(Same(env_->GetObjectField(e, env_->GetFieldID(c, "m_Thread", "Ljava/lang/Thread;")), current)) << i;
            const jlong time = env_->GetLongField(e, env_->GetFieldID(c, "m_lTime", "J"));
            EXPECT_TRUE(time > 0 && time >= last) << i;
            last = time;
            env_->DeleteLocalRef(c);
        }
        env_->PopLocalFrame(nullptr);
    }
    static CallValue Object(jobject o) {
        CallValue v;
        v.kind = 'L';
        v.value.l = o;
        return v;
    }
};

TEST_F(Delivering, ACallBeforeAnyRecordBlocksUntilTheFirstOneArrives) {
    Activate({ShapeArea()});
    std::atomic<bool> delivered{false};
    size_t count = 0;
    std::thread consumer([&] {
        JNIEnv* env = nullptr;
        TestJvm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
        count = DeliverEvents(env).events.size();
        delivered = true;
        TestJvm()->DetachCurrentThread();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(delivered.load()) << "delivery returned before anything was recorded";
    HitBreakpoint(env_, Area(), NewInstance(env_, "vexotest/Shape"));
    consumer.join();
    EXPECT_EQ(count, 1u);
}

TEST_F(Delivering, AMethodHitBecomesAPlainMethodEventWithItsSubjectAndTracePoint) {
    auto points = Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const long weak = LiveWeakGlobalRefs();
    HitBreakpoint(env_, Area(), shape);
    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    const EventView& e = d.events[0];
    EXPECT_STREQ(e.kind, "method");
    EXPECT_FALSE(e.isFieldEvent);
    EXPECT_TRUE(Same(e.subject, shape));
    EXPECT_TRUE(Same(e.tracePoint, points[0]));
    EXPECT_FALSE(d.overflow);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak) << "the subject's weak reference was not released";
}

TEST_F(Delivering, EveryValueKindArrivesInItsEventClass) {
    Activate({ShapeField(0x10, "count", "I"), ShapeField(0x20, "big", "J"),
              ShapeField(0x30, "ratio", "F"), ShapeField(0x40, "area", "D"),
              ShapeField(0x60, "small", "S"), ShapeField(0x70, "tiny", "B"),
              ShapeField(0x80, "visible", "Z"), ShapeField(0x90, "letter", "C")});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    env_->SetIntField(shape, ShapeFieldId("count", "I"), -1);
    env_->SetLongField(shape, ShapeFieldId("big", "J"), -2);
    env_->SetFloatField(shape, ShapeFieldId("ratio", "F"), 1.5f);
    env_->SetDoubleField(shape, ShapeFieldId("area", "D"), -2.25);
    env_->SetByteField(shape, ShapeFieldId("tiny", "B"), -1);
    env_->SetBooleanField(shape, ShapeFieldId("visible", "Z"), JNI_TRUE);
    env_->SetCharField(shape, ShapeFieldId("letter", "C"), 0x263A);
    for (auto [name, sig] : {std::pair{"count", "I"}, {"big", "J"}, {"ratio", "F"}, {"area", "D"},
                             {"tiny", "B"}, {"visible", "Z"}, {"letter", "C"}}) {
        HitFieldAccess(env_, ShapeFieldId(name, sig), shape);
    }
    jvalue assigned = {};
    assigned.s = -2;
    HitFieldModification(env_, ShapeFieldId("small", "S"), shape, 'S', assigned);

    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 8u);
    EXPECT_STREQ(d.events[0].kind, "int");
    EXPECT_EQ(d.events[0].longValue, 4294967295LL) << "an int is zero-extended";
    EXPECT_EQ(d.events[1].longValue, -2) << "a long keeps all 64 bits";
    EXPECT_STREQ(d.events[2].kind, "float");
    EXPECT_EQ(d.events[2].floatValue, 1.5f);
    EXPECT_STREQ(d.events[3].kind, "double");
    EXPECT_EQ(d.events[3].doubleValue, -2.25);
    EXPECT_EQ(d.events[4].longValue, 0xFF);
    EXPECT_EQ(d.events[5].longValue, 1);
    EXPECT_EQ(d.events[6].longValue, 0x263A);
    EXPECT_EQ(d.events[7].longValue, 0xFFFE) << "the new value of a short, as assigned";
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(d.events[i].isFieldEvent);
        EXPECT_FALSE(d.events[i].assigned) << i;
    }
    EXPECT_TRUE(d.events[7].assigned);
}

TEST_F(Delivering, ObjectValuesArriveAsReferencesOrNullAndReleaseTheirWeakReferences) {
    Activate({ShapeField(0x50, "tag", "Ljava/lang/Object;")});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    jobject tag = NewInstance(env_, "vexotest/Unrelated");
    const jfieldID field = ShapeFieldId("tag", "Ljava/lang/Object;");
    const long weak = LiveWeakGlobalRefs();
    HitFieldAccess(env_, field, shape);  // still null
    env_->SetObjectField(shape, field, tag);
    HitFieldAccess(env_, field, shape);
    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_STREQ(d.events[0].kind, "object");
    EXPECT_EQ(d.events[0].objectValue, nullptr);
    EXPECT_TRUE(Same(d.events[1].objectValue, tag));
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}

TEST_F(Delivering, OverflowIsReportedByTheDeliveryOfItsBankAndThenNoMore) {
    Activate({ShapeArea()}, 1);
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitBreakpoint(env_, Area(), shape);
    HitBreakpoint(env_, Area(), shape);  // refused: the limit is reached
    Delivery first = DeliverEvents(env_);
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_TRUE(first.overflow);
    Java_com_vexo_NativeApi_nativeOnResetEventList(env_, nullptr);
    HitBreakpoint(env_, Area(), shape);
    Delivery second = DeliverEvents(env_);
    EXPECT_EQ(second.events.size(), 1u);
    EXPECT_FALSE(second.overflow);
}

TEST_F(Delivering, AFailedDeliveryLeavesItsRecordsForTheNextOne) {
    Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitBreakpoint(env_, Area(), shape);
    jobject odd = NewInstance(env_, "vexotest/IncompleteRecordedData");
    {
        StderrCapture capture;
        Java_com_vexo_NativeApi_nativeGetRecordedData(env_, nullptr, odd);
        EXPECT_EQ(capture.Finish(), "ERROR: VexoDll failed to access fields in RecordedData\n");
    }
    ASSERT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
    HitBreakpoint(env_, Area(), shape);  // into the other bank, which signals
    EXPECT_EQ(DeliverEvents(env_).events.size(), 1u);
    // The bank the failed delivery left is current again: its next record announces it, and
    // the old record comes with the new one.
    HitBreakpoint(env_, Area(), shape);
    EXPECT_EQ(DeliverEvents(env_).events.size(), 2u);
}

TEST_F(Delivering, AMissingEventClassForgetsAllSixAndDeliveryThenKeepsTheBank) {
    Activate({ShapeArea()});
    HitBreakpoint(env_, Area(), NewInstance(env_, "vexotest/Shape"));
    Script().missingClass = "com/vexo/TraceFieldFloatEvent";
    {
        StderrCapture capture;
        Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr,
                                                       NewInstance(env_, "vexotest/Panel"));
        EXPECT_EQ(capture.Finish(), "ERROR: Vexo failed to find TraceMethodEvent class");
    }
    ASSERT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
    HitBreakpoint(env_, Area(), NewInstance(env_, "vexotest/Shape"));
    EventBank& bank = g_recording.banks[0];
    EXPECT_EQ(bank.eventCount, 1) << "the hook recorded without event classes";

    jobject data = NewInstance(env_, "com/vexo/RecordedData");
    {
        StderrCapture capture;
        Java_com_vexo_NativeApi_nativeGetRecordedData(env_, nullptr, data);
        EXPECT_EQ(capture.Finish(), "ERROR: VexoDll failed to access fields in TraceMethodEvents\n");
    }
    EXPECT_FALSE(ReadDelivery(env_, data).eventsSet);
    EXPECT_EQ(bank.eventCount, 1);
    EXPECT_EQ(bank.head->usedCount, 1);

    Script().missingClass = nullptr;
    Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr,
                                                   NewInstance(env_, "vexotest/Panel"));
    HitBreakpoint(env_, Area(), NewInstance(env_, "vexotest/Shape"));  // bank 1
    EXPECT_EQ(DeliverEvents(env_).events.size(), 1u);
    HitBreakpoint(env_, Area(), NewInstance(env_, "vexotest/Shape"));  // bank 0 again
    EXPECT_EQ(DeliverEvents(env_).events.size(), 2u);
    // Delivered chunks are emptied and kept for reuse.
    EXPECT_NE(bank.head, nullptr);
    EXPECT_EQ(bank.head->usedCount, 0);
    EXPECT_EQ(bank.eventCount, 0);
}

// A bank that spans chunks delivers its records in the order they were made, also when an
// emptied bank refills its chunks (the newest first) and then needs one more.
TEST_F(Delivering, RecordsSpanningChunksArriveInTheOrderTheyWereMade) {
    Activate({ShapeField(0x10, "count", "I")});
    const jfieldID count = ShapeFieldId("count", "I");
    jobject shape = NewInstance(env_, "vexotest/Shape");
    jint next = 0;
    auto assign = [&](int n) {
        for (int k = 0; k < n; ++k) {
            jvalue v;
            v.j = 0;
            v.i = next++;
            HitFieldModification(env_, count, shape, 'I', v);
        }
    };
    for (const int n : {1023 + 5, 1, 2 * 1023 + 7}) {  // bank 0: two chunks, then refilled and a third
        const jint first = next;
        assign(n);
        ASSERT_EQ(env_->PushLocalFrame(8 * n + 64), JNI_OK);
        Delivery d = DeliverEvents(env_);
        ASSERT_EQ(d.events.size(), static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) ASSERT_EQ(d.events[k].longValue, first + k) << "record " << k << " of " << n;
        env_->PopLocalFrame(nullptr);
    }
}

TEST_F(Delivering, RetiredTracePointReferencesLiveUntilBothBanksAreDelivered) {
    auto first = Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitBreakpoint(env_, Area(), shape);
    DeliverEvents(env_);  // the first delivery makes what delivery keeps for good
    HitBreakpoint(env_, Area(), shape);  // this bank carries the first list's reference
    const long globals = LiveGlobalRefs();
    auto second = Activate({ShapeArea()});  // retires the first list
    EXPECT_EQ(LiveGlobalRefs(), globals + 1) << "class swapped, trace point reference kept";
    HitBreakpoint(env_, Area(), shape);  // bank 0 still: no new signal
    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_TRUE(Same(d.events[0].tracePoint, first[0]));
    EXPECT_TRUE(Same(d.events[1].tracePoint, second[0]));
    EXPECT_EQ(LiveGlobalRefs(), globals + 1) << "deleted after one delivery";
    HitBreakpoint(env_, Area(), shape);
    DeliverEvents(env_);
    EXPECT_EQ(LiveGlobalRefs(), globals) << "not deleted after both banks were delivered";
}

// Hitting threads, one consumer and a thread that keeps replacing the list: every record is
// delivered exactly once, every delivered trace point is one of the lists', and no reference is
// left behind.
TEST_F(Delivering, ConcurrentHitsDeliveriesAndActivationsLoseAndDoubleNothing) {
    constexpr int kHitters = 3;
    constexpr int kHitsEach = 3000;
    jclass shapeClass = env_->FindClass("vexotest/Shape");
    jobject receiver = env_->NewGlobalRef(env_->AllocObject(shapeClass));
    const jmethodID area = Area();
    std::vector<jobject> lists;
    std::vector<jobject> points;
    for (int i = 0; i < 4; ++i) {
        jobject tp = NewTracePoint(env_, ShapeArea());
        points.push_back(env_->NewGlobalRef(tp));
        lists.push_back(env_->NewGlobalRef(NewTracePoints(env_, {tp}, 1 << 30)));
    }
    Java_com_vexo_NativeApi_nativeActivateTracePoints(env_, nullptr, lists[0]);
    const long weakBefore = LiveWeakGlobalRefs();

    auto attached = [](auto body) {
        return std::thread([body] {
            JNIEnv* env = nullptr;
            TestJvm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
            body(env);
            TestJvm()->DetachCurrentThread();
        });
    };
    std::atomic<int> hittersLeft{kHitters};
    std::atomic<long> delivered{0};
    std::atomic<bool> unknownTracePoint{false};
    std::atomic<long> finalTotal{-1};  // known once every hit is made
    std::atomic<bool> consumerDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kHitters; ++t) {
        threads.push_back(attached([&](JNIEnv* env) {
            for (int i = 0; i < kHitsEach; ++i) HitBreakpoint(env, area, receiver);
            --hittersLeft;
        }));
    }
    threads.push_back(attached([&](JNIEnv* env) {
        for (int i = 1; hittersLeft.load() > 0; ++i) {
            Java_com_vexo_NativeApi_nativeActivateTracePoints(env, nullptr, lists[i % 4]);
            // Paced, so that hits also meet installed tables and not only empty ones.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }));
    std::thread consumer = attached([&](JNIEnv* env) {
        jclass dataClass = env->FindClass("com/vexo/RecordedData");
        jfieldID eventsField = env->GetFieldID(dataClass, "m_Events", "[Lcom/vexo/TraceMethodEvent;");
        jfieldID pointField = FieldOf(env, "com/vexo/TraceMethodEvent", "m_TracePoint",
                                      "Lcom/vexo/TracePoints$TracePoint;");
        while (finalTotal.load() < 0 || delivered.load() < finalTotal.load()) {
            jobject data = env->AllocObject(dataClass);
            Java_com_vexo_NativeApi_nativeGetRecordedData(env, nullptr, data);
            auto events = static_cast<jobjectArray>(env->GetObjectField(data, eventsField));
            const jsize n = events == nullptr ? 0 : env->GetArrayLength(events);
            for (jsize i = 0; i < n; ++i) {
                jobject event = env->GetObjectArrayElement(events, i);
                jobject point = env->GetObjectField(event, pointField);
                bool known = false;
                for (jobject p : points) known = known || env->IsSameObject(point, p);
                if (!known) unknownTracePoint = true;
                env->DeleteLocalRef(point);
                env->DeleteLocalRef(event);
            }
            if (events != nullptr) env->DeleteLocalRef(events);
            env->DeleteLocalRef(data);
            delivered += n;
        }
        consumerDone = true;
    });
    // The agent's own calls run in loops on native threads that never return to Java, so a
    // local reference it leaked would pile up and make the checked JNI warn.
    StderrCapture capture;
    for (auto& t : threads) t.join();
    // One hit that is sure to meet an armed table.
    Java_com_vexo_NativeApi_nativeActivateTracePoints(env_, nullptr, lists[0]);
    HitBreakpoint(env_, area, receiver);
    finalTotal = g_recording.totalRecorded.load();
    // The consumer may be waiting with everything delivered; wake it until it has seen the end.
    while (!consumerDone.load()) {
        SignalDataAvailable();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    consumer.join();
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_EQ(delivered.load(), g_recording.totalRecorded.load());
    EXPECT_GT(delivered.load(), 0);
    EXPECT_FALSE(unknownTracePoint.load());
    EXPECT_EQ(LiveWeakGlobalRefs(), weakBefore) << "subjects left behind";
}

// A thread's records of one bank filling share the weak reference of an object that comes again;
// a later filling of the same bank makes its own, as the shared one was deleted with its bank.
TEST_F(Delivering, AnObjectRecordedAgainSharesItsReferenceWithinItsBankFillingOnly) {
    Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    jobject other = env_->NewGlobalRef(NewInstance(env_, "vexotest/Shape"));  // for another thread too
    const long weak = LiveWeakGlobalRefs();
    const std::vector<jobject> subjects = {shape, shape, shape, other, shape};
    for (jobject s : subjects) HitBreakpoint(env_, Area(), s);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak + 3) << "one reference a run of the same subject";
    Delivery d = DeliverEvents(env_);  // bank 0
    ASSERT_EQ(d.events.size(), subjects.size());
    for (size_t i = 0; i < subjects.size(); ++i) EXPECT_TRUE(Same(d.events[i].subject, subjects[i])) << i;
    EXPECT_EQ(LiveWeakGlobalRefs(), weak) << "a shared reference left behind, or deleted twice";

    const jmethodID area = Area();
    std::thread([&] {  // bank 1, from a thread whose records leave this one's alone
        JNIEnv* env = nullptr;
        TestJvm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
        HitBreakpoint(env, area, other);
        DeliverEvents(env);
        TestJvm()->DetachCurrentThread();
    }).join();
    // Bank 0 again: the reference this thread made last is gone; a stranger may hold its place.
    jweak stranger = env_->NewWeakGlobalRef(other);
    HitBreakpoint(env_, Area(), shape);
    d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_TRUE(Same(d.events[0].subject, shape)) << "a reference of an earlier filling was shared";
    env_->DeleteWeakGlobalRef(stranger);
    env_->DeleteGlobalRef(other);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}

// Object arguments handed over as the caller's references: the record makes (or shares) weak
// ones, which keep nothing alive.
TEST_F(Delivering, SharedArgumentReferencesOfACollectedObjectArriveAsNullInEveryEvent) {
    Activate({{0x200, nullptr, "vexotest.Shape", "area", "()D"}});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const long weak = LiveWeakGlobalRefs();
    auto enter = [&](jobject argument) { EnterWithArguments(shape, Object(argument), Object(argument)); };
    ASSERT_EQ(env_->PushLocalFrame(4), JNI_OK);
    jobject kept = env_->NewGlobalRef(NewInstance(env_, "vexotest/Unrelated"));
    jobject dropped = NewInstance(env_, "vexotest/Unrelated");
    enter(dropped);
    enter(dropped);
    enter(kept);
    env_->PopLocalFrame(nullptr);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak + 3) << "the receiver's, the dropped object's and the kept one's";
    jclass system = env_->FindClass("java/lang/System");
    env_->CallStaticVoidMethod(system, env_->GetStaticMethodID(system, "gc", "()V"));
    Delivery d = DeliverEvents(env_);
    ASSERT_EQ(d.events.size(), 3u);
    jfieldID argumentsField = env_->GetFieldID(env_->GetObjectClass(d.events[0].event), "m_Arguments", "[Ljava/lang/Object;");
    ASSERT_NE(argumentsField, nullptr);
    for (size_t i = 0; i < 3; ++i) {
        auto arguments = static_cast<jobjectArray>(env_->GetObjectField(d.events[i].event, argumentsField));
        ASSERT_NE(arguments, nullptr);
        ASSERT_EQ(env_->GetArrayLength(arguments), 2);
        for (jsize k = 0; k < 2; ++k) {
            jobject got = env_->GetObjectArrayElement(arguments, k);
            EXPECT_TRUE(i < 2 ? got == nullptr : Same(got, kept)) << "event " << i << ", argument " << k;
        }
        EXPECT_TRUE(Same(d.events[i].subject, shape));
    }
    env_->DeleteGlobalRef(kept);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}

// A Java side whose loader cannot take the event filler still gets its arguments and return
// values, boxed one at a time, and every event its common fields, stored one by one.
TEST_F(Delivering, WithoutTheEventFillerArgumentsAndReturnValuesAreBoxedOneByOne) {
    Script().refusedDefinition = "com/vexo/internal/EventFiller";
    auto points = Activate({{0x200 | 0x400, nullptr, "vexotest.Shape", "area", "()D"}});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    jobject tag = NewInstance(env_, "vexotest/Unrelated");
    const long weak = LiveWeakGlobalRefs();
    CallValue seventyFive;
    seventyFive.kind = 'J';
    seventyFive.value.j = 75;
    jvalue result;
    result.d = 2.5;
    for (int64_t duration : {10, 20}) {
        const int64_t entered = EnterWithArguments(shape, seventyFive, Object(tag));
        RecordMethodExit(env_, Area(), nullptr, CallValue{'D', false, result}, false, duration, entered + duration);
    }
    Delivery d = DeliverEvents(env_);
    ExpectEveryEventsFields(d, {shape, nullptr, shape, nullptr}, points, {0, 0, 0, 0});
    auto field = [&](jobject event, const char* name, const char* signature) {
        return env_->GetObjectField(event, env_->GetFieldID(env_->GetObjectClass(event), name, signature));
    };
    jclass exitClass = env_->FindClass("com/vexo/TraceMethodExitEvent");
    EXPECT_EQ(env_->GetLongField(d.events[1].event, env_->GetFieldID(exitClass, "m_lDuration", "J")), 10);
    EXPECT_EQ(env_->GetLongField(d.events[3].event, env_->GetFieldID(exitClass, "m_lDuration", "J")), 20);
    auto arguments = static_cast<jobjectArray>(field(d.events[0].event, "m_Arguments", "[Ljava/lang/Object;"));
    ASSERT_NE(arguments, nullptr);
    ASSERT_EQ(env_->GetArrayLength(arguments), 2);
    jobject amount = env_->GetObjectArrayElement(arguments, 0);
    jclass longClass = env_->FindClass("java/lang/Long");
    ASSERT_TRUE(amount != nullptr && env_->IsInstanceOf(amount, longClass));
    EXPECT_EQ(env_->CallLongMethod(amount, env_->GetMethodID(longClass, "longValue", "()J")), 75);
    EXPECT_TRUE(Same(env_->GetObjectArrayElement(arguments, 1), tag));
    jobject returned = field(d.events[1].event, "m_ReturnValue", "Ljava/lang/Object;");
    jclass doubleClass = env_->FindClass("java/lang/Double");
    ASSERT_TRUE(returned != nullptr && env_->IsInstanceOf(returned, doubleClass));
    EXPECT_EQ(env_->CallDoubleMethod(returned, env_->GetMethodID(doubleClass, "doubleValue", "()D")), 2.5);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}

// The first entry with arguments brings the filler in the middle of a bank, which then stores the
// fields every event of that bank carries (those before it too), of every kind, and of every
// later bank.
TEST_F(Delivering, EventsBeforeAndAfterTheFillerCameGetTheSameFields) {
    auto points = Activate({{0x200, nullptr, "vexotest.Shape", "area", "()D"}, ShapeField(0x10, "count", "I")});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    jobject other = NewInstance(env_, "vexotest/Shape");
    const long weak = LiveWeakGlobalRefs();
    env_->SetIntField(other, ShapeFieldId("count", "I"), 7);
    CallValue seven;
    seven.kind = 'I';
    seven.value.i = 7;
    HitBreakpoint(env_, Area(), shape);
    HitFieldAccess(env_, ShapeFieldId("count", "I"), other);
    EnterWithArguments(other, seven, Object(shape));
    HitBreakpoint(env_, Area(), shape);
    HitFieldAccess(env_, ShapeFieldId("count", "I"), other);
    HitBreakpoint(env_, Area(), shape);
    Delivery d = DeliverEvents(env_);
    ExpectEveryEventsFields(d, {shape, other, other, shape, other, shape}, points, {0, 1, 0, 0, 1, 0});
    EXPECT_EQ(d.events[4].longValue, 7);
    jfieldID argumentsField = env_->GetFieldID(env_->GetObjectClass(d.events[2].event), "m_Arguments", "[Ljava/lang/Object;");
    auto arguments = static_cast<jobjectArray>(env_->GetObjectField(d.events[2].event, argumentsField));
    ASSERT_TRUE(arguments != nullptr && env_->GetArrayLength(arguments) == 2);
    EXPECT_TRUE(Same(env_->GetObjectArrayElement(arguments, 1), shape));
    HitFieldAccess(env_, ShapeFieldId("count", "I"), other);
    HitBreakpoint(env_, Area(), shape);
    ExpectEveryEventsFields(DeliverEvents(env_), {other, shape}, points, {1, 0});
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}

// The filler makes the entries and the exits that returned a primitive or nothing; delivery makes
// the rest, those it stores more into: each arrives as its class, in order, with its values.
TEST_F(Delivering, EventsTheFillerMakesAndEventsDeliveryMakesComeInTheirOrder) {
    auto points = Activate({{0x200 | 0x400, nullptr, "vexotest.Shape", "area", "()D"}, ShapeField(0x10, "count", "I")});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    jobject problem = NewInstance(env_, "java/lang/IllegalStateException");
    const long weak = LiveWeakGlobalRefs();
    auto leave = [&](char kind, jvalue value, bool thrown) {
        if (kind == 'L') value.l = env_->NewWeakGlobalRef(value.l);
        RecordMethodExit(env_, Area(), nullptr, CallValue{kind, false, value}, thrown, 5, EnterWithArguments(shape, Object(shape), Object(nullptr)) + 5);
    };
    jvalue half, returned, thrown;
    half.d = 0.5;
    returned.l = shape;
    thrown.l = problem;
    leave('D', half, false);
    leave('L', returned, false);
    HitFieldAccess(env_, ShapeFieldId("count", "I"), shape);
    leave('L', thrown, true);
    Delivery d = DeliverEvents(env_);
    ExpectEveryEventsFields(d, {shape, nullptr, shape, nullptr, shape, shape, nullptr}, points, {0, 0, 0, 0, 1, 0, 0});
    jclass exitClass = env_->FindClass("com/vexo/TraceMethodExitEvent");
    auto value = [&](size_t i, const char* name, const char* signature) {
        jobject e = d.events[i].event;
        return env_->GetObjectField(e, env_->GetFieldID(env_->GetObjectClass(e), name, signature));
    };
    for (size_t i : {0, 2, 5}) {
        EXPECT_FALSE(env_->IsInstanceOf(d.events[i].event, exitClass)) << i;
        EXPECT_TRUE(Same(env_->GetObjectArrayElement(static_cast<jobjectArray>(value(i, "m_Arguments", "[Ljava/lang/Object;")), 0), shape)) << i;
    }
    for (size_t i : {1, 3, 6}) ASSERT_TRUE(env_->IsInstanceOf(d.events[i].event, exitClass)) << i;
    jobject boxed = value(1, "m_ReturnValue", "Ljava/lang/Object;");
    jclass doubleClass = env_->FindClass("java/lang/Double");
    ASSERT_TRUE(boxed != nullptr && env_->IsInstanceOf(boxed, doubleClass));
    EXPECT_EQ(env_->CallDoubleMethod(boxed, env_->GetMethodID(doubleClass, "doubleValue", "()D")), 0.5);
    ASSERT_FALSE(env_->ExceptionCheck());
    EXPECT_TRUE(Same(value(3, "m_ReturnValue", "Ljava/lang/Object;"), shape));
    EXPECT_TRUE(Same(value(6, "m_Exception", "Ljava/lang/Throwable;"), problem));
    EXPECT_TRUE(env_->GetBooleanField(d.events[6].event, env_->GetFieldID(exitClass, "m_bThrown", "Z")));
    EXPECT_FALSE(env_->GetBooleanField(d.events[1].event, env_->GetFieldID(exitClass, "m_bThrown", "Z")));
    EXPECT_EQ(d.events[4].longValue, 0);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}

// A filler whose call fails (as a Java side lacking one of its fields would make it) leaves its
// delivery to store every field itself, and is not called again.
TEST_F(Delivering, AFailedFillerCallLeavesEveryFieldToDeliveryFromThenOn) {
    auto points = Activate({{0x200 | 0x400, nullptr, "vexotest.Shape", "area", "()D"}});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const long weak = LiveWeakGlobalRefs();
    CallValue seven;
    seven.kind = 'I';
    seven.value.i = 7;
    auto enterAndLeave = [&] {
        HitBreakpoint(env_, Area(), shape);
        const int64_t entered = EnterWithArguments(shape, seven, Object(shape));
        RecordMethodExit(env_, Area(), nullptr, CallValue{'V', false, {}}, false, 42, entered + 42);
    };
    Script().failingStaticVoidCalls = 1;
    const int calls = Script().staticVoidCalls;
    enterAndLeave();
    Delivery d = DeliverEvents(env_);
    EXPECT_EQ(Script().staticVoidCalls, calls + 1) << "the filler was not tried";
    ExpectEveryEventsFields(d, {shape, shape, nullptr}, points, {0, 0, 0});
    jobject exit = d.events[2].event;
    EXPECT_EQ(env_->GetLongField(exit, env_->GetFieldID(env_->GetObjectClass(exit), "m_lDuration", "J")), 42);
    jfieldID argumentsField = env_->GetFieldID(env_->GetObjectClass(d.events[1].event), "m_Arguments", "[Ljava/lang/Object;");
    auto arguments = static_cast<jobjectArray>(env_->GetObjectField(d.events[1].event, argumentsField));
    ASSERT_TRUE(arguments != nullptr && env_->GetArrayLength(arguments) == 2);
    EXPECT_TRUE(Same(env_->GetObjectArrayElement(arguments, 1), shape));
    enterAndLeave();
    ExpectEveryEventsFields(DeliverEvents(env_), {shape, shape, nullptr}, points, {0, 0, 0});
    EXPECT_EQ(Script().staticVoidCalls, calls + 1) << "a failed filler was called again";
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}
}  // namespace

namespace {
// Bounded recording: what a bank cannot hold is dropped and counted by its trace point, and a
// bank is handed over in slices that keep the order of its records and its references alive.
TEST_F(Delivering, BoundedBanksDropCountedHitsAndComeInOrderedSlices) {
    auto points = Activate({ShapeArea()});
    const long weak = LiveWeakGlobalRefs();
    BoundRecording(4, 1 << 20, 3);
    std::vector<jobject> shapes;
    for (int i = 0; i < 6; ++i) shapes.push_back(NewInstance(env_, "vexotest/Shape"));
    // The fourth record shares the third's reference, which the first slice hands over; the
    // last three find the bank full.
    for (int i : {0, 1, 2, 2, 4, 5, 4}) HitBreakpoint(env_, Area(), shapes[static_cast<size_t>(i)]);
    Delivery first = DeliverEvents(env_);
    ExpectEveryEventsFields(first, {shapes[0], shapes[1], shapes[2]}, points, {0, 0, 0});
    ASSERT_EQ(first.drops.size(), 1u);
    EXPECT_TRUE(Same(first.drops[0].first, points[0]));
    EXPECT_EQ(first.drops[0].second, 3);
    Delivery second = DeliverEvents(env_);
    ExpectEveryEventsFields(second, {shapes[2]}, points, {0});
    EXPECT_TRUE(second.drops.empty());
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
    HitBreakpoint(env_, Area(), shapes[4]);  // the bank has room again
    ExpectEveryEventsFields(DeliverEvents(env_), {shapes[4]}, points, {0});

    // Arguments have a bound of their own: a record whose arguments do not fit is dropped whole.
    points = Activate({{0x200, nullptr, "vexotest.Shape", "area", "()D"}});
    BoundRecording(100, 64, 0);
    CallValue seven;
    seven.kind = 'I';
    seven.value.i = 7;
    EnterWithArguments(shapes[0], seven, seven);
    EnterWithArguments(shapes[1], seven, seven);
    Delivery withArguments = DeliverEvents(env_);
    ExpectEveryEventsFields(withArguments, {shapes[0]}, points, {0});
    ASSERT_EQ(withArguments.drops.size(), 1u);
    EXPECT_EQ(withArguments.drops[0].second, 1);
    BoundRecording(0, 0, 0);
    EXPECT_EQ(LiveWeakGlobalRefs(), weak);
}
}  // namespace

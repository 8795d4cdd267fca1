// Event capture: what the debug hook and the recorder put into the banks.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include <vector>

#include "core/sync.h"
#include "platform/heap.h"
#include "trace/call_details.h"
#include "tests/harness/debug_events.h"
#include "tests/harness/trace_fixture.h"
#include "trace/debug_hook.h"
#include "trace/delivery.h"
#include "trace/method_entry_offer.h"
#include "trace/event_bank.h"
#include "trace/trace_flags.h"
#include "trace/trace_points.h"

namespace {
class Capture : public TraceTest {
protected:
    EventBank& Current() { return g_recording.banks[g_recording.currentBank]; }

    // The newest record of the current bank.
    const TraceEventRecord& Newest() {
        const EventChunk* chunk = Current().head;
        return chunk->records[chunk->usedCount - 1];
    }

    void HitArea(jobject receiver, int times = 1) {
        const jmethodID area = MethodOf(env_, "vexotest/Shape", "area", "()D");
        for (int i = 0; i < times; ++i) HitBreakpoint(env_, area, receiver);
    }

    int ChunkCount(const EventBank& bank) {
        int n = 0;
        for (const EventChunk* c = bank.head; c != nullptr; c = c->next) ++n;
        return n;
    }
};

TEST_F(Capture, A1023rdRecordFillsAChunkAndTheNextOpensOneInFront) {
    Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitArea(shape, 1023);
    ASSERT_EQ(ChunkCount(Current()), 1);
    EventChunk* first = Current().head;
    EXPECT_EQ(first->usedCount, 1023);
    HitArea(shape);
    ASSERT_EQ(ChunkCount(Current()), 2);
    EXPECT_EQ(Current().head->usedCount, 1);
    EXPECT_EQ(Current().head->next, first);
    EXPECT_EQ(Current().eventCount, 1024);
}

TEST_F(Capture, AnEmptiedBankRefillsItsChunksFromTheHeadBeforeAllocating) {
    Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitArea(shape, 1023 + 5);  // bank 0: two chunks
    EventBank& bank0 = g_recording.banks[0];
    EventChunk* newer = bank0.head;
    EventChunk* older = newer->next;
    DeliverEvents(env_);
    HitArea(shape);  // bank 1
    DeliverEvents(env_);
    ASSERT_EQ(&Current(), &bank0);
    EXPECT_EQ(newer->usedCount, 0);
    EXPECT_EQ(older->usedCount, 0);
    HitArea(shape, 1023 + 1023);
    EXPECT_EQ(bank0.head, newer) << "a chunk was allocated while old ones had room";
    EXPECT_EQ(newer->usedCount, 1023);
    EXPECT_EQ(older->usedCount, 1023);
    HitArea(shape);
    EXPECT_EQ(ChunkCount(bank0), 3);
    EXPECT_EQ(bank0.head->usedCount, 1);
}

TEST_F(Capture, ArgumentsFillTheirBlocksInOrderAndAnEmptiedBankReusesTheBlocks) {
    EventBank bank = {};
    auto blocks = [&] {
        int n = 0;
        for (const ArgumentBlock* b = bank.arguments; b != nullptr; b = b->next) ++n;
        return n;
    };
    // More than one block's worth, in records of one to five values.
    auto fill = [&](std::vector<CallDetails*>* placed) {
        for (int r = 0; r < 5000; ++r) {
            CallValue values[5];
            const int count = 1 + r % 5;
            for (int i = 0; i < count; ++i) {
                values[i].kind = 'J';
                values[i].value.j = r * 10 + i;
            }
            placed->push_back(PlaceArguments(&bank, values, count));
        }
    };
    auto intact = [](const std::vector<CallDetails*>& placed) {
        for (size_t r = 0; r < placed.size(); ++r) {
            if (placed[r] == nullptr || placed[r]->argumentCount != 1 + static_cast<int>(r % 5)) return false;
            for (int i = 0; i < placed[r]->argumentCount; ++i) {
                if (placed[r]->arguments[i].value.j != static_cast<jlong>(r * 10 + i)) return false;
            }
        }
        return true;
    };
    std::vector<CallDetails*> first;
    fill(&first);
    EXPECT_TRUE(intact(first));
    const int used = blocks();
    EXPECT_GT(used, 1);
    EmptyArguments(&bank);
    std::vector<CallDetails*> second;
    fill(&second);
    EXPECT_TRUE(intact(second));
    EXPECT_EQ(blocks(), used) << "a block was allocated while emptied ones had room";
    EXPECT_EQ(second.front(), first.front()) << "an emptied bank starts again at its first block";
    CallValue huge[1];
    EXPECT_EQ(PlaceArguments(&bank, huge, static_cast<int32_t>(kArgumentBlockBytes)), nullptr) << "more than a block holds";
    while (bank.arguments != nullptr) {
        ArgumentBlock* next = bank.arguments->next;
        MemFree(bank.arguments);
        bank.arguments = next;
    }
}

TEST_F(Capture, TheFirstOfTwoEntriesForOneMethodDecides) {
    // Circle first: a Shape receiver is refused, although the Shape entry would accept it.
    Activate({{0, nullptr, "vexotest.Circle", "area", "()D"}, ShapeArea()});
    const long globals = LiveGlobalRefs();
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().eventCount, 0);
    EXPECT_EQ(LiveGlobalRefs(), globals) << "the refused receiver was not released";
    HitArea(NewInstance(env_, "vexotest/Circle"));
    EXPECT_EQ(Current().eventCount, 1);
}

TEST_F(Capture, SubclassReceiversAreAcceptedAndSuperclassOrUnrelatedOnesRefused) {
    Activate({{0, nullptr, "vexotest.Circle", "area", "()D"}});
    HitArea(NewInstance(env_, "vexotest/Shape"));
    HitArea(NewInstance(env_, "vexotest/Unrelated"));
    EXPECT_EQ(Current().eventCount, 0);
    jobject circle = NewInstance(env_, "vexotest/Circle");
    const long weak = LiveWeakGlobalRefs();
    HitArea(circle);
    ASSERT_EQ(Current().eventCount, 1);
    const TraceEventRecord& r = Newest();
    EXPECT_EQ(r.flags, kWeakRefSubject);
    EXPECT_TRUE(Same(reinterpret_cast<jobject>(r.subject), circle));
    EXPECT_EQ(LiveWeakGlobalRefs(), weak + 1);
    EXPECT_TRUE(Same(r.tracePointRef, g_tracePoints.entries[0].tracePointRef));
}

// An instrumented entry's receiver that the trace point's class refuses is turned away before the
// recording lock while the limit leaves room (a thread holding the lock does not hold it up);
// past the limit it still reaches the lock, which shows the overflow, and an instance is
// recorded as ever.
TEST_F(Capture, AnInstrumentedEntrysRefusedReceiverIsTurnedAwayBeforeTheLock) {
    Activate({{0, nullptr, "vexotest.Circle", "area", "()D"}}, 1);
    jobject shape = NewInstance(env_, "vexotest/Shape");
    auto enter = [&](JNIEnv* env, jobject receiver) {
        MethodEntryOffer offer;
        offer.receiver = receiver;
        offer.active = true;
        MethodEntryOffer* previous = OfferMethodEntry(&offer);
        HitBreakpoint(env, MethodOf(env, "vexotest/Shape", "area", "()D"), receiver);
        OfferMethodEntry(previous);
    };
    std::atomic<bool> held{false}, done{false}, released{false};
    std::thread holder([&] {
        EnterLock(&g_agent.recordingLock);
        held = true;
        for (int i = 0; i < 300 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        released = true;
        LeaveLock(&g_agent.recordingLock);
    });
    while (!held) std::this_thread::yield();
    enter(env_, shape);
    const bool turnedAway = !released;  // the holder still held the lock
    done = true;
    holder.join();
    EXPECT_TRUE(turnedAway) << "the refused entry waited for the recording lock";
    EXPECT_EQ(Current().eventCount, 0);
    EXPECT_EQ(Current().overflow, 0) << "a refusal within the limit is no overflow";
    jobject circle = NewInstance(env_, "vexotest/Circle");
    enter(env_, circle);
    ASSERT_EQ(Current().eventCount, 1);
    EXPECT_TRUE(Same(reinterpret_cast<jobject>(Newest().subject), circle));
    enter(env_, shape);
    EXPECT_EQ(Current().overflow, 1) << "past the limit the lock still sees the hit";
}

TEST_F(Capture, AStaticBreakpointHasNoSubjectAndAsksForNoLocal) {
    Activate({{0x100, nullptr, "vexotest.Shape", "make", "()Lvexotest/Shape;"}});
    HitBreakpoint(env_, StaticMethodOf(env_, "vexotest/Shape", "make", "()Lvexotest/Shape;"),
                  nullptr);
    ASSERT_EQ(Current().eventCount, 1);
    EXPECT_EQ(Newest().subject, 0u);
    EXPECT_EQ(Newest().flags, kNoSubject);
    EXPECT_TRUE(CallsStartingWith("GetLocalObject").empty());
}

TEST_F(Capture, MethodEntryEventsAreRecordedLikeBreakpoints) {
    Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitMethodEntry(env_, MethodOf(env_, "vexotest/Shape", "area", "()D"), shape);
    ASSERT_EQ(Current().eventCount, 1);
    EXPECT_TRUE(Same(reinterpret_cast<jobject>(Newest().subject), shape));
}

TEST_F(Capture, AFailedFrameRequestIsReportedAndRecordsNothing) {
    Activate({ShapeArea()});
    Script().getCurrentFrameResult = JVMDI_ERROR_NO_MORE_FRAMES;
    StderrCapture capture;
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(capture.Finish(), "ERROR: cannot get current frame\n");
    EXPECT_EQ(Current().eventCount, 0);
}

TEST_F(Capture, AFieldAccessRecordsTheCurrentValueZeroExtended) {
    Activate({ShapeField(0x10, "count", "I"), ShapeField(0x60, "small", "S")});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const jfieldID count = FieldOf(env_, "vexotest/Shape", "count", "I");
    const jfieldID small = FieldOf(env_, "vexotest/Shape", "small", "S");
    env_->SetIntField(shape, count, -1);
    env_->SetShortField(shape, small, -2);
    HitFieldAccess(env_, count, shape);
    const unsigned char minusOne[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&Newest().value, minusOne, 8), 0);
    EXPECT_EQ(Newest().flags, kWeakRefSubject | kIntValue) << "an access is not an assignment";
    HitFieldAccess(env_, small, shape);
    EXPECT_EQ(Newest().value.j, 0xFFFE);
}

TEST_F(Capture, AStaticFieldAccessReadsTheFieldOnItsClass) {
    Activate({{0x111, nullptr, "vexotest.Shape", "total", "I"}});
    jclass shape = env_->FindClass("vexotest/Shape");
    const jfieldID total = StaticFieldOf(env_, "vexotest/Shape", "total", "I");
    env_->SetStaticIntField(shape, total, 42);
    HitFieldAccess(env_, total, nullptr);
    ASSERT_EQ(Current().eventCount, 1);
    EXPECT_EQ(Newest().flags, kNoSubject | kIntValue);
    EXPECT_EQ(Newest().value.j, 42);
}

TEST_F(Capture, AnObjectFieldSetToNullOrToAnObjectRecordsNullOrAWeakReference) {
    Activate({ShapeField(0x50, "tag", "Ljava/lang/Object;")});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    const jfieldID tag = FieldOf(env_, "vexotest/Shape", "tag", "Ljava/lang/Object;");
    jvalue none = {};
    HitFieldModification(env_, tag, shape, 'L', none);
    EXPECT_EQ(Newest().value.l, nullptr);
    EXPECT_EQ(Newest().flags, kWeakRefSubject | kObjectValue | kAssignedEvent);
    jobject newTag = NewInstance(env_, "vexotest/Unrelated");
    jvalue value = {};
    value.l = newTag;
    HitFieldModification(env_, tag, shape, 'L', value);
    ASSERT_NE(Newest().value.l, nullptr);
    EXPECT_NE(Newest().value.l, newTag) << "the event's own reference was stored";
    EXPECT_TRUE(Same(Newest().value.l, newTag));
}

TEST_F(Capture, AModificationWithoutValueKindRecordsNoValueAndNoAssignedBit) {
    Activate({ShapeField(0, "count", "I")});
    jvalue value = {};
    value.i = 5;
    HitFieldModification(env_, FieldOf(env_, "vexotest/Shape", "count", "I"),
                         NewInstance(env_, "vexotest/Shape"), 'I', value);
    ASSERT_EQ(Current().eventCount, 1);
    EXPECT_EQ(Newest().flags, kWeakRefSubject);
    EXPECT_EQ(Newest().value.j, 0);
}

TEST_F(Capture, WithALimitOfZeroOrBelowNothingIsRecordedAndOverflowIsSet) {
    for (int limit : {0, -5}) {
        Activate({ShapeArea()}, limit);
        Current().overflow = 0;
        HitArea(NewInstance(env_, "vexotest/Shape"));
        EXPECT_EQ(Current().eventCount, 0) << "limit " << limit;
        EXPECT_EQ(Current().overflow, 1) << "limit " << limit;
    }
}

TEST_F(Capture, AtTheLimitEvenAnUnknownIdentifierSetsOverflow) {
    Activate({ShapeArea()}, 1);
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().overflow, 0);
    HitBreakpoint(env_, MethodOf(env_, "vexotest/Unrelated", "area", "()D"), nullptr);
    EXPECT_EQ(Current().overflow, 1);
    EXPECT_EQ(Current().eventCount, 1);
}

namespace {
std::vector<std::pair<bool, const void*>> g_refusals;
void NoteRefusal(bool refusing, const void* except) { g_refusals.emplace_back(refusing, except); }
}  // namespace

// Past the limit, once the bank shows overflow, hits are refused before the lock (the hooks'
// gates told once), until a reset, a new activation or a bank switch lets them reach it again.
TEST_F(Capture, PastTheLimitHitsAreRefusedBeforeTheLockUntilTheCountOrTheTableChanges) {
    const jmethodID area = MethodOf(env_, "vexotest/Shape", "area", "()D");
    const jmethodID make = StaticMethodOf(env_, "vexotest/Shape", "make", "()Lvexotest/Shape;");
    g_refusals.clear();
    g_recording.refusalListener = NoteRefusal;
    Activate({ShapeArea(), {0x100 | kUnlimitedTracePoint, nullptr, "vexotest.Shape", "make", "()Lvexotest/Shape;"}}, 1);
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitArea(shape);
    EXPECT_FALSE(RefusedWithoutTheLock(area)) << "within the limit";
    HitArea(shape, 3);
    EXPECT_TRUE(RefusedWithoutTheLock(area));
    EXPECT_FALSE(RefusedWithoutTheLock(make)) << "the mark still reaches the recorder";
    HitBreakpoint(env_, make, nullptr);
    EXPECT_EQ(Current().eventCount, 2);
    ResetEventList();
    EXPECT_FALSE(RefusedWithoutTheLock(area));
    HitArea(shape);
    EXPECT_EQ(Current().eventCount, 3) << "recorded again after the reset";
    HitArea(shape);
    Activate({ShapeArea()}, 1);
    EXPECT_FALSE(RefusedWithoutTheLock(area)) << "a new table";
    g_recording.refusalListener = nullptr;
    const std::vector<std::pair<bool, const void*>> told = {
        {true, make}, {false, nullptr}, {true, make}, {false, nullptr}};
    EXPECT_EQ(g_refusals, told);
}

TEST_F(Capture, PastTheLimitOnlyAMarkThatAskedForItIsRecorded) {
    const jmethodID make = StaticMethodOf(env_, "vexotest/Shape", "make", "()Lvexotest/Shape;");
    Activate({ShapeArea(), {0x100 | kUnlimitedTracePoint, nullptr, "vexotest.Shape", "make", "()Lvexotest/Shape;"}}, 1);
    HitArea(NewInstance(env_, "vexotest/Shape"), 2);
    EXPECT_EQ(Current().eventCount, 1);
    HitBreakpoint(env_, make, nullptr);
    HitBreakpoint(env_, make, nullptr);
    EXPECT_EQ(Current().eventCount, 3);
    EXPECT_EQ(Current().overflow, 1) << "the limit was reached all the same";
    Activate({ShapeArea()}, 1);
    EXPECT_EQ(g_tracePoints.unlimited, 0);
}

TEST_F(Capture, EventsRaisedByTheHooksOwnCallsAreIgnored) {
    Activate({ShapeArea()});
    Script().reenterFromGetLocalObject = MethodOf(env_, "vexotest/Shape", "area", "()D");
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().eventCount, 1);
    Script().reenterFromGetLocalObject = nullptr;
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().eventCount, 2) << "the flag was left set after the hook";
}

TEST_F(Capture, OnlyTheRecordThatFillsAnEmptyBankSignals) {
    Activate({ShapeArea()});
    jobject shape = NewInstance(env_, "vexotest/Shape");
    HitArea(shape, 2);
    WaitDataAvailable();  // the first record's signal
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        WaitDataAvailable();
        woke = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(woke.load()) << "the second record signalled too";
    SignalDataAvailable();
    waiter.join();
}

class CaptureWithoutPanel : public Capture {
protected:
    bool RegistersPanel() const override { return false; }
};

TEST_F(CaptureWithoutPanel, TheHookRecordsNothingUntilAPanelIsRegistered) {
    Activate({ShapeArea()});
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().eventCount, 0);
    StderrCapture capture;
    Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr,
                                                   NewInstance(env_, "vexotest/NoDisplayPanel"));
    EXPECT_EQ(capture.Finish(), "ERROR: Vexo failed to find displayEvent method");
    env_->ExceptionClear();
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().eventCount, 0) << "a panel without displayEvent enabled recording";
    Java_com_vexo_NativeApi_nativeSetEventTreePanel(env_, nullptr,
                                                   NewInstance(env_, "vexotest/Panel"));
    HitArea(NewInstance(env_, "vexotest/Shape"));
    EXPECT_EQ(Current().eventCount, 1);
}
}  // namespace

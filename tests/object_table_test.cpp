// The object table: slot hand-out order, directory behaviour, moves, failures and concurrency.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/sync.h"
#include "platform/heap.h"
#include "registry/object_table.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"

namespace {
constexpr size_t kTableCapacity = 65534 + 255 * size_t{65535};

class ObjectTable : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        InitSyncObjects();
    }

    // Inserts `id` as an allocation and returns the handle along with what was reported.
    static SlotHandle Insert(jobjectID id, std::string* errors, SlotHandle classHandle = 0) {
        StderrCapture capture;
        const SlotHandle h = InsertObject(id, classHandle, 0);
        *errors = capture.Finish();
        return h;
    }

    static std::string FailAt(unsigned long n, jobjectID id, SlotHandle* result) {
        MemFailAfter(n);
        std::string errors;
        *result = Insert(id, &errors);
        MemFailAfter(0);
        return errors;
    }
};

TEST_F(ObjectTable, HandsSlotsOutFromTheTopDownAndReusesTheLastReleasedFirst) {
    EXPECT_EQ(InsertObject(100, 7, 0), 65534);
    EXPECT_EQ(InsertObject(200, 0, 0), 65533);
    EXPECT_EQ(InsertObject(300, 0, 0), 65532);
    ReleaseObject(200);
    ReleaseObject(100);
    EXPECT_EQ(InsertObject(400, 0, 0), 65534);
    EXPECT_EQ(InsertObject(500, 0, 0), 65533);
    EXPECT_EQ(InsertObject(600, 0, 0), 65531);

    const ObjectSlot* slot = SlotOf(LookupObject(400));
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->objectId.load(), 400);
    EXPECT_EQ(slot->classHandle.load(), 0) << "a reused slot keeps nothing of its last occupant";
    EXPECT_EQ(slot->reserved1, 0);
    EXPECT_EQ(slot->reserved2, 0);
    EXPECT_EQ(slot->descriptor.load(), nullptr);
}

TEST_F(ObjectTable, APresentIdKeepsItsHandleAndItsClass) {
    const SlotHandle h = InsertObject(0xdeadbeef, 12, 0);
    EXPECT_EQ(InsertObject(0xdeadbeef, 99, 0), h);
    EXPECT_EQ(InsertObject(0xdeadbeef, 0, 4242), h);
    EXPECT_EQ(SlotOf(h)->classHandle.load(), 12);
    EXPECT_EQ(LookupObject(0xdeadbeef), h);
    EXPECT_EQ(CountFreeSlots(), SlotsCreated() - 1);
}

TEST_F(ObjectTable, LookupsReleasesAndMovesOfAbsentIdsCreateAndChangeNothing) {
    InsertObject(0x00001001, 0, 0);
    const size_t freeBefore = CountFreeSlots();
    MemFailAfter(1);  // an allocation by any of the calls below would take the failure
    EXPECT_EQ(LookupObject(0x12345678), 0);
    EXPECT_EQ(LookupObject(0x00001002), 0);  // same leaf table, empty cell
    EXPECT_EQ(LookupObject(0x00401001), 0);  // another middle table
    ReleaseObject(0x77777777);
    ReleaseObject(0x00001002);
    MoveObject(0x00001002, 0x00001003);
    EXPECT_EQ(MemAlloc(8), nullptr) << "a lookup, release or move allocated memory";
    EXPECT_EQ(LookupObject(0x00001003), 0);
    EXPECT_EQ(CountFreeSlots(), freeBefore);
}

TEST_F(ObjectTable, ASecondReleaseOfTheSameIdHasNoEffect) {
    InsertObject(1, 0, 0);
    const SlotHandle kept = InsertObject(2, 0, 0);
    ReleaseObject(1);
    const size_t freeAfterOne = CountFreeSlots();
    ReleaseObject(1);
    EXPECT_EQ(CountFreeSlots(), freeAfterOne);
    EXPECT_EQ(LookupObject(2), kept);
    EXPECT_EQ(SlotOf(kept)->objectId.load(), 2);
}

TEST_F(ObjectTable, The65535thInsertionOpensBlockOneWithItsSlotZero) {
    for (jobjectID id = 1; id <= 65534; ++id) {
        ASSERT_EQ(InsertObject(id, 0, 0), static_cast<SlotHandle>(65535 - id));
    }
    EXPECT_EQ(CountFreeSlots(), 0u);
    EXPECT_EQ(InsertObject(70000, 0, 0), 0x10000);
    EXPECT_EQ(InsertObject(70001, 0, 0), 0x1FFFE);
    EXPECT_EQ(InsertObject(70002, 0, 0), 0x1FFFD);
    EXPECT_EQ(SlotsCreated(), 2u * 65535 - 1);
    EXPECT_EQ(SlotOf(0x10000)->objectId.load(), 70000);
    EXPECT_EQ(SlotOf(0), nullptr);
    EXPECT_EQ(SlotOf(0x20000), nullptr) << "block 2 does not exist yet";
}

TEST_F(ObjectTable, AMoveKeepsTheHandleAndTheSlotAnswersToTheNewId) {
    const SlotHandle classSlot = InsertObject(10, 0, 0);
    const SlotHandle h = InsertObject(0x1000, classSlot, 0);
    MoveObject(0x1000, 0xfff00000);  // into another middle table
    EXPECT_EQ(LookupObject(0x1000), 0);
    EXPECT_EQ(LookupObject(0xfff00000), h);
    EXPECT_EQ(SlotOf(h)->objectId.load(), static_cast<int32_t>(0xfff00000));
    EXPECT_EQ(SlotOf(h)->classHandle.load(), classSlot);
    MoveObject(0xfff00000, 0xfff00000);  // onto itself: still there
    EXPECT_EQ(LookupObject(0xfff00000), h);
}

TEST_F(ObjectTable, AMoveOntoAnEnteredIdFreesTheMoverAndItsDescriptorAndKeepsTheOther) {
    const SlotHandle mover = InsertObject(1, 0, 0);
    const SlotHandle other = InsertObject(2, 5, 0);
    SlotOf(mover)->descriptor.store(static_cast<ClassDescriptor*>(MemAlloc(64)));
    const size_t freeBefore = CountFreeSlots();
    MoveObject(1, 2);
    EXPECT_EQ(LookupObject(1), 0);
    EXPECT_EQ(LookupObject(2), other);
    EXPECT_EQ(SlotOf(other)->objectId.load(), 2);
    EXPECT_EQ(SlotOf(other)->classHandle.load(), 5);
    EXPECT_EQ(CountFreeSlots(), freeBefore + 1);
    EXPECT_EQ(SlotOf(mover)->descriptor.load(), nullptr) << "the descriptor was not taken out";
    EXPECT_EQ(InsertObject(3, 0, 0), mover);
}

TEST_F(ObjectTable, AMoveOfAnAbsentIdLeavesTheNewIdAbsent) {
    InsertObject(1, 0, 0);
    MoveObject(2, 3);
    EXPECT_EQ(LookupObject(3), 0);
    EXPECT_NE(LookupObject(1), 0);
}

TEST_F(ObjectTable, FailedDirectoryAllocationsReportTheirSizeAndLeaveInstalledTables) {
    const int pointerTable = static_cast<int>(1024 * sizeof(void*));
    SlotHandle result = -1;
    EXPECT_EQ(FailAt(1, 0x00400001, &result),
              "ERROR: VexoDll failed to allocate " + std::to_string(pointerTable) + " bytes\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(FailAt(2, 0x00400001, &result),
              "ERROR: VexoDll failed to allocate " + std::to_string(pointerTable) + " bytes\n");
    EXPECT_EQ(result, 0);
    // The top table stayed installed: the middle table is now the first allocation.
    EXPECT_EQ(FailAt(2, 0x00400001, &result), "ERROR: VexoDll failed to allocate 16384 bytes\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(LookupObject(0x00400001), 0);
    // Only the leaf table is missing now, and a slot comes from the free list.
    EXPECT_EQ(FailAt(2, 0x00400001, &result), "") << "a table was allocated twice";
    EXPECT_EQ(result, 65534);
    EXPECT_EQ(CountFreeSlots(), SlotsCreated() - 1) << "a failed insertion used a slot";
}

TEST_F(ObjectTable, AFailedBlockAllocationIsReportedAndTheNextInsertionRetries) {
    for (jobjectID id = 1; id <= 65534; ++id) InsertObject(id, 0, 0);
    SlotHandle result = -1;
    const size_t blockBytes = sizeof(ObjectSlot) * 65535;
    EXPECT_EQ(FailAt(1, 65535, &result),  // 65535 shares a leaf table with 61440..65534
              "ERROR: VexoDll failed to allocate " + std::to_string(blockBytes) + " bytes\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(LookupObject(65535), 0);
    std::string errors;
    EXPECT_EQ(Insert(65535, &errors), 0x10000);
    EXPECT_EQ(errors, "");
}

TEST_F(ObjectTable, TheFullTableRefusesTheNextIdWithoutALineFeed) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "one thread fills the table: nothing for ThreadSanitizer to see, at 30 times the time";
#endif
#endif
    jobjectID id = 1;
    for (size_t n = 0; n < kTableCapacity; ++n, ++id) {
        if (InsertObject(id, 0, 0) == 0) FAIL() << "insertion " << n << " failed";
    }
    EXPECT_EQ(SlotsCreated(), kTableCapacity);
    EXPECT_EQ(CountFreeSlots(), 0u);
    std::string errors;
    EXPECT_EQ(Insert(id, &errors), 0);
    EXPECT_EQ(errors, "ERROR: out of space in object table");
    EXPECT_EQ(LookupObject(id), 0);
    // A release makes room again.
    ReleaseObject(1);
    EXPECT_EQ(Insert(id, &errors), 65534);
}

// Inserts, moves, releases and lookups from several threads over overlapping id ranges; at the
// end every entry must be consistent with its slot and no slot may be lost or shared.
TEST_F(ObjectTable, ConcurrentUseKeepsEntriesAndSlotsConsistent) {
    constexpr jobjectID kIds = 3000;
    constexpr int kThreads = 4;
    constexpr int kOperations = 60000;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([t] {
            std::mt19937 random(1234 + t);
            std::uniform_int_distribution<jobjectID> anyId(1, kIds);
            std::uniform_int_distribution<int> anyOp(0, 9);
            for (int i = 0; i < kOperations; ++i) {
                // Spread the ids over several middle and leaf tables.
                const jobjectID id = anyId(random) * 0x1001;
                switch (anyOp(random)) {
                    case 0: case 1: case 2: InsertObject(id, 0, 0); break;
                    case 3: case 4: ReleaseObject(id); break;
                    case 5: case 6: MoveObject(id, anyId(random) * 0x1001); break;
                    default: {
                        const SlotHandle h = LookupObject(id);
                        if (h != 0) (void)SlotOf(h)->objectId.load(std::memory_order_relaxed);
                    }
                }
            }
        });
    }
    for (auto& w : workers) w.join();

    std::set<SlotHandle> live;
    for (jobjectID n = 1; n <= kIds; ++n) {
        const jobjectID id = n * 0x1001;
        const SlotHandle h = LookupObject(id);
        if (h == 0) continue;
        ASSERT_NE(SlotOf(h), nullptr);
        EXPECT_EQ(SlotOf(h)->objectId.load(), static_cast<int32_t>(id)) << "handle " << h;
        EXPECT_TRUE(live.insert(h).second) << "handle " << h << " serves two ids";
    }
    EXPECT_EQ(live.size() + CountFreeSlots(), SlotsCreated()) << "slots were lost or doubled";
}
}  // namespace

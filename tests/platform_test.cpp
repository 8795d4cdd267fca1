// The operating-system services and the synchronisation objects built on them.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/agent_state.h"
#include "core/reentrancy.h"
#include "core/sync.h"
#include "platform/heap.h"
#include "platform/os.h"
#include "tests/harness/test_jvm.h"

namespace {
void WaitUntil(const std::atomic<int>& value, int wanted) {
    while (value.load() != wanted) std::this_thread::yield();
}

TEST(OsEvent, ASetWithNoWaiterIsKeptAndReleasesExactlyOneWait) {
    OsEvent event;
    ASSERT_TRUE(OsEventInit(&event));
    OsEventSet(&event);
    OsEventSet(&event);  // sets do not count up: one kept set releases one wait
    OsEventWait(&event);

    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            OsEventWait(&event);
            ++released;
        });
    }
    OsEventSet(&event);
    WaitUntil(released, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(released.load(), 1) << "one set released more than one wait";
    OsEventSet(&event);
    WaitUntil(released, 2);
    for (auto& t : waiters) t.join();
}

TEST(OsLock, TheOwnerMayEnterAgainAndOthersWaitUntilItLeavesFully) {
    OsLock lock;
    ASSERT_TRUE(OsLockInit(&lock));
    OsLockEnter(&lock);
    OsLockEnter(&lock);
    std::atomic<int> otherInside{0};
    std::thread other([&] {
        OsLockEnter(&lock);
        otherInside = 1;
        OsLockLeave(&lock);
    });
    OsLockLeave(&lock);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(otherInside.load(), 0) << "entered while the owner still held the lock once";
    OsLockLeave(&lock);
    other.join();
    EXPECT_EQ(otherInside.load(), 1);
}

TEST(Heap, TheArmedAllocationFailsOnceAndOnlyIt) {
    MemFailAfter(2);
    void* first = MemAlloc(16);
    void* second = MemAlloc(16);
    void* third = MemAlloc(16);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    MemFree(first);
    MemFree(third);
}

TEST(ReentrancyFlag, EachThreadHasItsOwnFlagCreatedAsZero) {
    unsigned char* mine = CurrentReentrancyFlag();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(*mine, 0);
    *mine = 1;
    EXPECT_EQ(CurrentReentrancyFlag(), mine);
    unsigned char* theirs = nullptr;
    unsigned char theirValue = 9;
    std::thread other([&] {
        theirs = CurrentReentrancyFlag();
        theirValue = *theirs;
    });
    other.join();
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirValue, 0);
    *mine = 0;
}

TEST(RegionQuery, DescribesStackCodeReservedAndUnmappedAddresses) {
    int onStack = 0;
    OsRegionInfo info;
    ASSERT_TRUE(OsQueryRegion(&onStack, &info));
    const auto address = reinterpret_cast<uintptr_t>(&onStack);
    EXPECT_LE(info.base, address);
    EXPECT_GT(info.base + info.size, address);
    EXPECT_TRUE(info.committed && info.readable && info.writable);

    ASSERT_TRUE(OsQueryRegion(reinterpret_cast<const void*>(&OsQueryRegion), &info));
    EXPECT_TRUE(info.readable);
    EXPECT_FALSE(info.writable);

    const size_t page = 4096;
    void* reserved = mmap(nullptr, 4 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(reserved, MAP_FAILED);
    ASSERT_TRUE(OsQueryRegion(static_cast<char*>(reserved) + page, &info));
    EXPECT_FALSE(info.committed);
    EXPECT_FALSE(info.readable);
    munmap(reserved, 4 * page);
    EXPECT_FALSE(OsQueryRegion(static_cast<char*>(reserved) + page, &info));

    EXPECT_FALSE(OsQueryRegion(reinterpret_cast<const void*>(0x10), &info));
}

TEST(SyncObjects, ConcurrentFirstCallsMakeOneSetAndLaterCallsMakeNothing) {
    ExpectFreshProcess();
    std::atomic<int> go{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) {
        callers.emplace_back([&] {
            while (go.load() == 0) std::this_thread::yield();
            InitSyncObjects();
            // Every caller returns with usable objects.
            EnterLock(&g_agent.recordingLock);
            LeaveLock(&g_agent.recordingLock);
        });
    }
    go = 1;
    for (auto& t : callers) t.join();
    void* const recording = g_agent.recordingLock.impl;
    void* const slots = g_agent.slotLock.impl;
    void* const event = g_agent.dataAvailableEvent.impl;
    ASSERT_NE(recording, nullptr);
    EXPECT_NE(recording, slots);
    InitSyncObjects();
    EXPECT_EQ(g_agent.recordingLock.impl, recording);
    EXPECT_EQ(g_agent.slotLock.impl, slots);
    EXPECT_EQ(g_agent.dataAvailableEvent.impl, event);
    SignalDataAvailable();
    WaitDataAvailable();  // returns: the set was kept
}
}  // namespace

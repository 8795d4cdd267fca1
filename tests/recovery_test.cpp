// Reference recovery on JVMPI 1: identifiers read through references, and the stack scan that
// finds a cell holding an identifier while its allocation event is being delivered.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "platform/os.h"
#include "registry/object_table.h"
#include "registry/reference_recovery.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"

namespace {
constexpr jobjectID kId = 0x7654320;

class Recovery : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        Script().jvmpi11Status = JNI_EVERSION;  // JVMPI 1 only
        StartAgent("nojvmdi");
        ASSERT_EQ(g_agent.jvmpiVersion, 1);
        ASSERT_TRUE(g_agent.profilerMode);
    }

    // Delivers the requested allocation with `cellAddress` held in this frame, as a virtual
    // machine's delivering frames hold the object's cell.
    static void DeliverWithCell(jobjectID id, const void* cellAddress) {
        const void* volatile held = cellAddress;
        JVMPI_Event e = {};
        e.event_type = JVMPI_EVENT_OBJECT_ALLOC | JVMPI_REQUESTED_EVENT;
        e.u.obj_alloc.obj_id = id;
        SendProfilerEvent(&e);
        (void)held;
    }
};

TEST_F(Recovery, AnIdentifierIsReadThroughTheReferenceAndItsCell) {
    uint32_t object = kId;
    uintptr_t cell = reinterpret_cast<uintptr_t>(&object);
    EXPECT_EQ(ObjectIdOfRef(reinterpret_cast<jobject>(&cell)), kId);
    EXPECT_EQ(ObjectIdOfRef(nullptr), 0u);
    JVMPI_Interface* profiler = g_agent.jvmpi;
    g_agent.jvmpi = nullptr;
    EXPECT_EQ(ObjectIdOfRef(reinterpret_cast<jobject>(&cell)), 0u) << "no profiler, no identifier";
    EXPECT_EQ(RecoverObjectRef(kId), 0u);
    g_agent.jvmpi = profiler;
}

TEST_F(Recovery, TheScanFindsTheCellOnTheDeliveringStackAndFindsItAgainFromItsCache) {
    Script().onRequestEvent = [](jint type, jobjectID id) {
        volatile jobjectID cell = id;
        if (type == JVMPI_EVENT_OBJECT_ALLOC) DeliverWithCell(id, const_cast<jobjectID*>(&cell));
    };
    const uintptr_t first = RecoverObjectRef(kId);
    ASSERT_NE(first, 0u);
    // The cell belongs to a delivering frame, gone once the recovery returns, so only its place
    // is checked: this thread's stack (unoptimised or instrumented code may keep other copies of
    // the identifier in those frames, and the scan may take one of them).
    OsRegionInfo stack, cell;
    const int here = 0;
    ASSERT_TRUE(OsQueryRegion(&here, &stack) && OsQueryRegion(reinterpret_cast<const void*>(first), &cell));
    EXPECT_EQ(cell.base, stack.base) << "the cell is not on this thread's stack";
    EXPECT_EQ(RecoveringId(), 0u) << "the recovery did not end";
    EXPECT_NE(LookupObject(kId), 0) << "the event was handled as usual afterwards";
    EXPECT_EQ(RecoverObjectRef(kId), first) << "the same stack position, from the cache";
}

TEST_F(Recovery, OnlyCellsInReadableCommittedMemoryAreAccepted) {
    const size_t page = 4096;
    void* memory = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    std::memcpy(memory, &kId, sizeof kId);
    static void* s_cell;
    s_cell = memory;
    Script().onRequestEvent = [](jint type, jobjectID id) {
        if (type == JVMPI_EVENT_OBJECT_ALLOC) DeliverWithCell(id, s_cell);
    };
    // Instrumented builds may keep other cells holding the identifier in the delivering frames;
    // those qualify too, so the test asks only about the page.
    ASSERT_EQ(mprotect(memory, page, PROT_NONE), 0);
    EXPECT_NE(RecoverObjectRef(kId), reinterpret_cast<uintptr_t>(memory)) << "a no-access page was taken";
    ASSERT_EQ(mprotect(memory, page, PROT_READ), 0);
    const uintptr_t found = RecoverObjectRef(kId);
    ASSERT_NE(found, 0u) << "the readable page holding the identifier was not found";
    if (found != reinterpret_cast<uintptr_t>(memory)) {
        // Such a cell of the delivering frames is on this thread's stack, and may be gone by now.
        OsRegionInfo stack, cell;
        const int here = 0;
        ASSERT_TRUE(OsQueryRegion(&here, &stack) && OsQueryRegion(reinterpret_cast<const void*>(found), &cell));
        EXPECT_EQ(cell.base, stack.base) << "a cell neither on the page nor on the stack was taken";
    }
    Script().onRequestEvent = nullptr;
    EXPECT_EQ(RecoverObjectRef(kId + 8), 0u) << "nothing delivered, nothing found";
    munmap(memory, page);
}

TEST_F(Recovery, OutsideProfilerModeNoScanRuns) {
    Script().onRequestEvent = [](jint type, jobjectID id) {
        volatile jobjectID cell = id;
        if (type == JVMPI_EVENT_OBJECT_ALLOC) DeliverWithCell(id, const_cast<jobjectID*>(&cell));
    };
    g_agent.profilerMode = false;
    EXPECT_EQ(RecoverObjectRef(kId), 0u);
    g_agent.profilerMode = true;
}
}  // namespace

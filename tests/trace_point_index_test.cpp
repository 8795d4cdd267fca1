// The trace point index: every member's entries found in table order (the first decides), none
// for a member the table does not hold, over tables small and large with repeated members.
#include <gtest/gtest.h>

#include <vector>

#include "trace/trace_point_index.h"

namespace {
void* Member(int k) { return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + 8 * k)); }

TEST(TracePointIndex, FindsEveryEntryOfAMemberInTableOrder) {
    for (const int count : {1, 3, 17, 10000}) {
        std::vector<TracePointEntry> entries(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) entries[i].memberId = Member(i % 7 == 3 ? 3 : i);  // member 3 repeats
        TracePointIndex index;
        ASSERT_TRUE(BuildTracePointIndex(entries.data(), count, &index));
        for (int k = 0; k <= count; ++k) {
            std::vector<int32_t> linear, indexed;
            for (int i = 0; i < count; ++i) {
                if (entries[i].memberId == Member(k)) linear.push_back(i);
            }
            for (int32_t i = FirstEntryOf(index, entries.data(), Member(k)); i >= 0; i = NextEntryOf(index, i)) {
                indexed.push_back(i);
            }
            ASSERT_EQ(indexed, linear) << "member " << k << " of a table of " << count;
        }
        FreeTracePointIndex(&index);
        EXPECT_EQ(index.slots, nullptr);
    }
}
}  // namespace

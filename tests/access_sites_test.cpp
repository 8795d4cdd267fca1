// The numbers of field access sites: a place keeps its number however often it is rewritten or
// met, by any thread; the table stops at its bound, says so once, and still answers the places
// it holds.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/harness/stderr_capture.h"
#include "trace/access_sites.h"

namespace {
jmethodID FakeMethod(int k) { return reinterpret_cast<jmethodID>(static_cast<uintptr_t>(0x1000 + 8 * k)); }

TEST(AccessSites, APlaceKeepsItsNumberAndTheTableStopsAtItsBound) {
    const int32_t deposit = NumberCodeSite("demo/Account", "deposit", "Account.java", 15);
    EXPECT_GT(deposit, 0);
    EXPECT_EQ(NumberCodeSite("demo/Account", "deposit", "Account.java", 15), deposit);
    EXPECT_NE(NumberCodeSite("demo/Account", "deposit", "Account.java", 16), deposit);
    EXPECT_NE(NumberCodeSite("demo/SavingsAccount", "deposit", "Account.java", 15), deposit);
    const int32_t watched = NumberMethodSite(FakeMethod(1), 7);
    EXPECT_GT(watched, 0);
    EXPECT_NE(watched, deposit);
    EXPECT_EQ(NumberMethodSite(FakeMethod(1), 7), watched);
    EXPECT_NE(NumberMethodSite(FakeMethod(1), 8), watched);
    int32_t elsewhere = 0;
    std::thread([&elsewhere] { elsewhere = NumberMethodSite(FakeMethod(1), 7); }).join();
    EXPECT_EQ(elsewhere, watched) << "another thread meets the same site";
    EXPECT_EQ(NumberMethodSite(nullptr, 7), 0);

    StderrCapture captured;
    int32_t last = 0, given = 0;
    for (int line = 0; line < kMaxAccessSites + 10; ++line) {
        const int32_t n = NumberCodeSite("demo/Filler", "fill", "Filler.java", line);
        if (n == 0) continue;
        EXPECT_GT(n, last);
        last = n;
        ++given;
    }
    EXPECT_EQ(last, kMaxAccessSites - 1);
    EXPECT_EQ(NumberMethodSite(FakeMethod(2), 0), 0) << "a full table numbers no new site";
    EXPECT_EQ(NumberCodeSite("demo/Account", "deposit", "Account.java", 15), deposit) << "but keeps its own";
    const std::string said = captured.Finish();
    EXPECT_EQ(said, "vexo: more than 65535 field access sites; the later ones are not named\n");
    EXPECT_LT(given, kMaxAccessSites);
}
}  // namespace

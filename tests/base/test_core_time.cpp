// CJXTime, the test clock, CJXTimeout and CJXMutex.
#include "JXMutex.h"
#include "JXTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kStart = 1000000;

class CoreTestClock : public ::testing::Test {
protected:
    void SetUp() override { CJXTime::UseTestClock(kStart); }
    void TearDown() override { CJXTime::UseRealClock(); }
};

// A time-out driven by the test clock: each step advances the clock, then
// checks (with a new period and rearming when asked) and reads what is left.
TEST_F(CoreTestClock, TimeoutSteps)
{
    struct Step {
        uint64_t advance;
        uint32_t period;
        bool bRearm;
        bool bExpired;
        uint32_t remaining;
    };
    constexpr uint32_t kAny = 0xFFFFFFFFu;   // the remaining time is not looked at
    const struct {
        const char* name;
        uint64_t start;
        uint32_t period;   // armed with Setup
        std::vector<Step> steps;
    } rows[] = {
        {"expires exactly on time, and stays expired",
         kStart,
         10000,
         {{0, 0, false, false, 10000}, {9999, 0, false, false, 1}, {1, 0, false, true, 0}, {50000, 0, false, true, 0}}},
        {"rearm with the same period, then a new one",
         kStart,
         20000,
         {{20000, 0, true, true, kAny},
          {0, 0, false, false, 20000},
          {19999, 0, false, false, 1},
          {1, 500, true, true, kAny},
          {0, 0, false, false, 500},
          {499, 0, false, false, 1},
          {1, 0, false, true, 0}}},
        {"disarmed never fires", kStart, 0, {{1ull << 40, 0, false, false, 0}, {0, 0, true, false, 0}}},
        {"a long period does not wrap",
         0xFFFFFFF0ull,
         0xFFFFFFFFu,
         {{0xFFFFFFFEull, 0, false, false, 1}, {1, 0, false, true, 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CJXTime::UseTestClock(row.start);
        EXPECT_EQ(CJXTime::GetTimeMS(), row.start);
        CJXTimeout t;
        t.Setup(row.period);
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const Step& s = row.steps[i];
            CJXTime::AdvanceTestClock(s.advance);
            EXPECT_EQ(t.Check(s.period, s.bRearm), s.bExpired) << "step " << i;
            EXPECT_TRUE(s.remaining == kAny || t.Remaining() == s.remaining) << "step " << i << ": " << t.Remaining();
        }
    }
    // Disarmed by writing the period, as the client's reconnect timer is.
    CJXTimeout t(1000);
    t.m_Period = 0;
    CJXTime::AdvanceTestClock(5000);
    EXPECT_FALSE(t.Check());
}

TEST_F(CoreTestClock, ConcurrentAdvanceIsSeenInOrder)
{
    std::atomic<bool> bDone{false};
    std::atomic<int32_t> nBackwards{0};
    std::thread reader([&] {
        uint64_t nLast = CJXTime::GetTimeMS();
        while (!bDone.load()) {
            const uint64_t nNow = CJXTime::GetTimeMS();
            if (nNow < nLast) ++nBackwards;
            nLast = nNow;
        }
    });
    for (int32_t i = 0; i < 20000; ++i)
        CJXTime::AdvanceTestClock(1);
    bDone = true;
    reader.join();
    EXPECT_EQ(nBackwards.load(), 0);
    EXPECT_EQ(CJXTime::GetTimeMS(), kStart + 20000u);
}

TEST(CoreTime, RealClocks)
{
    CJXTime::UseRealClock();
    const uint64_t nStart = CJXTime::GetTimeMS();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(CJXTime::GetTimeMS() - nStart, 19u);

    CJXTime t;
    t.SetTime();
    const int64_t nNow = static_cast<int64_t>(time(nullptr));
    EXPECT_LE(static_cast<int64_t>(t.m_Time), nNow + 1);
    EXPECT_GE(static_cast<int64_t>(t.m_Time), nNow - 1);
    EXPECT_LT(t.m_MS, 1000u);
}

TEST(CoreTime, AddCarriesMilliseconds)
{
    const struct {
        uint32_t nTime, nMS, nAdd, nExpectTime, nExpectMS;
    } rows[] = {
        {100, 900, 250, 101, 150}, {100, 999, 1, 101, 0}, {100, 0, 10000, 110, 0}, {0, 500, 0xFFFFFFFFu, 4294967, 795}};
    for (const auto& row : rows) {
        CJXTime t;
        t.m_Time = row.nTime;
        t.m_MS = row.nMS;
        t.Add(row.nAdd);
        EXPECT_EQ(t.m_Time, row.nExpectTime) << row.nAdd;
        EXPECT_EQ(t.m_MS, row.nExpectMS) << row.nAdd;
    }
}

TEST(CoreTime, GetTimeGivesLocalCalendar)
{
    struct tm want {};
    want.tm_year = 2026 - 1900;
    want.tm_mon = 11;
    want.tm_mday = 7;
    want.tm_hour = 2;
    want.tm_min = 3;
    want.tm_sec = 4;
    want.tm_isdst = -1;
    const time_t nWhen = mktime(&want);
    ASSERT_NE(nWhen, static_cast<time_t>(-1));
    CJXTime t;
    t.m_Time = static_cast<uint32_t>(nWhen);
    t.m_MS = 123;
    YRTIME out{};
    t.GetTime(out);
    const uint16_t expected[] = {2026, 12, 7, 2, 3, 4, 123};
    const uint16_t got[] = {out.wYear, out.wMonth, out.wDay, out.wHour, out.wMinute, out.wSecond, out.wMilliseconds};
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(got[i], expected[i]) << i;
}

TEST(CoreMutex, RecursiveTimedAndExclusive)
{
    CJXMutex m;
    ASSERT_TRUE(m.Enter());
    ASSERT_TRUE(m.Enter(0));   // the owner enters again
    std::atomic<int32_t> nResult{-1};
    std::thread other([&] {
        const auto start = std::chrono::steady_clock::now();
        const bool bGot = m.Enter(30);
        const auto waited = std::chrono::steady_clock::now() - start;
        nResult = bGot ? 1 : (waited >= std::chrono::milliseconds(25) ? 0 : 2);
        if (bGot) m.Leave();
    });
    other.join();
    EXPECT_EQ(nResult.load(), 0);   // timed out after waiting
    m.Leave();
    m.Leave();
    std::thread again([&] {
        nResult = m.Enter(0) ? 1 : 0;
        if (nResult == 1) m.Leave();
    });
    again.join();
    EXPECT_EQ(nResult.load(), 1);

    int64_t nCounter = 0;
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int32_t i = 0; i < 20000; ++i) {
                CJXAutoLock lock(m);
                ++nCounter;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(nCounter, 80000);
}

}   // namespace

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

class CoreTestClock : public ::testing::Test {
protected:
    void SetUp() override { CJXTime::UseTestClock(1000000); }
    void TearDown() override { CJXTime::UseRealClock(); }
};

TEST_F(CoreTestClock, ClockFollowsTheTest)
{
    EXPECT_EQ(CJXTime::GetTimeMS(), 1000000u);
    CJXTime::AdvanceTestClock(250);
    EXPECT_EQ(CJXTime::GetTimeMS(), 1000250u);
    CJXTime::UseTestClock(5);
    EXPECT_EQ(CJXTime::GetTimeMS(), 5u);
}

TEST_F(CoreTestClock, TimeoutExpiresExactlyOnTime)
{
    CJXTimeout t;
    t.Setup(10000);
    EXPECT_EQ(t.m_Period, 10000u);
    EXPECT_FALSE(t.Check());
    EXPECT_EQ(t.Remaining(), 10000u);
    CJXTime::AdvanceTestClock(9999);
    EXPECT_FALSE(t.Check());
    EXPECT_EQ(t.Remaining(), 1u);
    CJXTime::AdvanceTestClock(1);
    EXPECT_TRUE(t.Check());
    EXPECT_EQ(t.Remaining(), 0u);
    // Without rearming it stays expired.
    CJXTime::AdvanceTestClock(50000);
    EXPECT_TRUE(t.Check(0, false));
}

TEST_F(CoreTestClock, TimeoutRearm)
{
    CJXTimeout t(20000);
    CJXTime::AdvanceTestClock(20000);
    EXPECT_TRUE(t.Check(0, true));    // rearmed with the same period
    EXPECT_FALSE(t.Check());
    CJXTime::AdvanceTestClock(19999);
    EXPECT_FALSE(t.Check());
    CJXTime::AdvanceTestClock(1);
    EXPECT_TRUE(t.Check(500, true));  // rearmed with a new period
    EXPECT_EQ(t.m_Period, 500u);
    CJXTime::AdvanceTestClock(499);
    EXPECT_FALSE(t.Check());
    CJXTime::AdvanceTestClock(1);
    EXPECT_TRUE(t.Check());
}

TEST_F(CoreTestClock, DisarmedNeverFires)
{
    CJXTimeout never(0);
    CJXTime::AdvanceTestClock(1ull << 40);
    EXPECT_FALSE(never.Check());
    EXPECT_FALSE(never.Check(0, true));
    EXPECT_EQ(never.Remaining(), 0u);

    CJXTimeout t;
    t.Setup(1000);
    t.m_Period = 0;   // disarmed by writing the period
    CJXTime::AdvanceTestClock(5000);
    EXPECT_FALSE(t.Check());
    t.Setup(0);
    EXPECT_FALSE(t.Check());
}

TEST_F(CoreTestClock, LongPeriodDoesNotWrap)
{
    CJXTime::UseTestClock(0xFFFFFFF0ull);
    CJXTimeout t;
    t.Setup(0xFFFFFFFFu);
    CJXTime::AdvanceTestClock(0xFFFFFFFEull);
    EXPECT_FALSE(t.Check());
    EXPECT_EQ(t.Remaining(), 1u);
    CJXTime::AdvanceTestClock(1);
    EXPECT_TRUE(t.Check());
}

TEST_F(CoreTestClock, ConcurrentAdvanceIsSeenInOrder)
{
    std::atomic<bool> bDone{false};
    std::atomic<int32_t> nBackwards{0};
    std::thread reader([&] {
        uint64_t nLast = CJXTime::GetTimeMS();
        while (!bDone.load()) {
            const uint64_t nNow = CJXTime::GetTimeMS();
            if (nNow < nLast) {
                ++nBackwards;
            }
            nLast = nNow;
        }
    });
    for (int32_t i = 0; i < 20000; ++i) {
        CJXTime::AdvanceTestClock(1);
    }
    bDone = true;
    reader.join();
    EXPECT_EQ(nBackwards.load(), 0);
    EXPECT_EQ(CJXTime::GetTimeMS(), 1000000u + 20000u);
}

TEST(CoreTime, RealClockIsMonotonic)
{
    CJXTime::UseRealClock();
    uint64_t nLast = CJXTime::GetTimeMS();
    for (int32_t i = 0; i < 100000; ++i) {
        const uint64_t nNow = CJXTime::GetTimeMS();
        ASSERT_GE(nNow, nLast);
        nLast = nNow;
    }
    const uint64_t nStart = CJXTime::GetTimeMS();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(CJXTime::GetTimeMS() - nStart, 19u);
}

TEST(CoreTime, SetTimeIsWallClock)
{
    CJXTime t;
    EXPECT_EQ(t.m_Time, 0u);
    t.SetTime();
    const time_t nNow = time(nullptr);
    EXPECT_LE(static_cast<int64_t>(t.m_Time), static_cast<int64_t>(nNow) + 1);
    EXPECT_GE(static_cast<int64_t>(t.m_Time), static_cast<int64_t>(nNow) - 1);
    EXPECT_LT(t.m_MS, 1000u);

    CJXTime copy(&t);
    EXPECT_EQ(copy.m_Time, t.m_Time);
    EXPECT_EQ(copy.m_MS, t.m_MS);
}

TEST(CoreTime, AddCarriesMilliseconds)
{
    struct Case {
        uint32_t nTime, nMS, nAdd, nExpectTime, nExpectMS;
    };
    const Case cases[] = {
        {100, 0, 0, 100, 0},
        {100, 900, 250, 101, 150},
        {100, 999, 1, 101, 0},
        {100, 0, 10000, 110, 0},
        {0, 500, 0xFFFFFFFFu, 4294967, 795},
    };
    for (const Case& c : cases) {
        CJXTime t;
        t.m_Time = c.nTime;
        t.m_MS = c.nMS;
        t.Add(c.nAdd);
        EXPECT_EQ(t.m_Time, c.nExpectTime) << c.nAdd;
        EXPECT_EQ(t.m_MS, c.nExpectMS) << c.nAdd;
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
    EXPECT_EQ(out.wYear, 2026);
    EXPECT_EQ(out.wMonth, 12);
    EXPECT_EQ(out.wDay, 7);
    EXPECT_EQ(out.wHour, 2);
    EXPECT_EQ(out.wMinute, 3);
    EXPECT_EQ(out.wSecond, 4);
    EXPECT_EQ(out.wMilliseconds, 123);
}

TEST(CoreMutex, RecursiveAndTimed)
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
        if (bGot) {
            m.Leave();
        }
    });
    other.join();
    EXPECT_EQ(nResult.load(), 0);   // timed out after waiting
    m.Leave();
    m.Leave();
    std::thread again([&] {
        nResult = m.Enter(0) ? 1 : 0;
        if (nResult == 1) {
            m.Leave();
        }
    });
    again.join();
    EXPECT_EQ(nResult.load(), 1);
}

TEST(CoreMutex, ExcludesOtherThreads)
{
    CJXMutex m;
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
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(nCounter, 80000);
}

}  // namespace

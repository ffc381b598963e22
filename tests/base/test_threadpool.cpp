// The worker pool: rounds over the members, the wait hint, attach and detach
// from other threads and from inside a call, and ending the pool from inside.
#include "JXThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;

int64_t MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

template <typename Pred>
bool WaitFor(Pred pred, int32_t nMs = 2000)
{
    Clock::time_point t0 = Clock::now();
    while (!pred()) {
        if (MsSince(t0) > nMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void SleepMs(int32_t nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// A member that counts its calls and checks it never runs twice at once.
// Settings are made before Attach; the pool's lock publishes them.
class CMember : public CJXObject {
public:
    static constexpr uint32_t kKeepHint = 0xFFFFFFFFu;

    int OnWork(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait)
    {
        int32_t nInside = ++m_Inside;
        if (nInside > m_MaxInside) m_MaxInside = nInside;
        int32_t nNow = ++s_Running;
        if (nNow > s_MaxRunning) s_MaxRunning = nNow;
        if (pMsg != nullptr || nValue != 0) m_BadArgs = true;
        m_LastHintIn = nWait;
        m_Thread = std::this_thread::get_id();
        if (m_Pool) m_OnPoolThread = m_Pool->IsPoolThread();

        int32_t nCall = ++m_Calls;
        if (m_SleepMs > 0) SleepMs(m_SleepMs);
        if (m_SetHint != kKeepHint) nWait = m_SetHint;
        if (nCall == m_ActOnCall) Act();

        --s_Running;
        --m_Inside;
        return 0;
    }

    virtual void Act() {}

    CJXThreadPool* m_Pool = nullptr;
    uint32_t m_SetHint = kKeepHint;
    int32_t m_SleepMs = 0;
    int32_t m_ActOnCall = -1;

    std::atomic<int32_t> m_Calls{0};
    std::atomic<int32_t> m_Inside{0};
    std::atomic<int32_t> m_MaxInside{0};
    std::atomic<uint32_t> m_LastHintIn{0};
    std::atomic<bool> m_BadArgs{false};
    std::atomic<bool> m_OnPoolThread{false};
    std::atomic<std::thread::id> m_Thread{};

    static std::atomic<int32_t> s_Running;
    static std::atomic<int32_t> s_MaxRunning;
};

std::atomic<int32_t> CMember::s_Running{0};
std::atomic<int32_t> CMember::s_MaxRunning{0};

const JXWorkFunc kWork = JX_WORK_FUNC(&CMember::OnWork);

TEST(ThreadPool, CallsMembersOnItsThreadWithTheMaxWaitAsHint)
{
    CMember m;
    CJXThreadPool pool(1, "PoolTest", 0, 24);
    EXPECT_FALSE(pool.IsPoolThread());
    m.m_Pool = &pool;
    m.m_SetHint = 1;
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    EXPECT_EQ(pool.GetCount(), 1);
    ASSERT_TRUE(WaitFor([&] { return m.m_Calls >= 3; }));
    EXPECT_EQ(m.m_LastHintIn, 24u);
    EXPECT_FALSE(m.m_BadArgs);
    EXPECT_TRUE(m.m_OnPoolThread);
    EXPECT_NE(m.m_Thread.load(), std::this_thread::get_id());
    EXPECT_EQ(pool.Detach(&m, kWork), 0);
}

TEST(ThreadPool, AttachAndDetachBookkeeping)
{
    CMember a, b;
    CJXThreadPool pool(1, "PoolTest");
    EXPECT_EQ(pool.Attach(nullptr, kWork), JX_ERR_ARG);
    EXPECT_EQ(pool.Attach(&a, nullptr), JX_ERR_ARG);
    EXPECT_EQ(pool.Detach(nullptr, kWork), JX_ERR_ARG);
    EXPECT_EQ(pool.Detach(&a, kWork), JX_ERR_STATE);

    ASSERT_EQ(pool.Attach(&a, kWork), JX_OK);
    ASSERT_EQ(pool.Attach(&a, kWork), JX_OK);   // the same pair is kept once
    ASSERT_EQ(pool.Attach(&b, kWork), JX_OK);
    EXPECT_EQ(pool.GetCount(), 2);
    ASSERT_TRUE(WaitFor([&] { return a.m_Calls >= 2 && b.m_Calls >= 2; }));

    EXPECT_EQ(pool.Detach(&a, kWork), 0);
    EXPECT_EQ(pool.Detach(&a, kWork), JX_ERR_STATE);   // once is enough
    EXPECT_EQ(pool.GetCount(), 1);
    int32_t nFrozen = a.m_Calls;
    int32_t nB = b.m_Calls;
    ASSERT_TRUE(WaitFor([&] { return b.m_Calls >= nB + 3; }));
    EXPECT_EQ(a.m_Calls, nFrozen);

    // A detached member may come back.
    ASSERT_EQ(pool.Attach(&a, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return a.m_Calls > nFrozen; }));
    EXPECT_EQ(pool.GetCount(), 2);
}

TEST(ThreadPool, DetachWaitsForTheRunningCall)
{
    CMember m;
    CJXThreadPool pool(1, "PoolTest");
    m.m_SleepMs = 50;
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return m.m_Inside == 1; }));

    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(pool.Detach(&m, kWork), 0);
    int64_t nWaited = MsSince(t0);
    EXPECT_EQ(m.m_Inside, 0);   // the call had ended when Detach returned
    EXPECT_GE(nWaited, 20);
    int32_t nCalls = m.m_Calls;
    SleepMs(80);
    EXPECT_EQ(m.m_Calls, nCalls);
}

// Detaches itself (or another member) on a given call.
class CDetacher : public CMember {
public:
    void Act() override { m_Result = m_Pool->Detach(m_Target, kWork); }
    CMember* m_Target = nullptr;
    std::atomic<int32_t> m_Result{-100};
};

TEST(ThreadPool, DetachFromInsideTheOwnCall)
{
    CDetacher m;
    CJXThreadPool pool(1, "PoolTest", 0, 1);
    m.m_Pool = &pool;
    m.m_Target = &m;
    m.m_ActOnCall = 3;
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return m.m_Result != -100; }));
    EXPECT_EQ(m.m_Result, 1);
    SleepMs(30);
    EXPECT_EQ(m.m_Calls, 3);
    EXPECT_EQ(pool.GetCount(), 0);
    EXPECT_EQ(pool.Detach(&m, kWork), JX_ERR_STATE);
}

TEST(ThreadPool, DetachOfAnotherMemberFromInsideACall)
{
    CMember other;
    CDetacher m;
    CJXThreadPool pool(1, "PoolTest", 0, 1);
    m.m_Pool = &pool;
    m.m_Target = &other;
    m.m_ActOnCall = 5;
    ASSERT_EQ(pool.Attach(&other, kWork), JX_OK);
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return m.m_Result != -100; }));
    EXPECT_EQ(m.m_Result, 0);   // not running (one thread): detached at once
    int32_t nFrozen = other.m_Calls;
    int32_t nCalls = m.m_Calls;
    ASSERT_TRUE(WaitFor([&] { return m.m_Calls >= nCalls + 5; }));
    EXPECT_EQ(other.m_Calls, nFrozen);
}

// Ends the pool from inside its call, as a host does that releases the last
// stream from a callback.
class CPoolKiller : public CMember {
public:
    void Act() override
    {
        delete m_Pool;
        m_Pool = nullptr;
        m_Done = true;
    }
    std::atomic<bool> m_Done{false};
};

TEST(ThreadPool, DestroyFromInsideAMember)
{
    auto* pPool = new CJXThreadPool(1, "PoolTest", 0, 1);
    CMember bystander;
    CPoolKiller killer;
    killer.m_Pool = pPool;
    killer.m_ActOnCall = 2;
    ASSERT_EQ(pPool->Attach(&bystander, kWork), JX_OK);
    ASSERT_EQ(pPool->Attach(&killer, kWork), JX_OK);
    // Wait for the killing call to return too: the objects live on this stack.
    ASSERT_TRUE(WaitFor([&] { return killer.m_Done && killer.m_Inside == 0; }));
    int32_t nBystander = bystander.m_Calls;
    SleepMs(50);
    // Nobody is called after the pool ended; the sanitizer builds check that
    // the thread did not touch the freed pool on its way out.
    EXPECT_EQ(killer.m_Calls, 2);
    EXPECT_EQ(bystander.m_Calls, nBystander);
}

TEST(ThreadPool, DestructorWaitsForTheRunningCall)
{
    CMember m;
    auto pool = std::make_unique<CJXThreadPool>(1, "PoolTest");
    m.m_SleepMs = 40;
    ASSERT_EQ(pool->Attach(&m, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return m.m_Inside == 1; }));
    pool.reset();
    EXPECT_EQ(m.m_Inside, 0);
    int32_t nCalls = m.m_Calls;
    SleepMs(60);
    EXPECT_EQ(m.m_Calls, nCalls);
}

// Calls per second of a member that leaves nHint, on a pool with nMaxWait,
// measured over about nMs.
double CallRate(uint32_t nHint, int32_t nMaxWait, int32_t nMs)
{
    CMember m;
    m.m_SetHint = nHint;
    CJXThreadPool pool(1, "PoolTest", 0, nMaxWait);
    if (pool.Attach(&m, kWork) != JX_OK) return -1.0;
    if (!WaitFor([&] { return m.m_Calls >= 1; })) return -1.0;
    int32_t nStart = m.m_Calls;
    Clock::time_point t0 = Clock::now();
    SleepMs(nMs);
    int32_t nCalls = m.m_Calls - nStart;
    double nSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    pool.Detach(&m, kWork);
    return nCalls / nSeconds;
}

TEST(ThreadPool, WaitHintSetsThePace)
{
    // 5 ms between rounds: about 200 calls a second, not a busy loop.
    double nRate = CallRate(5, 24, 400);
    EXPECT_GE(nRate, 50.0);
    EXPECT_LE(nRate, 205.0);
    // A hint above the pool's maximum is cut to it (10 ms here).
    nRate = CallRate(100000, 10, 300);
    EXPECT_GE(nRate, 25.0);
    EXPECT_LE(nRate, 105.0);
    // 0: straight on to the next round.
    nRate = CallRate(0, 24, 200);
    EXPECT_GE(nRate, 1500.0);
}

TEST(ThreadPool, TheSmallestHintOfARoundWins)
{
    CMember slow, fast;
    CJXThreadPool pool(1, "PoolTest", 0, 1000);
    slow.m_SetHint = 1000;
    fast.m_SetHint = 5;
    ASSERT_EQ(pool.Attach(&slow, kWork), JX_OK);
    ASSERT_EQ(pool.Attach(&fast, kWork), JX_OK);
    SleepMs(300);
    EXPECT_GE(slow.m_Calls, 15);   // called every round, at the fast member's pace
    EXPECT_GE(fast.m_Calls, 15);
}

TEST(ThreadPool, AttachWakesAPausingThread)
{
    CMember first, second;
    CJXThreadPool pool(1, "PoolTest", 0, 1000);
    first.m_SetHint = 1000;   // the thread then pauses for a second
    Clock::time_point t0 = Clock::now();
    ASSERT_EQ(pool.Attach(&first, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return first.m_Calls >= 1; }));
    EXPECT_LT(MsSince(t0), 300);   // an empty pool wakes for its first member

    SleepMs(20);
    t0 = Clock::now();
    ASSERT_EQ(pool.Attach(&second, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return second.m_Calls >= 1; }));
    EXPECT_LT(MsSince(t0), 300);
}

TEST(ThreadPool, ThreeHundredMembersOnOneThread)
{
    constexpr int32_t kMembers = 300;
    std::vector<std::unique_ptr<CMember>> members;
    CJXThreadPool pool(1, "PoolTest", 0, 24);
    for (int32_t i = 0; i < kMembers; ++i) {
        members.push_back(std::make_unique<CMember>());
        members.back()->m_SetHint = 5;
        ASSERT_EQ(pool.Attach(members.back().get(), kWork), JX_OK);
    }
    EXPECT_EQ(pool.GetCount(), kMembers);
    ASSERT_TRUE(WaitFor([&] {
        for (auto& m : members) {
            if (m->m_Calls < 5) return false;
        }
        return true;
    }, 3000));
    std::thread::id worker = members[0]->m_Thread;
    for (auto& m : members) {
        EXPECT_EQ(m->m_Thread.load(), worker);
        EXPECT_EQ(m->m_MaxInside, 1);
    }
    // Detach every other one; the rest go on, the detached stay still.
    for (int32_t i = 0; i < kMembers; i += 2) ASSERT_EQ(pool.Detach(members[i].get(), kWork), 0);
    EXPECT_EQ(pool.GetCount(), kMembers / 2);
    std::vector<int32_t> frozen;
    for (auto& m : members) frozen.push_back(m->m_Calls);
    ASSERT_TRUE(WaitFor([&] { return members[kMembers - 1]->m_Calls >= frozen[kMembers - 1] + 3; }));
    for (int32_t i = 0; i < kMembers; i += 2) EXPECT_EQ(members[i]->m_Calls, frozen[i]);
}

TEST(ThreadPool, SeveralThreadsNeverRunOneMemberTwiceAtOnce)
{
    CMember::s_MaxRunning = 0;
    CMember members[3];
    CJXThreadPool pool(4, "PoolTest", 0, 1);
    for (CMember& m : members) {
        m.m_SleepMs = 2;
        m.m_SetHint = 0;
        ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    }
    SleepMs(300);
    for (CMember& m : members) {
        EXPECT_EQ(pool.Detach(&m, kWork), 0);
        EXPECT_EQ(m.m_Inside, 0);
        EXPECT_EQ(m.m_MaxInside, 1);
        EXPECT_GE(m.m_Calls, 10);
    }
    EXPECT_GE(CMember::s_MaxRunning, 2);   // the threads did share the work
}

TEST(ThreadPool, AttachAndDetachFromSeveralThreads)
{
    constexpr int32_t kThreads = 4;
    constexpr int32_t kPerThread = 8;
    constexpr int32_t kLoops = 60;
    std::vector<std::unique_ptr<CMember>> members;
    for (int32_t i = 0; i < kThreads * kPerThread; ++i) {
        members.push_back(std::make_unique<CMember>());
        members.back()->m_SetHint = 0;
    }
    CJXThreadPool pool(2, "PoolTest", 0, 1);
    std::atomic<int32_t> nBad{0};
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int32_t loop = 0; loop < kLoops; ++loop) {
                for (int32_t i = 0; i < kPerThread; ++i) {
                    if (pool.Attach(members[t * kPerThread + i].get(), kWork) != JX_OK) ++nBad;
                }
                std::this_thread::yield();
                for (int32_t i = 0; i < kPerThread; ++i) {
                    CMember& m = *members[t * kPerThread + i];
                    if (pool.Detach(&m, kWork) != 0) ++nBad;
                    if (m.m_Inside != 0) ++nBad;   // Detach returned during a call
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(nBad, 0);
    EXPECT_EQ(pool.GetCount(), 0);
    std::vector<int32_t> frozen;
    int32_t nTotal = 0;
    for (auto& m : members) {
        frozen.push_back(m->m_Calls);
        nTotal += m->m_Calls;
        EXPECT_LE(m->m_MaxInside, 1);   // 0 for a member detached before its first call
    }
    EXPECT_GT(nTotal, 0);
    SleepMs(30);
    for (size_t i = 0; i < members.size(); ++i) EXPECT_EQ(members[i]->m_Calls, frozen[i]);
}

} // namespace

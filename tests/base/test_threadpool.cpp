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

constexpr int32_t kBoundMs = 3000;   // for what must happen: far more than it takes
constexpr int32_t kQuietMs = 50;     // for what must not happen: a window to see it

template <typename Pred>
bool WaitFor(Pred pred)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void SleepMs(int32_t nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// A member that counts its calls and how many of them ran at once, and may act
// (Act) on a given call. Settings are made before Attach.
class CMember : public CJXObject {
public:
    static constexpr uint32_t kKeepHint = 0xFFFFFFFFu;

    int OnWork(CJXMessageT*, unsigned int, unsigned int& nWait)
    {
        const int32_t nInside = ++m_Inside;
        if (nInside > m_MaxInside) m_MaxInside = nInside;
        const int32_t nNow = ++s_Running;
        if (nNow > s_MaxRunning) s_MaxRunning = nNow;
        m_LastHintIn = nWait;
        m_Thread = std::this_thread::get_id();
        if (m_Pool) m_OnPoolThread = m_Pool->IsPoolThread();
        const int32_t nCall = ++m_Calls;
        // The shortest time between two calls: a pause in every round shows in
        // it however loaded the machine is, a busy machine only in some.
        const Clock::time_point now = Clock::now();
        const int64_t nGapUs = std::chrono::duration_cast<std::chrono::microseconds>(now - m_LastCall).count();
        if (nCall > 1 && nGapUs < m_MinGapUs) m_MinGapUs = nGapUs;
        m_LastCall = now;
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
    std::atomic<int64_t> m_MinGapUs{INT64_MAX};
    Clock::time_point m_LastCall;   // the pool thread's only
    std::atomic<uint32_t> m_LastHintIn{0};
    std::atomic<bool> m_OnPoolThread{false};
    std::atomic<std::thread::id> m_Thread{};

    static std::atomic<int32_t> s_Running;
    static std::atomic<int32_t> s_MaxRunning;
};

std::atomic<int32_t> CMember::s_Running{0};
std::atomic<int32_t> CMember::s_MaxRunning{0};

const JXWorkFunc kWork = JX_WORK_FUNC(&CMember::OnWork);

// A pair is kept once, every call starts from the pool's maximum hint on the
// pool's thread, a detached member is not called until it comes back, and one
// thread calls all 300 members in every round.
TEST(ThreadPool, AttachDetachAndTheCalls)
{
    constexpr int32_t kMembers = 300;
    std::vector<std::unique_ptr<CMember>> members;
    CJXThreadPool pool(1, "PoolTest", 0, 24);
    EXPECT_FALSE(pool.IsPoolThread());
    for (int32_t i = 0; i < kMembers; ++i) {
        members.push_back(std::make_unique<CMember>());
        members.back()->m_Pool = &pool;
        members.back()->m_SetHint = 5;
        ASSERT_EQ(pool.Attach(members.back().get(), kWork), JX_OK);
    }
    CMember& a = *members[0];
    CMember& b = *members[1];
    EXPECT_EQ(pool.Detach(&a, kWork), 0);
    EXPECT_EQ(pool.Detach(&a, kWork), JX_ERR_STATE);   // once is enough
    ASSERT_EQ(pool.Attach(&a, kWork), JX_OK);
    ASSERT_EQ(pool.Attach(&a, kWork), JX_OK);   // the same pair is kept once
    EXPECT_EQ(pool.GetCount(), kMembers);
    ASSERT_TRUE(WaitFor([&] { return a.m_Calls >= 5 && members.back()->m_Calls >= 5; }));
    for (auto& m : members) {
        EXPECT_GE(m->m_Calls, 4);   // every round calls everyone
        EXPECT_EQ(m->m_Thread.load(), a.m_Thread.load());
        EXPECT_EQ(m->m_MaxInside, 1);
    }
    EXPECT_EQ(a.m_LastHintIn, 24u);
    EXPECT_TRUE(a.m_OnPoolThread);
    EXPECT_NE(a.m_Thread.load(), std::this_thread::get_id());

    EXPECT_EQ(pool.Detach(&a, kWork), 0);
    EXPECT_EQ(pool.GetCount(), kMembers - 1);
    const int32_t nFrozen = a.m_Calls;
    const int32_t nB = b.m_Calls;
    ASSERT_TRUE(WaitFor([&] { return b.m_Calls >= nB + 3; }));
    EXPECT_EQ(a.m_Calls, nFrozen);
    ASSERT_EQ(pool.Attach(&a, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return a.m_Calls > nFrozen; }));
}

// Detach from another thread and the destructor both return only once the
// running call has ended, and nothing is called after them.
TEST(ThreadPool, DetachAndDestructorWaitForTheRunningCall)
{
    for (bool bDestroy : {false, true}) {
        SCOPED_TRACE(bDestroy ? "destructor" : "detach");
        CMember m;
        m.m_SleepMs = 40;
        auto pool = std::make_unique<CJXThreadPool>(1, "PoolTest");
        ASSERT_EQ(pool->Attach(&m, kWork), JX_OK);
        ASSERT_TRUE(WaitFor([&] { return m.m_Inside == 1; }));
        if (bDestroy)
            pool.reset();
        else
            EXPECT_EQ(pool->Detach(&m, kWork), 0);
        EXPECT_EQ(m.m_Inside, 0);
        const int32_t nCalls = m.m_Calls;
        SleepMs(kQuietMs + m.m_SleepMs);
        EXPECT_EQ(m.m_Calls, nCalls);
    }
}

// Detaches itself or another member on a given call.
class CDetacher : public CMember {
public:
    void Act() override { m_Result = m_Pool->Detach(m_Target, kWork); }
    CMember* m_Target = nullptr;
    std::atomic<int32_t> m_Result{-100};
};

TEST(ThreadPool, DetachFromInsideACall)
{
    for (bool bSelf : {true, false}) {
        SCOPED_TRACE(bSelf ? "itself" : "another member");
        CMember other;
        CDetacher m;
        CJXThreadPool pool(1, "PoolTest", 0, 1);
        m.m_Pool = &pool;
        m.m_Target = bSelf ? &m : &other;
        m.m_ActOnCall = 3;
        ASSERT_EQ(pool.Attach(&other, kWork), JX_OK);
        ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
        ASSERT_TRUE(WaitFor([&] { return m.m_Result != -100 && m.m_Inside == 0; }));
        // 1: from inside its own call; 0: the other was not running (one thread).
        EXPECT_EQ(m.m_Result, bSelf ? 1 : 0);
        EXPECT_EQ(pool.GetCount(), 1);
        CMember& gone = *m.m_Target;
        CMember& left = bSelf ? other : static_cast<CMember&>(m);
        const int32_t nFrozen = gone.m_Calls;
        const int32_t nLeft = left.m_Calls;
        ASSERT_TRUE(WaitFor([&] { return left.m_Calls >= nLeft + 5; }));
        EXPECT_EQ(gone.m_Calls, nFrozen);
        EXPECT_TRUE(!bSelf || nFrozen == m.m_ActOnCall) << nFrozen;
    }
}

// Ends the pool from inside its call, as a host does that releases the last
// stream from a callback.
class CPoolKiller : public CMember {
public:
    void Act() override
    {
        delete m_Pool;
        m_Done = true;
    }
    std::atomic<bool> m_Done{false};
};

TEST(ThreadPool, DestroyFromInsideAMember)
{
    CMember bystander;
    CPoolKiller killer;
    killer.m_Pool = new CJXThreadPool(1, "PoolTest", 0, 1);
    killer.m_ActOnCall = 2;
    ASSERT_EQ(killer.m_Pool->Attach(&bystander, kWork), JX_OK);
    ASSERT_EQ(killer.m_Pool->Attach(&killer, kWork), JX_OK);
    // Wait for the killing call to return too: the objects live on this stack.
    ASSERT_TRUE(WaitFor([&] { return killer.m_Done && killer.m_Inside == 0; }));
    const int32_t nBystander = bystander.m_Calls;
    SleepMs(kQuietMs);
    // Nobody is called after the pool ended; the sanitizer builds check that
    // the thread did not touch the freed pool on its way out.
    EXPECT_EQ(killer.m_Calls, 2);
    EXPECT_EQ(bystander.m_Calls, nBystander);
}

// The pause after a round: the smallest hint of the round, never more than the
// pool's maximum, none at all for 0, and cut short by an Attach. Each row waits
// for a number of calls that a wrong pause would take far longer than the bound to reach.
TEST(ThreadPool, WaitHints)
{
    constexpr uint32_t kLong = 60000;
    const struct {
        int32_t maxWait;
        uint32_t hints[2];
        int32_t calls;
    } rows[] = {{10, {kLong, kLong}, 20}, {100000, {kLong, 5}, 20}, {1000, {0, 0}, 1000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.hints[1]);
        CMember members[2];
        CJXThreadPool pool(1, "PoolTest", 0, row.maxWait);
        for (int32_t i = 0; i < 2; ++i) {
            members[i].m_SetHint = row.hints[i];
            ASSERT_EQ(pool.Attach(&members[i], kWork), JX_OK);
        }
        EXPECT_TRUE(WaitFor([&] { return members[0].m_Calls >= row.calls && members[1].m_Calls >= row.calls; }));
        // Without a pause some rounds follow each other within a millisecond;
        // a pause of even 1 ms in every round never does.
        if (row.hints[0] == 0) {
            EXPECT_LT(members[0].m_MinGapUs.load(), 900);
        }
    }
    // Not a busy loop either: 5 ms between rounds is at most 200 calls a second.
    CMember m;
    m.m_SetHint = 5;
    CJXThreadPool pool(1, "PoolTest", 0, 24);
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return m.m_Calls >= 1; }));
    const Clock::time_point t0 = Clock::now();
    const int32_t nStart = m.m_Calls;
    SleepMs(200);
    const int32_t nCalls = m.m_Calls - nStart;
    EXPECT_LE(nCalls, std::chrono::duration<double>(Clock::now() - t0).count() * 200.0 + 2.0);

    // A thread pausing for a minute wakes for a new member at once.
    CMember sleeper, newcomer;
    CJXThreadPool slow(1, "PoolTest", 0, kLong);
    sleeper.m_SetHint = kLong;
    ASSERT_EQ(slow.Attach(&sleeper, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return sleeper.m_Calls >= 1; }));
    ASSERT_EQ(slow.Attach(&newcomer, kWork), JX_OK);
    EXPECT_TRUE(WaitFor([&] { return newcomer.m_Calls >= 1; }));
}

// Several pool threads never run one member twice at once; attach and detach
// from several host threads at once, Detach never returning during a call, and
// nothing called after the last Detach.
TEST(ThreadPool, SeveralThreads)
{
    constexpr int32_t kThreads = 4;
    constexpr int32_t kPerThread = 8;
    constexpr int32_t kLoops = 60;
    CMember::s_MaxRunning = 0;
    std::vector<std::unique_ptr<CMember>> members;
    for (int32_t i = 0; i < kThreads * kPerThread; ++i) {
        members.push_back(std::make_unique<CMember>());
        members.back()->m_SetHint = 0;
    }
    CJXThreadPool pool(kThreads, "PoolTest", 0, 1);
    for (int32_t i = 0; i < 3; ++i) {
        members[size_t(i)]->m_SleepMs = 2;
        ASSERT_EQ(pool.Attach(members[size_t(i)].get(), kWork), JX_OK);
    }
    EXPECT_TRUE(WaitFor([&] { return CMember::s_MaxRunning >= 2 && members[2]->m_Calls >= 10; }));
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pool.Detach(members[size_t(i)].get(), kWork), 0);
        members[size_t(i)]->m_SleepMs = 0;
    }
    std::atomic<int32_t> nBad{0};
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int32_t loop = 0; loop < kLoops; ++loop) {
                for (int32_t i = 0; i < kPerThread; ++i) {
                    if (pool.Attach(members[size_t(t * kPerThread + i)].get(), kWork) != JX_OK) ++nBad;
                }
                std::this_thread::yield();
                for (int32_t i = 0; i < kPerThread; ++i) {
                    CMember& m = *members[size_t(t * kPerThread + i)];
                    if (pool.Detach(&m, kWork) != 0) ++nBad;
                    if (m.m_Inside != 0) ++nBad;   // Detach returned during a call
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(nBad, 0);
    EXPECT_EQ(pool.GetCount(), 0);
    std::vector<int32_t> frozen;
    for (auto& m : members) {
        frozen.push_back(m->m_Calls);
        EXPECT_LE(m->m_MaxInside, 1);
    }
    SleepMs(kQuietMs);
    for (size_t i = 0; i < members.size(); ++i)
        EXPECT_EQ(members[i]->m_Calls, frozen[i]);
}

}   // namespace

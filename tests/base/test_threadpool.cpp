// The worker pool: rounds, wait hints, watched sockets, attach and detach from anywhere, ending it from inside.
#include "JXThreadPool.h"

#include "loop_socket.h"
#include "test_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;

constexpr int32_t kQuietMs = 50;     // for what must not happen: a window to see it
constexpr uint32_t kRead = CJXPollSet::kReadable;
constexpr uint32_t kLongHint = 600000;   // never runs out within a test

void SleepMs(int32_t nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// Counts its calls and overlaps; sets the hint, sleeps, and runs Act on call m_ActOnCall.
class CMember : public CJXObject {
public:
    int OnWork(CJXMessageT*, unsigned int nValue, unsigned int& nWait)
    {
        m_LastValue = nValue;
        const int32_t nInside = ++m_Inside;
        if (nInside > m_MaxInside) m_MaxInside = nInside;
        if (++s_Running > s_MaxRunning) s_MaxRunning = s_Running.load();
        m_LastHintIn = nWait;
        m_Thread = std::this_thread::get_id();
        if (m_Pool) m_OnPoolThread = m_Pool->IsPoolThread();
        const int32_t nCall = ++m_Calls;
        // The shortest gap shows a pause in every round however loaded the machine is.
        const Clock::time_point now = Clock::now();
        const int64_t nGapUs = std::chrono::duration_cast<std::chrono::microseconds>(now - m_LastCall).count();
        if (nCall > 1 && nGapUs < m_MinGapUs) m_MinGapUs = nGapUs;
        m_LastCall = now;
        if (m_Drain != nullptr) m_Drain->Drain();
        if (m_SleepMs > 0) SleepMs(m_SleepMs);
        if (m_SetHint >= 0) nWait = static_cast<unsigned int>(m_SetHint);
        if (nCall == m_ActOnCall) Act();
        --s_Running;
        --m_Inside;
        return 0;
    }
    virtual void Act() {}

    CJXThreadPool* m_Pool = nullptr;
    int64_t m_SetHint = -1;   // -1: keep the hint given
    int32_t m_SleepMs = 0;
    int32_t m_ActOnCall = -1;
    const CLoopSocket* m_Drain = nullptr;   // read empty on each call
    std::atomic<int32_t> m_Calls{0}, m_Inside{0}, m_MaxInside{0};
    std::atomic<int64_t> m_MinGapUs{INT64_MAX};
    Clock::time_point m_LastCall;   // the pool thread's only
    std::atomic<uint32_t> m_LastHintIn{0};
    std::atomic<uint32_t> m_LastValue{0};   // the ready mask of the last call
    std::atomic<bool> m_OnPoolThread{false};
    std::atomic<std::thread::id> m_Thread{};
    static std::atomic<int32_t> s_Running, s_MaxRunning;
};
std::atomic<int32_t> CMember::s_Running{0}, CMember::s_MaxRunning{0};

const JXWorkFunc kWork = JX_WORK_FUNC(&CMember::OnWork);

// A pair kept once, the maximum hint given, a detached member left out, all 300 called each round.
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

// Detach and the destructor return only after the running call, and nothing is called after.
TEST(ThreadPool, DetachAndDestructorWaitForTheRunningCall)
{
    for (bool bDestroy : {false, true}) {
        SCOPED_TRACE(bDestroy ? "destructor" : "detach");
        CMember m;
        m.m_SleepMs = 40;
        auto pool = std::make_unique<CJXThreadPool>(1, "PoolTest");
        ASSERT_EQ(pool->Attach(&m, kWork), JX_OK);
        ASSERT_TRUE(WaitFor([&] { return m.m_Inside == 1; }));
        if (bDestroy) pool.reset();
        EXPECT_EQ(bDestroy ? 0 : pool->Detach(&m, kWork), 0);
        EXPECT_EQ(m.m_Inside, 0);
        const int32_t nCalls = m.m_Calls;
        SleepMs(kQuietMs + m.m_SleepMs);
        EXPECT_EQ(m.m_Calls, nCalls);
    }
}

// Detaches m_Target on its call, or (none) ends the pool, as a host releasing its last stream.
class CActor : public CMember {
public:
    void Act() override
    {
        if (m_Target == nullptr) delete m_Pool;
        m_Result = m_Target ? m_Pool->Detach(m_Target, kWork) : 0;
    }
    CMember* m_Target = nullptr;
    std::atomic<int32_t> m_Result{-100};
};

TEST(ThreadPool, DetachOrDestroyFromInsideACall)
{
    for (int32_t nTarget : {0, 1, 2}) {   // itself, another member, the pool
        SCOPED_TRACE(nTarget);
        CMember other;
        CActor m;
        m.m_Pool = new CJXThreadPool(1, "PoolTest", 0, 1);
        std::unique_ptr<CJXThreadPool> owner(nTarget == 2 ? nullptr : m.m_Pool);
        m.m_Target = nTarget == 0 ? &m : nTarget == 1 ? &other : nullptr;
        m.m_ActOnCall = 3;
        ASSERT_EQ(m.m_Pool->Attach(&other, kWork), JX_OK);
        ASSERT_EQ(m.m_Pool->Attach(&m, kWork), JX_OK);
        // Wait for the acting call to return too: the objects live on this stack.
        ASSERT_TRUE(WaitFor([&] { return m.m_Result != -100 && m.m_Inside == 0; }));
        // 1: from inside its own call; 0: the other was not running (one thread).
        EXPECT_EQ(m.m_Result, nTarget == 0 ? 1 : 0);
        EXPECT_EQ(owner ? owner->GetCount() : 1, 1);
        CMember& gone = nTarget == 1 ? other : static_cast<CMember&>(m);
        CMember& left = nTarget == 0 ? other : static_cast<CMember&>(m);
        const int32_t nFrozen = gone.m_Calls;
        const int32_t nLeft = left.m_Calls;
        const int32_t nOther = other.m_Calls;
        // Nobody is called after the pool ended (sanitizer builds: nor is the freed pool touched).
        if (nTarget == 2) SleepMs(kQuietMs);
        ASSERT_TRUE(nTarget == 2 || WaitFor([&] { return left.m_Calls >= nLeft + 5; }));
        EXPECT_EQ(gone.m_Calls, nFrozen);
        EXPECT_TRUE(nTarget == 1 || nFrozen == m.m_ActOnCall) << nFrozen;
        EXPECT_TRUE(nTarget != 2 || other.m_Calls == nOther);
    }
}

// The pause after a round: the round's smallest hint, at most the pool's maximum, none for 0.
TEST(ThreadPool, WaitHints)
{
    constexpr uint32_t kLong = 60000;
    // A member is called when its own hint runs out, not at another's: the
    // minute-long hint under a larger maximum is called once, at its attach.
    const struct {
        int32_t maxWait;
        uint32_t hints[2];
        int32_t calls[2];
    } rows[] = {{10, {kLong, kLong}, {20, 20}}, {100000, {kLong, 5}, {1, 20}}, {1000, {0, 0}, {1000, 1000}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.hints[1]);
        CMember members[2];
        CJXThreadPool pool(1, "PoolTest", 0, row.maxWait);
        for (int32_t i = 0; i < 2; ++i) {
            members[i].m_SetHint = row.hints[i];
            ASSERT_EQ(pool.Attach(&members[i], kWork), JX_OK);
        }
        EXPECT_TRUE(WaitFor([&] { return members[0].m_Calls >= row.calls[0] && members[1].m_Calls >= row.calls[1]; }));
        EXPECT_TRUE(row.calls[0] != 1 || members[0].m_Calls == 1) << members[0].m_Calls;
        // Without a pause some rounds follow within a millisecond.
        EXPECT_TRUE(row.hints[0] != 0 || members[0].m_MinGapUs < 900) << members[0].m_MinGapUs;
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
    EXPECT_LE(m.m_Calls - nStart, std::chrono::duration<double>(Clock::now() - t0).count() * 200.0 + 2.0);
    // A thread pausing for a minute wakes for a new member at once.
    CMember sleeper, newcomer;
    CJXThreadPool slow(1, "PoolTest", 0, kLong);
    sleeper.m_SetHint = kLong;
    ASSERT_EQ(slow.Attach(&sleeper, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return sleeper.m_Calls >= 1; }));
    ASSERT_EQ(slow.Attach(&newcomer, kWork), JX_OK);
    EXPECT_TRUE(WaitFor([&] { return newcomer.m_Calls >= 1; }));
}

// 1,000 members, every tenth watching a socket: when one socket is ready, the
// next round calls its member only.
TEST(ThreadPool, OnlyTheMemberOfAReadySocketIsCalled)
{
    constexpr size_t kMembers = 1000;
    constexpr size_t kEvery = 10;
    constexpr size_t kReady = 500;
    std::vector<CMember> members(kMembers);
    std::vector<std::unique_ptr<CLoopSocket>> sockets;
    CJXThreadPool pool(1, "PoolTest", 0, kLongHint);
    for (size_t i = 0; i < kMembers; ++i) {
        members[i].m_SetHint = kLongHint;
        if (i % kEvery == 0) {
            sockets.push_back(std::make_unique<CLoopSocket>());
            members[i].m_Drain = sockets.back().get();
        }
        ASSERT_EQ(pool.Attach(&members[i], kWork), JX_OK);
        if (i % kEvery == 0) {
            ASSERT_EQ(pool.Watch(&members[i], kWork, sockets.back()->m_Socket, kRead), 0);   // its first position
        }
    }
    EXPECT_EQ(pool.GetWatchCount(), int32_t(kMembers / kEvery));
    ASSERT_TRUE(WaitFor([&] {
        for (const CMember& m : members) {
            if (m.m_Calls < 1) return false;
        }
        return true;
    }));
    ASSERT_TRUE(sockets[kReady / kEvery]->Send());
    ASSERT_TRUE(WaitFor([&] { return members[kReady].m_Calls == 2; }));
    EXPECT_EQ(members[kReady].m_LastValue, 1u);   // called for the socket at position 0
    int32_t nOthers = 0;
    for (const CMember& m : members)
        nOthers += m.m_Calls;
    EXPECT_EQ(nOthers - members[kReady].m_Calls, int32_t(kMembers) - 1);
}

// A member that detaches inside its own call (called for its ready socket)
// leaves the readiness set: attached again in the same slot, with the socket
// still readable, it is called for its attach only.
TEST(ThreadPool, DetachInsideItsCallLeavesTheSet)
{
    CJXThreadPool pool(1, "PoolTest", 0, kLongHint);
    CLoopSocket sock;
    CActor m;
    m.m_Pool = &pool;
    m.m_Target = &m;
    m.m_ActOnCall = 2;
    m.m_SetHint = kLongHint;
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    CLoopSocket unread;   // watched at the next position, never ready
    ASSERT_EQ(pool.Watch(&m, kWork, unread.m_Socket, kRead), 0);
    ASSERT_EQ(pool.Watch(&m, kWork, sock.m_Socket, kRead), 1);
    ASSERT_TRUE(WaitFor([&] { return m.m_Calls == 1 && m.m_Inside == 0; }));
    ASSERT_TRUE(sock.Send());
    ASSERT_TRUE(WaitFor([&] { return m.m_Result != -100 && m.m_Inside == 0; }));
    EXPECT_EQ(m.m_Result, 1);
    EXPECT_EQ(m.m_LastValue, 2u);   // its call named the ready socket only
    EXPECT_EQ(pool.GetWatchCount(), 0);
    EXPECT_EQ(pool.Watch(&m, kWork, sock.m_Socket, kRead), JX_ERR_STATE);
    ASSERT_EQ(pool.Attach(&m, kWork), JX_OK);
    ASSERT_TRUE(WaitFor([&] { return m.m_Calls == 3; }));
    SleepMs(kQuietMs);
    EXPECT_EQ(m.m_Calls, 3);
}

// Several pool and host threads: no member runs twice at once, Detach never returns during a call.
TEST(ThreadPool, SeveralThreads)
{
    constexpr int32_t kThreads = 4;
    constexpr int32_t kPerThread = 8;
    constexpr int32_t kLoops = 60;
    CMember::s_MaxRunning = 0;
    std::vector<CMember> members(kThreads * kPerThread);
    for (CMember& m : members)
        m.m_SetHint = 0;
    CJXThreadPool pool(kThreads, "PoolTest", 0, 1);
    for (int32_t i = 0; i < 3; ++i) {
        members[size_t(i)].m_SleepMs = 2;
        ASSERT_EQ(pool.Attach(&members[size_t(i)], kWork), JX_OK);
    }
    EXPECT_TRUE(WaitFor([&] { return CMember::s_MaxRunning >= 2 && members[2].m_Calls >= 10; }));
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pool.Detach(&members[size_t(i)], kWork), 0);
        members[size_t(i)].m_SleepMs = 0;
    }
    std::atomic<int32_t> nBad{0};
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CMember* pMine = &members[size_t(t * kPerThread)];
            for (int32_t loop = 0; loop < kLoops; ++loop) {
                for (int32_t i = 0; i < kPerThread; ++i)
                    nBad += pool.Attach(&pMine[i], kWork) != JX_OK;
                std::this_thread::yield();
                for (int32_t i = 0; i < kPerThread; ++i)
                    nBad += pool.Detach(&pMine[i], kWork) != 0 || pMine[i].m_Inside != 0;   // returned during a call
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(nBad, 0);
    EXPECT_EQ(pool.GetCount(), 0);
    std::vector<int32_t> frozen;
    for (CMember& m : members) {
        frozen.push_back(m.m_Calls);
        EXPECT_LE(m.m_MaxInside, 1);
    }
    SleepMs(kQuietMs);
    for (size_t i = 0; i < members.size(); ++i)
        EXPECT_EQ(members[i].m_Calls, frozen[i]);
}

}   // namespace

// CPacket: size limits, frame fields, reference counts across threads, recycling.
#include "JXPacket.h"
#include "JXTime.h"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kMaxPacket = 64 << 20;

TEST(CorePacket, AcquireSizes)
{
    const int32_t kRefused[] = {-1, 0, CPacket::kFrameHead - 1, kMaxPacket + 1, INT32_MIN, INT32_MAX};
    for (int32_t nSize : kRefused)
        EXPECT_EQ(CPacket::Acquire(nSize), nullptr) << nSize;
    for (int32_t nSize : {CPacket::kFrameHead, CPacket::kFrameHead + 1, 1500, 65536, 65537, kMaxPacket}) {
        SCOPED_TRACE(nSize);
        CPacket* p = CPacket::Acquire(nSize);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->GetRefCount(), 1);
        EXPECT_GE(p->FrameGetCapacity(), nSize - CPacket::kFrameHead);
        EXPECT_LE(p->FrameGetCapacity(), kMaxPacket - CPacket::kFrameHead);
        // The whole payload area is writable (ASan checks the bounds).
        memset(p->FrameGetData(), 0xAB, static_cast<size_t>(p->FrameGetCapacity()));
        // The length is clamped to the payload area.
        const uint32_t nCap = static_cast<uint32_t>(p->FrameGetCapacity());
        for (uint32_t nSet : {nCap, nCap + 1, 0xFFFFFFFFu}) {
            p->FrameSetLength(nSet);
            EXPECT_EQ(p->FrameGetLength(), nCap) << nSet;
        }
        EXPECT_EQ(p->Release(), 0);
    }
}

TEST(CorePacket, RecycledPacketComesBackClean)
{
    CPacket* p = CPacket::Acquire(700);
    ASSERT_NE(p, nullptr);
    p->FrameSetType(JX_FRAME_AUDIO);
    p->FrameSetLength(600);
    p->FrameSetWidth(640);
    p->FrameSetTime(YRTIME{2026, 12, 7, 2, 3, 4, 0}, 123);
    p->AddRef();
    EXPECT_EQ(p->Release(), 1);
    EXPECT_EQ(p->Release(), 0);
    CPacket* q = CPacket::Acquire(700);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->FrameGetType(), 0);
    EXPECT_EQ(q->FrameGetLength(), 0u);
    EXPECT_EQ(q->FrameGetWidth(), 0);
    EXPECT_EQ(q->FrameGetTime().wYear, 0);
    EXPECT_EQ(q->GetRefCount(), 1);
    q->Release();
}

TEST(CorePacket, TypePredicates)
{
    CPacket* p = CPacket::Acquire(64);
    ASSERT_NE(p, nullptr);
    for (int32_t nType = 0; nType < 256; ++nType) {
        p->FrameSetType(static_cast<uint8_t>(nType));
        const bool bVideo = nType == 0 || nType == 1 || nType == 4 || nType == 9 || nType == 10;
        const bool bKey = nType == 1 || nType == 4 || nType == 9;
        EXPECT_EQ(p->FrameIsVideo(), bVideo) << nType;
        EXPECT_EQ(p->FrameIsAudio(), nType == 3) << nType;
        EXPECT_EQ(p->FrameIsKey(), bKey) << nType;
    }
    p->Release();
}

TEST(CorePacket, TimeFromTimeval)
{
    // Microseconds over a second and negative ones carry; before 1970 is clamped.
    const struct {
        int64_t nSec, nUsec;
        uint32_t nExpectSec;
        uint16_t nExpectMS;
    } rows[] = {{1700000000, 456789, 1700000000, 456},
                {1700000000, 1500000, 1700000001, 500},
                {1700000000, -1000, 1699999999, 999},
                {-5, 0, 0, 0}};
    CPacket* p = CPacket::Acquire(100);
    ASSERT_NE(p, nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.nSec) + " s " + std::to_string(row.nUsec) + " us");
        struct timeval tv {};
        tv.tv_sec = static_cast<decltype(tv.tv_sec)>(row.nSec);
        tv.tv_usec = static_cast<decltype(tv.tv_usec)>(row.nUsec);
        p->FrameSetTime(tv);
        CJXTime want;
        want.m_Time = row.nExpectSec;
        YRTIME w{};
        want.GetTime(w);
        w.wMilliseconds = row.nExpectMS;
        EXPECT_EQ(memcmp(&p->FrameGetTime(), &w, sizeof(w)), 0);
    }
    p->Release();
}

// Frames of similar sizes, up to 8 in flight at once: at most one buffer per
// frame in flight, however many frames passed. Held in bulk, the free list
// keeps only a bounded number.
TEST(CorePacket, BuffersAreReusedAndTheFreeListIsBounded)
{
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int32_t> size(1100, 1900);
    std::vector<CPacket*> held;
    uint64_t nBefore = CPacket::GetAllocCount();
    for (int32_t i = 0; i < 2000; ++i) {
        held.push_back(CPacket::Acquire(size(rng)));
        ASSERT_NE(held.back(), nullptr);
        if (held.size() < 8) continue;
        for (CPacket* q : held)
            q->Release();
        held.clear();
    }
    for (CPacket* q : held)
        q->Release();
    EXPECT_LE(CPacket::GetAllocCount() - nBefore, 8u);

    constexpr int32_t kHeld = 300;
    held.clear();
    for (int32_t i = 0; i < kHeld; ++i)
        held.push_back(CPacket::Acquire(3000));
    for (CPacket* p : held)
        p->Release();
    held.clear();
    nBefore = CPacket::GetAllocCount();
    for (int32_t i = 0; i < kHeld; ++i)
        held.push_back(CPacket::Acquire(3000));
    const uint64_t nFresh = CPacket::GetAllocCount() - nBefore;
    EXPECT_GE(nFresh, 200u);
    EXPECT_LT(nFresh, static_cast<uint64_t>(kHeld));
    for (CPacket* p : held)
        p->Release();
}

// References taken and dropped on four threads at once; then frames filled on
// one thread and checked and dropped on another, while buffers recycle.
TEST(CorePacket, ReferencesAndHandOverAcrossThreads)
{
    CPacket* p = CPacket::Acquire(256);
    ASSERT_NE(p, nullptr);
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < 4; ++t) {
        threads.emplace_back([p] {
            for (int32_t i = 0; i < 20000; ++i) {
                p->AddRef();
                p->Release();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(p->GetRefCount(), 1);
    EXPECT_EQ(p->Release(), 0);

    constexpr int32_t kFrames = 2000;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<CPacket*> queue;
    int32_t nBad = 0;
    int32_t nSeen = 0;
    std::thread consumer([&] {
        for (int32_t i = 0; i < kFrames; ++i) {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return !queue.empty(); });
            CPacket* q = queue.front();
            queue.pop_front();
            lock.unlock();
            const uint32_t n = q->FrameGetLength();
            for (uint32_t k = 0; k < n; ++k) {
                if (q->FrameGetData()[k] != static_cast<uint8_t>(n + k)) {
                    ++nBad;
                    break;
                }
            }
            ++nSeen;
            q->Release();
        }
    });
    for (int32_t i = 0; i < kFrames; ++i) {
        const uint32_t n = 500 + static_cast<uint32_t>(i % 700);
        CPacket* q = CPacket::Acquire(static_cast<int32_t>(n) + CPacket::kFrameHead);
        ASSERT_NE(q, nullptr);
        for (uint32_t k = 0; k < n; ++k)
            q->FrameGetData()[k] = static_cast<uint8_t>(n + k);
        q->FrameSetLength(n);
        q->AddRef();   // the queue's reference
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(q);
        }
        ready.notify_one();
        q->Release();   // ours
    }
    consumer.join();
    EXPECT_EQ(nSeen, kFrames);
    EXPECT_EQ(nBad, 0);
}

}   // namespace

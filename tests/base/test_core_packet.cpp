// CPacket: size limits, frame fields, reference counts across threads and
// buffer recycling.
#include "JXPacket.h"
#include "JXTime.h"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kMaxPacket = 64 << 20;

TEST(CorePacket, AcquireRefusesBadSizes)
{
    const int32_t bad[] = {-1, 0, CPacket::kFrameHead - 1, kMaxPacket + 1, INT32_MIN, INT32_MAX};
    for (int32_t n : bad) {
        EXPECT_EQ(CPacket::Acquire(n), nullptr) << n;
    }
    const int32_t good[] = {CPacket::kFrameHead, CPacket::kFrameHead + 1, 1500, 65536, 65537};
    for (int32_t n : good) {
        CPacket* p = CPacket::Acquire(n);
        ASSERT_NE(p, nullptr) << n;
        EXPECT_EQ(p->GetRefCount(), 1);
        EXPECT_GE(p->FrameGetCapacity(), n - CPacket::kFrameHead);
        // The whole payload area is writable (ASan checks the bounds).
        memset(p->FrameGetData(), 0xAB, static_cast<size_t>(p->FrameGetCapacity()));
        EXPECT_EQ(p->Release(), 0);
    }
}

TEST(CorePacket, LargestSizeIsAccepted)
{
    CPacket* p = CPacket::Acquire(kMaxPacket);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->FrameGetCapacity(), kMaxPacket - CPacket::kFrameHead);
    p->FrameGetData()[p->FrameGetCapacity() - 1] = 1;
    EXPECT_EQ(p->Release(), 0);
}

TEST(CorePacket, FrameFieldsAndInit)
{
    CPacket* p = CPacket::Acquire(1000);
    ASSERT_NE(p, nullptr);
    p->FrameSetType(JX_FRAME_VIDEO_KEY);
    p->FrameSetCodec(JX_CODEC_H265);
    p->FrameSetFPS(25.0f);
    p->FrameSetFreq(90000);
    p->FrameSetWidth(1920);
    p->FrameSetHeight(1080);
    p->FrameSetLength(500);
    YRTIME t{2026, 12, 7, 2, 3, 4, 0};
    p->FrameSetTime(t, 123);
    EXPECT_EQ(p->FrameGetType(), JX_FRAME_VIDEO_KEY);
    EXPECT_EQ(p->FrameGetCodec(), JX_CODEC_H265);
    EXPECT_EQ(p->FrameGetFPS(), 25.0f);
    EXPECT_EQ(p->FrameGetFreq(), 90000u);
    EXPECT_EQ(p->FrameGetWidth(), 1920);
    EXPECT_EQ(p->FrameGetHeight(), 1080);
    EXPECT_EQ(p->FrameGetLength(), 500u);
    EXPECT_EQ(p->FrameGetTime().wYear, 2026);
    EXPECT_EQ(p->FrameGetTime().wMilliseconds, 123);

    // The length is clamped to the payload area.
    p->FrameSetLength(0xFFFFFFFFu);
    EXPECT_EQ(p->FrameGetLength(), static_cast<uint32_t>(p->FrameGetCapacity()));
    p->FrameSetLength(static_cast<uint32_t>(p->FrameGetCapacity()) + 1);
    EXPECT_EQ(p->FrameGetLength(), static_cast<uint32_t>(p->FrameGetCapacity()));

    p->FrameInit();
    EXPECT_EQ(p->FrameGetType(), 0);
    EXPECT_EQ(p->FrameGetCodec(), 0);
    EXPECT_EQ(p->FrameGetLength(), 0u);
    EXPECT_EQ(p->FrameGetWidth(), 0);
    EXPECT_EQ(p->FrameGetFreq(), 0u);
    EXPECT_EQ(p->FrameGetTime().wYear, 0);
    p->Release();
}

TEST(CorePacket, RecycledPacketComesBackClean)
{
    CPacket* p = CPacket::Acquire(700);
    ASSERT_NE(p, nullptr);
    p->FrameSetType(JX_FRAME_AUDIO);
    p->FrameSetLength(600);
    p->FrameSetWidth(640);
    p->Release();
    CPacket* q = CPacket::Acquire(700);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->FrameGetType(), 0);
    EXPECT_EQ(q->FrameGetLength(), 0u);
    EXPECT_EQ(q->FrameGetWidth(), 0);
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
    struct Case {
        int64_t nSec;
        int64_t nUsec;
        uint32_t nExpectSec;
        uint16_t nExpectMS;
    };
    const Case cases[] = {
        {1700000000, 456789, 1700000000, 456},
        {1700000000, 0, 1700000000, 0},
        {1700000000, 1500000, 1700000001, 500},   // microseconds over a second
        {1700000000, -1000, 1699999999, 999},     // negative microseconds
        {-5, 0, 0, 0},                            // before 1970: clamped
    };
    CPacket* p = CPacket::Acquire(100);
    ASSERT_NE(p, nullptr);
    for (const Case& c : cases) {
        struct timeval tv {};
        tv.tv_sec = static_cast<decltype(tv.tv_sec)>(c.nSec);
        tv.tv_usec = static_cast<decltype(tv.tv_usec)>(c.nUsec);
        p->FrameSetTime(tv);
        CJXTime want;
        want.m_Time = c.nExpectSec;
        want.m_MS = c.nExpectMS;
        YRTIME w{};
        want.GetTime(w);
        const YRTIME& got = p->FrameGetTime();
        EXPECT_EQ(got.wYear, w.wYear) << c.nSec << " " << c.nUsec;
        EXPECT_EQ(got.wMonth, w.wMonth);
        EXPECT_EQ(got.wDay, w.wDay);
        EXPECT_EQ(got.wHour, w.wHour);
        EXPECT_EQ(got.wMinute, w.wMinute);
        EXPECT_EQ(got.wSecond, w.wSecond);
        EXPECT_EQ(got.wMilliseconds, c.nExpectMS) << c.nSec << " " << c.nUsec;
    }
    p->Release();
}

TEST(CorePacket, SteadyDeliveryReusesBuffers)
{
    // Frames of similar sizes, up to 8 in flight at once.
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int32_t> size(1100, 1900);
    std::vector<CPacket*> inFlight;
    const uint64_t nBefore = CPacket::GetAllocCount();
    for (int32_t i = 0; i < 10000; ++i) {
        CPacket* p = CPacket::Acquire(size(rng));
        ASSERT_NE(p, nullptr);
        p->FrameSetLength(100);
        inFlight.push_back(p);
        if (inFlight.size() == 8) {
            for (CPacket* q : inFlight) {
                q->Release();
            }
            inFlight.clear();
        }
    }
    for (CPacket* q : inFlight) {
        q->Release();
    }
    // At most one buffer per frame in flight, however many frames passed.
    EXPECT_LE(CPacket::GetAllocCount() - nBefore, 8u);
}

TEST(CorePacket, FreeListIsBounded)
{
    // 300 packets held at once, all released: the free list keeps only a
    // bounded number, so taking 300 again needs fresh buffers.
    constexpr int32_t kHeld = 300;
    std::vector<CPacket*> held;
    for (int32_t i = 0; i < kHeld; ++i) {
        held.push_back(CPacket::Acquire(3000));
        ASSERT_NE(held.back(), nullptr);
    }
    for (CPacket* p : held) {
        p->Release();
    }
    held.clear();
    const uint64_t nBefore = CPacket::GetAllocCount();
    for (int32_t i = 0; i < kHeld; ++i) {
        held.push_back(CPacket::Acquire(3000));
    }
    const uint64_t nFresh = CPacket::GetAllocCount() - nBefore;
    EXPECT_GE(nFresh, 200u);
    EXPECT_LT(nFresh, static_cast<uint64_t>(kHeld));
    for (CPacket* p : held) {
        p->Release();
    }
}

TEST(CorePacket, ReferencesAcrossThreads)
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
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(p->GetRefCount(), 1);
    EXPECT_EQ(p->Release(), 0);
}

TEST(CorePacket, HandOverToAnotherThread)
{
    // The worker fills frames and hands them over; the consumer checks the
    // bytes and drops the last reference on its own thread.
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<CPacket*> queue;
    bool bDone = false;
    std::atomic<int32_t> nBad{0};
    std::atomic<int32_t> nSeen{0};

    std::thread consumer([&] {
        for (;;) {
            CPacket* p = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait(lock, [&] { return !queue.empty() || bDone; });
                if (queue.empty()) {
                    return;
                }
                p = queue.front();
                queue.pop_front();
            }
            const uint8_t* pData = p->FrameGetData();
            const uint32_t n = p->FrameGetLength();
            for (uint32_t i = 0; i < n; ++i) {
                if (pData[i] != static_cast<uint8_t>(n + i)) {
                    ++nBad;
                    break;
                }
            }
            ++nSeen;
            p->Release();
        }
    });
    for (int32_t i = 0; i < 3000; ++i) {
        const uint32_t n = 500 + static_cast<uint32_t>(i % 700);
        CPacket* p = CPacket::Acquire(static_cast<int32_t>(n) + CPacket::kFrameHead);
        ASSERT_NE(p, nullptr);
        for (uint32_t k = 0; k < n; ++k) {
            p->FrameGetData()[k] = static_cast<uint8_t>(n + k);
        }
        p->FrameSetLength(n);
        p->AddRef();   // the queue's reference
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(p);
        }
        ready.notify_one();
        p->Release();  // ours
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        bDone = true;
    }
    ready.notify_one();
    consumer.join();
    EXPECT_EQ(nSeen.load(), 3000);
    EXPECT_EQ(nBad.load(), 0);
}

}  // namespace

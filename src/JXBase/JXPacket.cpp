// Reference-counted frame packets. Buffers come in power-of-two size classes;
// a released packet goes back to the free list of its class (each guarded by
// its own mutex, each holding a bounded number of packets), so steady delivery
// of similar frames reuses buffers instead of calling the allocator.
#include "JXPacket.h"

#include "JXPrintf.h"
#include "JXTime.h"

#include <sys/time.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {
constexpr int32_t kMinShift = 6;    // smallest class: 64 bytes
constexpr int32_t kMaxShift = 26;   // largest class: 64 MiB
constexpr int32_t kMaxPacket = 1 << kMaxShift;
constexpr int32_t kClassCount = kMaxShift - kMinShift + 1;
constexpr int64_t kCacheBytesPerClass = 16 << 20;   // cached bytes kept per class
constexpr int32_t kMaxCachedPerClass = 64;

std::atomic<uint64_t> s_AllocCount{0};

int32_t SizeClassOf(int32_t nSize)
{
    int32_t nShift = kMinShift;
    while ((1 << nShift) < nSize) {
        ++nShift;
    }
    return nShift - kMinShift;
}

int32_t CacheLimitOf(int32_t nClass)
{
    const int64_t nBytes = int64_t(1) << (nClass + kMinShift);
    int64_t nLimit = kCacheBytesPerClass / nBytes;
    if (nLimit < 1) {
        nLimit = 1;
    }
    return nLimit > kMaxCachedPerClass ? kMaxCachedPerClass : static_cast<int32_t>(nLimit);
}
}   // namespace

class CPacketPool {
public:
    static CPacketPool& Get()
    {
        // Never destroyed: packets may be released during process exit.
        static CPacketPool* s_Pool = new CPacketPool();
        return *s_Pool;
    }

    CPacket* Take(int32_t nClass)
    {
        FreeList& list = m_Lists[nClass];
        {
            std::lock_guard<std::mutex> lock(list.m_Mutex);
            if (list.m_Head != nullptr) {
                CPacket* pPacket = list.m_Head;
                list.m_Head = pPacket->m_Next;
                pPacket->m_Next = nullptr;
                --list.m_Count;
                return pPacket;
            }
        }
        return Create(nClass);
    }

    void Give(CPacket* pPacket)
    {
        FreeList& list = m_Lists[pPacket->m_SizeClass];
        {
            std::lock_guard<std::mutex> lock(list.m_Mutex);
            if (list.m_Count < CacheLimitOf(pPacket->m_SizeClass)) {
                pPacket->m_Next = list.m_Head;
                list.m_Head = pPacket;
                ++list.m_Count;
                return;
            }
        }
        delete pPacket;
    }

private:
    struct FreeList {
        std::mutex m_Mutex;
        CPacket* m_Head = nullptr;
        int32_t m_Count = 0;
    };

    static CPacket* Create(int32_t nClass)
    {
        const int32_t nBytes = 1 << (nClass + kMinShift);
        uint8_t* pBuffer = static_cast<uint8_t*>(malloc(static_cast<size_t>(nBytes)));
        if (pBuffer == nullptr) {
            return nullptr;
        }
        CPacket* pPacket = new (std::nothrow) CPacket();
        if (pPacket == nullptr) {
            free(pBuffer);
            return nullptr;
        }
        pPacket->m_Buffer = pBuffer;
        pPacket->m_Capacity = nBytes;
        pPacket->m_SizeClass = nClass;
        s_AllocCount.fetch_add(1, std::memory_order_relaxed);
        return pPacket;
    }

    FreeList m_Lists[kClassCount];
};

CPacket::~CPacket()
{
    free(m_Buffer);
}

CPacket* CPacket::Acquire(int32_t nSize, int32_t /*nFlags*/)
{
    if (nSize < kFrameHead || nSize > kMaxPacket) {
        return nullptr;
    }
    CPacket* pPacket = CPacketPool::Get().Take(SizeClassOf(nSize));
    if (pPacket == nullptr) {
        return nullptr;
    }
    pPacket->m_RefCount.store(1, std::memory_order_relaxed);
    pPacket->FrameInit();
    return pPacket;
}

void CPacket::AddRef()
{
    m_RefCount.fetch_add(1, std::memory_order_relaxed);
}

int32_t CPacket::Release()
{
    const int32_t nCount = m_RefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (nCount == 0) {
        CPacketPool::Get().Give(this);
    } else if (nCount < 0) {
        // Released more often than referenced: keep it out of the free list twice.
        JXPrintf("CPacket(%p)---------->Release without a reference.\n", static_cast<void*>(this));
    }
    return nCount;
}

int32_t CPacket::GetRefCount() const
{
    return m_RefCount.load(std::memory_order_acquire);
}

void CPacket::FrameInit()
{
    m_Type = 0;
    m_Codec = 0;
    m_Width = 0;
    m_Height = 0;
    m_Length = 0;
    m_FPS = 0.0f;
    m_Freq = 0;
    m_Time = YRTIME{};
    m_Offset = 0;
    memset(m_Buffer, 0, kFrameHead);
}

bool CPacket::FrameSetOffset(int32_t nBytes)
{
    if (nBytes < 0 || nBytes > m_Capacity - kFrameHead) {
        return false;
    }
    m_Offset = nBytes;
    FrameSetLength(m_Length);   // the length stays inside the payload from its new start
    return true;
}

void CPacket::FrameSetLength(uint32_t nLength)
{
    const uint32_t nMax = static_cast<uint32_t>(FrameGetCapacity());
    m_Length = nLength > nMax ? nMax : nLength;
}

void CPacket::FrameSetTime(const YRTIME& t, uint16_t nMS)
{
    m_Time = t;
    m_Time.wMilliseconds = nMS;
}

void CPacket::FrameSetTime(const struct timeval& tv)
{
    constexpr int64_t kUSPerSecond = 1000000;
    int64_t nSeconds = static_cast<int64_t>(tv.tv_sec);
    int64_t nMicro = static_cast<int64_t>(tv.tv_usec);
    // Normalise microseconds outside 0..999999.
    nSeconds += nMicro / kUSPerSecond;
    nMicro %= kUSPerSecond;
    if (nMicro < 0) {
        nMicro += kUSPerSecond;
        --nSeconds;
    }
    if (nSeconds < 0) {
        nSeconds = 0;
        nMicro = 0;
    } else if (nSeconds > 0xFFFFFFFFll) {
        nSeconds = 0xFFFFFFFFll;
    }
    CJXTime time;
    time.m_Time = static_cast<uint32_t>(nSeconds);
    time.m_MS = static_cast<uint32_t>(nMicro / 1000);
    time.GetTime(m_Time);
}

bool CPacket::FrameIsVideo() const
{
    return m_Type == JX_FRAME_VIDEO || m_Type == JX_FRAME_VIDEO_KEY || m_Type == JX_FRAME_JPEG ||
           m_Type == JX_FRAME_MARK_VI || m_Type == JX_FRAME_MARK_PB;
}

bool CPacket::FrameIsAudio() const
{
    return m_Type == JX_FRAME_AUDIO;
}

bool CPacket::FrameIsKey() const
{
    return m_Type == JX_FRAME_VIDEO_KEY || m_Type == JX_FRAME_JPEG || m_Type == JX_FRAME_MARK_VI;
}

uint64_t CPacket::GetAllocCount()
{
    return s_AllocCount.load(std::memory_order_relaxed);
}

// The frame store. Packets come from the packet pool, which recycles them by
// size class: a stream whose frames keep to their size allocates nothing. A
// frame that outgrows its packet moves into one twice its size, so a frame
// moves a few times at most; the next packet is taken for the largest of the
// recent frames (fading by 1/kHintFade a frame), so moving stays the
// exception without every packet keeping the size of a rare large frame.
#include "rtpframestore.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int32_t kHintFade = 16;
// Room in front remembered for the next packets: a larger head moves its
// frame each time rather than making every packet larger.
constexpr int32_t kMaxKeptFront = 4096;
}   // namespace

CRTPFrameStore::CRTPFrameStore(int32_t nFront, int32_t nTail, int32_t nFirst, int32_t nMax)
    : m_Front(nFront), m_WantFront(nFront), m_Tail(nTail), m_Max(nMax),
      m_SizeHint(std::max(0, nFirst - CPacket::kFrameHead - nFront - nTail))
{
    Reserve(m_WantFront, 0);   // on failure the first Append tries again
}

CRTPFrameStore::~CRTPFrameStore()
{
    if (m_Packet != nullptr) {
        m_Packet->Release();
    }
}

int32_t CRTPFrameStore::Reserve(int32_t nFront, int32_t nBytes)
{
    if (m_Packet != nullptr && nFront <= m_Front && nBytes <= m_Size) {
        return JX_OK;
    }
    int64_t nWant = std::max(nBytes, m_SizeHint);
    if (m_Packet != nullptr && nBytes > m_Size) {
        nWant = std::max<int64_t>(nBytes, std::min<int64_t>(int64_t(2) * nBytes, m_Max));   // grows: twice over
    }
    const int64_t nTotal = CPacket::kFrameHead + nFront + nWant + m_Tail;
    CPacket* pPacket = nTotal <= INT32_MAX ? CPacket::Acquire(static_cast<int32_t>(nTotal)) : nullptr;
    if (pPacket == nullptr) {
        return JX_ERR_NOMEM;
    }
    char* pData = reinterpret_cast<char*>(pPacket->FrameGetData()) + nFront;
    if (m_Packet != nullptr) {
        if (m_Length > 0) {
            memcpy(pData, m_Data, static_cast<size_t>(m_Length));
            ++m_Moves;
        }
        m_Packet->Release();
    }
    m_Packet = pPacket;
    m_Front = nFront;
    m_Data = pData;
    m_Size = pPacket->FrameGetCapacity() - nFront - m_Tail;
    return JX_OK;
}

int32_t CRTPFrameStore::Append(const void* pData, int32_t nLen)
{
    if (nLen <= 0) {
        return JX_OK;
    }
    if (nLen > m_Size - m_Length || m_Packet == nullptr) {
        const int32_t nResult = Reserve(m_WantFront, m_Length + nLen);
        if (nResult != JX_OK) {
            return nResult;
        }
    }
    memcpy(m_Data + m_Length, pData, static_cast<size_t>(nLen));
    m_Length += nLen;
    return JX_OK;
}

void CRTPFrameStore::Empty()
{
    m_Length = 0;
    if (m_Packet != nullptr) {
        m_Packet->FrameSetOffset(0);   // a frame sealed and not handed on: the packet is ours again
    }
}

CPacket* CRTPFrameStore::Seal(int32_t nFront)
{
    if (nFront < 0) {
        return nullptr;
    }
    m_WantFront = std::max(m_WantFront, std::min(nFront, kMaxKeptFront));
    if (Reserve(nFront, m_Length) != JX_OK) {
        return nullptr;
    }
    m_Packet->FrameInit();
    m_Packet->FrameSetOffset(m_Front - nFront);
    return m_Packet;
}

void CRTPFrameStore::Handed()
{
    m_SizeHint = std::max(m_Length, m_SizeHint - m_SizeHint / kHintFade);
    if (m_Packet != nullptr) {
        m_Packet->Release();
    }
    m_Packet = nullptr;
    m_Data = nullptr;
    m_Length = 0;
    m_Size = 0;
}

const char* CRTPFrameStore::Fault() const
{
    if (m_Packet == nullptr) {
        return m_Data == nullptr && m_Length == 0 && m_Size == 0 ? nullptr : "a frame stored without its packet";
    }
    const char* pFirst = reinterpret_cast<const char*>(m_Packet->FrameGetData());
    if (m_Data != pFirst + m_Front || m_Front < 0 || m_Size < 0 ||
        int64_t(m_Front) + m_Size + m_Tail > m_Packet->FrameGetCapacity()) {
        return "frame storage outside its packet";
    }
    return m_Packet->GetRefCount() == 1 ? nullptr : "the packet of the frame gathered now is shared";
}

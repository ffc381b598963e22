// The reorder window. Held packets lie within kSlots sequence numbers of the
// next one expected, so a packet's slot is its sequence number modulo kSlots
// and two packets held never share one.
#include "rtpreorder.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr uint32_t kRtpHeadBytes = 12;
constexpr uint8_t kRtpVersion = 2;
constexpr uint32_t kSeqMod = 65536;

uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Read32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
}   // namespace

CRTPReorder::~CRTPReorder()
{
    free(m_Storage);
}

int32_t CRTPReorder::Init(FRelease pRelease, void* pUser)
{
    if (pRelease == nullptr) return JX_ERR_ARG;
    m_Release = pRelease;
    m_User = pUser;
    if (m_Storage == nullptr) {
        m_Storage = static_cast<uint8_t*>(malloc(size_t(kSlots) * kSlotBytes));
    }
    Reset();
    return m_Storage != nullptr ? JX_OK : JX_ERR_NOMEM;
}

void CRTPReorder::Reset()
{
    for (CSlot& slot : m_Slots)
        slot.m_Used = false;
    m_Held = 0;
    m_HasNext = false;
}

int32_t CRTPReorder::Push(const uint8_t* pData, uint32_t nLen, uint64_t nNowMs)
{
    if (m_Release == nullptr) return JX_ERR_STATE;
    if (pData == nullptr) return JX_ERR_ARG;
    if (m_Storage == nullptr || nLen < kRtpHeadBytes || (pData[0] >> 6) != kRtpVersion) {
        Release(pData, nLen);   // nothing to order by: the parser judges it
        return JX_OK;
    }
    Poll(nNowMs);   // what waited long enough goes first: it lies before this packet
    const uint16_t nSeq = Read16(pData + 2);
    const uint32_t nSSRC = Read32(pData + 8);
    if (!m_HasNext || nSSRC != m_SSRC) {
        // Another source has numbers of its own: the depacketizer decides
        // whether it is followed, and the window follows what comes.
        Restart(pData, nLen, nSeq, nSSRC);
        return JX_OK;
    }
    uint16_t nAhead = static_cast<uint16_t>(nSeq - m_NextSeq);
    if (nAhead >= kSlots && nAhead < kMaxDropout) {
        // Beyond the window: it moves on as far as this packet needs, and the
        // numbers it passes without a packet are lost.
        AdvanceTo(static_cast<uint16_t>(nSeq - (kSlots - 1)));
        nAhead = static_cast<uint16_t>(nSeq - m_NextSeq);
    }
    if (nAhead == 0) {
        Release(pData, nLen);
        ++m_NextSeq;
        Drain();
        return JX_OK;
    }
    if (nAhead < kSlots) {
        CSlot& slot = m_Slots[nSeq % kSlots];
        if (slot.m_Used) {
            ++m_Dropped;   // the same number is already held: a duplicate
            return JX_ERR_CONTENT;
        }
        if (nLen > kSlotBytes) {
            Restart(pData, nLen, nSeq, nSSRC);
            return JX_OK;
        }
        memcpy(SlotData(nSeq % kSlots), pData, nLen);
        slot.m_Used = true;
        slot.m_Seq = nSeq;
        slot.m_Len = nLen;
        slot.m_ArrivalMs = nNowMs;
        ++m_Held;
        return JX_OK;
    }
    if (kSeqMod - nAhead <= kMaxMisorder) {
        ++m_Dropped;   // behind: handed on already, or its place given up as lost
        return JX_ERR_CONTENT;
    }
    Restart(pData, nLen, nSeq, nSSRC);   // a jump: the sender restarted its numbers
    return JX_OK;
}

void CRTPReorder::Poll(uint64_t nNowMs)
{
    if (m_Held == 0) return;
    // The furthest held packet that has waited long enough: everything before
    // it goes out with it, whatever is still missing there.
    bool bDue = false;
    uint16_t nFurthest = 0;
    for (const CSlot& slot : m_Slots) {
        if (!slot.m_Used || nNowMs < slot.m_ArrivalMs + kMaxWaitMs) continue;
        const uint16_t nAhead = static_cast<uint16_t>(slot.m_Seq - m_NextSeq);
        if (!bDue || nAhead > nFurthest) nFurthest = nAhead;
        bDue = true;
    }
    if (bDue) AdvanceTo(static_cast<uint16_t>(m_NextSeq + nFurthest));
}

void CRTPReorder::Flush()
{
    // Held packets lie within kSlots numbers ahead: the loop ends within as many.
    while (m_Held > 0) {
        AdvanceTo(static_cast<uint16_t>(m_NextSeq + 1));
    }
}

void CRTPReorder::AdvanceTo(uint16_t nSeq)
{
    while (m_Held > 0 && m_NextSeq != nSeq) {
        CSlot& slot = m_Slots[m_NextSeq % kSlots];
        if (slot.m_Used && slot.m_Seq == m_NextSeq) {
            slot.m_Used = false;
            --m_Held;
            ++m_Reordered;
            Release(SlotData(m_NextSeq % kSlots), slot.m_Len);
        }
        ++m_NextSeq;
    }
    m_NextSeq = nSeq;
    Drain();
}

void CRTPReorder::Drain()
{
    while (m_Held > 0) {
        CSlot& slot = m_Slots[m_NextSeq % kSlots];
        if (!slot.m_Used || slot.m_Seq != m_NextSeq) return;
        slot.m_Used = false;
        --m_Held;
        ++m_Reordered;
        Release(SlotData(m_NextSeq % kSlots), slot.m_Len);
        ++m_NextSeq;
    }
}

void CRTPReorder::Restart(const uint8_t* pData, uint32_t nLen, uint16_t nSeq, uint32_t nSSRC)
{
    Flush();
    Release(pData, nLen);
    m_HasNext = true;
    m_NextSeq = static_cast<uint16_t>(nSeq + 1);
    m_SSRC = nSSRC;
}

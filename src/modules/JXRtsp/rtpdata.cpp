// RTP packet builder for interleaved RTSP transport.
#include "rtpdata.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr uint8_t kInterleavedMagic = 0x24;   // '$'
constexpr uint32_t kMaxPacket = 0xFFFF;       // the sizes are held in 16 bits
constexpr uint8_t kH264FuA = 28;
constexpr uint32_t kHeadBytes = CRTPData::kFrameBytes + CRTPData::kRTPHeadBytes;

void PutBE16(uint8_t* p, uint32_t n)
{
    p[0] = static_cast<uint8_t>(n >> 8);
    p[1] = static_cast<uint8_t>(n);
}

void PutBE32(uint8_t* p, uint32_t n)
{
    p[0] = static_cast<uint8_t>(n >> 24);
    p[1] = static_cast<uint8_t>(n >> 16);
    p[2] = static_cast<uint8_t>(n >> 8);
    p[3] = static_cast<uint8_t>(n);
}

// S and E of a fragment header, in bits 7 and 6.
uint8_t FragmentBits(int nFlags)
{
    return static_cast<uint8_t>(((nFlags & CRTPData::kFlagStart) ? 0x80 : 0) |
                                ((nFlags & CRTPData::kFlagEnd) ? 0x40 : 0));
}
}   // namespace

CRTPData::CRTPData() = default;

CRTPData::~CRTPData()
{
    free(m_Packet);
}

int CRTPData::AllocBuffer(unsigned short nSize)
{
    if (m_Capacity >= nSize) {
        return JX_OK;
    }
    free(m_Packet);
    m_Packet = static_cast<uint8_t*>(malloc(nSize));
    if (m_Packet == nullptr) {
        m_Capacity = 0;
        return JX_ERR_NOMEM;
    }
    m_Capacity = nSize;
    return JX_OK;
}

//  0        1        2        3
// +--------+--------+--------+--------+
// |  '$'   |channel | length of what follows |
// +--------+--------+--------+--------+
// |V P X CC|M  PT   | sequence number |
// +--------+--------+--------+--------+
// |             timestamp             |
// +--------+--------+--------+--------+
// |               SSRC                |
// +--------+--------+--------+--------+
uint8_t* CRTPData::BeginPacket(const tag_RTPHDR& hdr, uint8_t nChannel, bool bMarker, uint32_t nTotal, int& nResult)
{
    if (nTotal > kMaxPacket) {
        nResult = JX_ERR_ARG;   // the length fields would not hold it
        return nullptr;
    }
    if (AllocBuffer(static_cast<unsigned short>(nTotal)) != JX_OK || m_Packet == nullptr) {
        nResult = JX_ERR_FAIL;
        return nullptr;
    }
    uint8_t* p = m_Packet;
    p[0] = kInterleavedMagic;
    p[1] = nChannel;
    PutBE16(p + 2, nTotal - kFrameBytes);
    p[4] = static_cast<uint8_t>(((hdr.nVersion & 0x03) << 6) | ((hdr.nPadding & 1) << 5) | ((hdr.nExtension & 1) << 4) |
                                (hdr.nCSRCCount & 0x0F));
    p[5] = static_cast<uint8_t>((bMarker ? 0x80 : 0) | (hdr.nPayloadType & 0x7F));
    PutBE16(p + 6, hdr.nSeqNo);
    PutBE32(p + 8, hdr.nTimeStamp);
    PutBE32(p + 12, hdr.nSSRC);
    nResult = JX_OK;
    return p + kHeadBytes;
}

int CRTPData::BuildH264RTP(tag_RTPHDR* pHdr, unsigned char nNal, unsigned char const* pData, unsigned short nLen)
{
    if (pHdr == nullptr || pData == nullptr || nLen == 0) {
        return JX_ERR_ARG;
    }
    const uint32_t nTotal = kHeadBytes + 1 + nLen;
    int nResult = JX_OK;
    uint8_t* p = BeginPacket(*pHdr, kVideoChannel, true, nTotal, nResult);
    if (p == nullptr) {
        return nResult;
    }
    p[0] = nNal;
    memcpy(p + 1, pData, nLen);
    m_Length = static_cast<uint16_t>(nTotal);
    return JX_OK;
}

// FU indicator          FU header
// +-+-+-+-+-+-+-+-+     +-+-+-+-+-+-+-+-+
// |F|NRI|  Type=28|     |S|E|R|  Type   |
// +-+-+-+-+-+-+-+-+     +-+-+-+-+-+-+-+-+
int CRTPData::BuildH264RTPFu(tag_RTPHDR* pHdr, unsigned char nNal, unsigned char const* pData, unsigned short nLen,
                             int nFlags)
{
    if (pHdr == nullptr || pData == nullptr || nLen == 0) {
        return JX_ERR_ARG;
    }
    const uint32_t nTotal = kHeadBytes + 2 + nLen;
    int nResult = JX_OK;
    uint8_t* p = BeginPacket(*pHdr, kVideoChannel, (nFlags & kFlagEnd) != 0, nTotal, nResult);
    if (p == nullptr) {
        return nResult;
    }
    p[0] = static_cast<uint8_t>((nNal & 0xE0) | kH264FuA);
    // Only S and E are taken from the flags: R must be 0 (RFC 6184 5.8).
    p[1] = static_cast<uint8_t>(FragmentBits(nFlags) | (nNal & 0x1F));
    memcpy(p + 2, pData, nLen);
    m_Length = static_cast<uint16_t>(nTotal);
    return JX_OK;
}

int CRTPData::BuildH265RTP(tag_RTPHDR* pHdr, unsigned char const* pData, unsigned short nLen)
{
    if (pHdr == nullptr || pData == nullptr || nLen == 0) {
        return JX_ERR_ARG;
    }
    const uint32_t nTotal = kHeadBytes + nLen;
    int nResult = JX_OK;
    uint8_t* p = BeginPacket(*pHdr, kVideoChannel, true, nTotal, nResult);
    if (p == nullptr) {
        return nResult;
    }
    memcpy(p, pData, nLen);
    m_Length = static_cast<uint16_t>(nTotal);
    return JX_OK;
}

// PayloadHdr (type 49, set by the caller)   FU header
// +---------------+---------------+         +-+-+-+-+-+-+-+-+
// |F|   Type  |  LayerId  | TID |         |S|E|  FuType   |
// +---------------+---------------+         +-+-+-+-+-+-+-+-+
int CRTPData::BuildH265RTPFu(tag_RTPHDR* pHdr, unsigned short nPayloadHdr, unsigned char nFuType,
                             unsigned char const* pData, unsigned short nLen, int nFlags)
{
    if (pHdr == nullptr || pData == nullptr || nLen < 2) {
        return JX_ERR_ARG;
    }
    const uint32_t nTotal = kHeadBytes + 3 + nLen;
    int nResult = JX_OK;
    uint8_t* p = BeginPacket(*pHdr, kVideoChannel, (nFlags & kFlagEnd) != 0, nTotal, nResult);
    if (p == nullptr) {
        return nResult;
    }
    memcpy(p, &nPayloadHdr, 2);   // as it lies in memory: the caller read the two bytes as one value
    p[2] = static_cast<uint8_t>(nFuType | FragmentBits(nFlags));
    memcpy(p + 3, pData, nLen);
    m_Length = static_cast<uint16_t>(nTotal);
    return JX_OK;
}

int CRTPData::BuildPCMRTP(tag_RTPHDR* pHdr, unsigned char const* pData1, unsigned short nLen1,
                          unsigned char const* pData2, unsigned short nLen2)
{
    if (pHdr == nullptr) {
        return JX_ERR_ARG;
    }
    if (pData1 == nullptr) {
        nLen1 = 0;
    }
    if (pData2 == nullptr) {
        nLen2 = 0;
    }
    const uint32_t nTotal = kHeadBytes + nLen1 + nLen2;
    int nResult = JX_OK;
    uint8_t* p = BeginPacket(*pHdr, kAudioChannel, true, nTotal, nResult);
    if (p == nullptr) {
        return nResult;
    }
    if (nLen1 > 0) {
        memcpy(p, pData1, nLen1);
    }
    if (nLen2 > 0) {
        memcpy(p + nLen1, pData2, nLen2);
    }
    m_Length = static_cast<uint16_t>(nTotal);
    return JX_OK;
}

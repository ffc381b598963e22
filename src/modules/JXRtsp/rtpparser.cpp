// RTP header parser. Every length is checked against the packet before the
// bytes it covers are read.
#include "rtpparser.h"

namespace {
constexpr uint32_t kCSRCBytes = 4;
constexpr uint32_t kExtHeadBytes = 4;
// Neither UDP nor an interleaved frame carries more than 65535 bytes, so an
// extension claiming more cannot be whole.
constexpr uint32_t kMaxExtBytes = 0xFFFF;

uint16_t GetBE16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t GetBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
}   // namespace

CRTPParser::CRTPParser() = default;

CRTPParser::~CRTPParser() = default;

void CRTPParser::Reset()
{
    m_Data = nullptr;
    m_Size = 0;
    m_HeadLen = 0;
    m_ExtProfile = 0;
    m_ExtLength = 0;
}

//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P|X|  CC   |M|     PT      |       sequence number         |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                           timestamp                           |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                             SSRC                              |
// +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
// |                  CSRC list, CC x 32 bits                      |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |      profile-defined (X)      |     length in 32-bit words    |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  extension body, length x 32 bits             |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  payload ...  | padding ...   | padding count |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
int32_t CRTPParser::Setup(const uint8_t* pData, uint32_t nLen)
{
    // Every refusal leaves the parser not set up: a packet refused after an
    // accepted one must not leave the earlier packet's bytes in view.
    m_Data = nullptr;
    if (pData == nullptr || nLen < kFixedHead) {
        return JX_ERR_ARG;
    }
    m_Version = static_cast<uint8_t>(pData[0] >> 6);
    m_Padding = static_cast<uint8_t>((pData[0] >> 5) & 1);
    m_Extension = static_cast<uint8_t>((pData[0] >> 4) & 1);
    m_CSRCCount = static_cast<uint8_t>(pData[0] & 0x0F);
    m_Marker = static_cast<uint8_t>(pData[1] >> 7);
    m_PayloadType = static_cast<uint8_t>(pData[1] & 0x7F);
    m_SeqNo = GetBE16(pData + 2);
    m_TimeStamp = GetBE32(pData + 4);
    m_SSRC = GetBE32(pData + 8);
    m_ExtProfile = 0;
    m_ExtLength = 0;

    // Judged on the full length: a packet without any byte behind the
    // fixed header and CSRC list is refused.
    m_HeadLen = kFixedHead + kCSRCBytes * m_CSRCCount;
    if (m_HeadLen >= nLen) {
        return JX_ERR_ARG;
    }
    // The last byte counts the padding bytes, itself included. A count that
    // reaches into the header, or leaves no payload byte, cannot be right.
    uint32_t nPad = m_Padding ? pData[nLen - 1] : 0;
    if (nPad >= nLen - m_HeadLen) {
        m_Size = nLen;
        return JX_ERR_ARG;
    }
    m_Size = nLen - nPad;
    if (!m_Extension) {
        m_Data = pData;
        return JX_OK;
    }

    if (m_HeadLen + kExtHeadBytes >= m_Size) {
        return JX_ERR_CONTENT;
    }
    const uint8_t* pExt = pData + m_HeadLen;
    uint32_t nExtBytes = kExtHeadBytes + 4u * GetBE16(pExt + 2);
    if (nExtBytes > kMaxExtBytes) {
        return JX_ERR_CONTENT;
    }
    m_ExtProfile = GetBE16(pExt);
    m_ExtLength = static_cast<uint16_t>(nExtBytes);
    m_HeadLen += nExtBytes;
    if (m_HeadLen >= m_Size) {
        return JX_ERR_CONTENT;
    }
    m_Data = pData;
    return JX_OK;
}

void CRTPParser::Dump()
{
    if (m_Data == nullptr) {
        JXPrintf("CRTPParser(%p)--------->Not setup!!!!\n", static_cast<void*>(this));
        return;
    }
    JXPrintf("RTP: V=%d, P=%d, X=%d, CC=%d, M=%d, PT=%d, SN=%d, SSRC=0x%08x, STMP=0x%08x, size = %d, len = %d\n",
             m_Version, m_Padding, m_Extension, m_CSRCCount, m_Marker, m_PayloadType, m_SeqNo, m_SSRC, m_TimeStamp,
             static_cast<int>(m_Size), static_cast<int>(m_Size - m_HeadLen));
}

// RTCP for a receiver (RFC 3550): the compound-packet reader, the reception
// statistics of one source and the receiver report written from them.
#include "rtcp.h"

namespace {
constexpr uint32_t kHeadBytes = 4;   // V, P, count, PT, length
constexpr uint32_t kWordBytes = 4;
constexpr uint8_t kVersion2 = 2;
constexpr uint8_t kVersionShift = 6;
constexpr uint8_t kPaddingBit = 0x20;
constexpr uint8_t kCountMask = 0x1F;
constexpr uint8_t kTypeSR = 200;
constexpr uint8_t kTypeRR = 201;
constexpr uint8_t kTypeSDES = 202;
constexpr uint8_t kTypeBYE = 203;
constexpr uint32_t kSenderInfoBytes = 24;   // SSRC, NTP msw, NTP lsw, RTP time, packets, octets
constexpr uint32_t kReportBlockBytes = 24;

constexpr uint32_t kSeqMod = 1u << 16;
// "bad_seq" starts here so that no sequence number can equal it.
constexpr uint32_t kNoBadSeq = kSeqMod + 1;
// The 24-bit signed cumulative-lost field of a report block.
constexpr int64_t kMaxLostField = 0x7FFFFF;
constexpr int64_t kMinLostField = -0x800000;
constexpr uint32_t kLostFieldMask = 0xFFFFFF;
constexpr uint32_t kMaxFraction = 255;
// The jitter is kept scaled by 16. A step of at most 2^28 - 1 keeps the
// scaled value below 16 times that plus 7, inside 32 bits; a larger step is
// a clock jump, not jitter.
constexpr uint32_t kJitterShift = 4;
constexpr uint32_t kJitterRound = 8;
constexpr uint32_t kMaxJitterStep = (1u << 28) - 1;

// The receiver report: header, reporter SSRC, one report block.
constexpr uint32_t kReportBytes = kHeadBytes + 4 + kReportBlockBytes;
// SDES: header and the chunk's SSRC before the items.
constexpr uint32_t kSdesHeadBytes = kHeadBytes + 4;
constexpr uint32_t kItemHeadBytes = 2;   // type, length
constexpr uint8_t kItemEnd = 0;
constexpr uint8_t kItemCname = 1;
constexpr uint32_t kMaxCname = 255;
// The middle 32 bits of an NTP time, and DLSR's unit of 1/65536 s.
constexpr uint32_t kLsrShift = 16;
constexpr uint64_t kDlsrUnitsPerSecond = 65536;
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kMaxDlsr = 0xFFFFFFFF;
// A delay longer than this fills the DLSR field anyway; the bound keeps the
// product below 64 bits.
constexpr uint64_t kMaxDlsrMs = kMaxDlsr * kMsPerSecond / kDlsrUnitsPerSecond + 1;

// RFC 3550 A.7: a factor of 0.5 to 1.5, divided by e - 3/2 = 1.21828, here
// as 121828 / 100000 so that the interval is exact integer arithmetic.
constexpr uint32_t kRandomRange = 65536;
constexpr uint64_t kCompensationNum = 121828;
constexpr uint64_t kCompensationDen = 100000;

uint32_t GetBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint8_t* PutBE32(uint8_t* p, uint32_t n)
{
    p[0] = static_cast<uint8_t>(n >> 24);
    p[1] = static_cast<uint8_t>(n >> 16);
    p[2] = static_cast<uint8_t>(n >> 8);
    p[3] = static_cast<uint8_t>(n);
    return p + 4;
}

// V=2, P=0, the count, the type and the length in words less one.
uint8_t* PutHead(uint8_t* p, uint8_t nCount, uint8_t nType, uint32_t nBytes)
{
    const uint32_t nWords = nBytes / kWordBytes - 1;
    p[0] = static_cast<uint8_t>((kVersion2 << kVersionShift) | nCount);
    p[1] = nType;
    p[2] = static_cast<uint8_t>(nWords >> 8);
    p[3] = static_cast<uint8_t>(nWords);
    return p + kHeadBytes;
}

// The CNAME's length, or kMaxCname + 1 when longer; reads no further.
uint32_t CnameLength(const char* pCname)
{
    uint32_t n = 0;
    while (n <= kMaxCname && pCname[n] != '\0') {
        ++n;
    }
    return n;
}

// SDES chunk after its SSRC: the CNAME item, then at least one null octet
// (the END item) and more up to the next 32-bit boundary (RFC 3550 6.5).
uint32_t SdesBytes(uint32_t nCname)
{
    return (kSdesHeadBytes + kItemHeadBytes + nCname + 1 + kWordBytes - 1) / kWordBytes * kWordBytes;
}
}   // namespace

//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P|    RC   |      PT       |   length in 32-bit words - 1  |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |           body (SR: SSRC, NTP msw, NTP lsw, RTP time,         |
// |            packet count, octet count, RC report blocks)       |
// |                               ...     | padding ... | count   |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
int32_t CRTCPReader::Read(const uint8_t* pData, uint32_t nLen)
{
    *this = CRTCPReader();
    if (pData == nullptr || nLen == 0) {
        return JX_ERR_ARG;
    }
    uint32_t nPos = 0;
    while (nPos < nLen && m_PacketCount < kMaxPackets) {
        const uint8_t* p = pData + nPos;
        const uint32_t nLeft = nLen - nPos;
        if (nLeft < kHeadBytes || (p[0] >> kVersionShift) != kVersion2) {
            return JX_ERR_CONTENT;
        }
        const uint32_t nBytes = ((static_cast<uint32_t>(p[2]) << 8 | p[3]) + 1) * kWordBytes;
        if (nBytes > nLeft) {
            return JX_ERR_CONTENT;
        }
        uint32_t nBody = nBytes - kHeadBytes;
        if ((p[0] & kPaddingBit) != 0) {
            const uint8_t nPad = p[nBytes - 1];   // the count counts itself
            if (nPad == 0 || nPad > nBody) {
                return JX_ERR_CONTENT;
            }
            nBody -= nPad;
        }
        const uint8_t* pBody = p + kHeadBytes;
        const uint32_t nCount = p[0] & kCountMask;
        if (p[1] == kTypeSR) {
            if (nBody < kSenderInfoBytes || nCount * kReportBlockBytes > nBody - kSenderInfoBytes) {
                return JX_ERR_CONTENT;
            }
            if (m_ReportCount < sizeof(m_Reports) / sizeof(m_Reports[0])) {
                CRTCPSenderReport& sr = m_Reports[m_ReportCount++];
                sr.m_SSRC = GetBE32(pBody);
                sr.m_NtpTime = static_cast<uint64_t>(GetBE32(pBody + 4)) << 32 | GetBE32(pBody + 8);
                sr.m_RtpTime = GetBE32(pBody + 12);
                sr.m_PacketCount = GetBE32(pBody + 16);
                sr.m_OctetCount = GetBE32(pBody + 20);
            }
        } else if (p[1] == kTypeBYE) {
            if (nCount * kWordBytes > nBody) {
                return JX_ERR_CONTENT;
            }
            if (nCount > 0 && !m_HasBye) {
                m_HasBye = true;
                m_ByeSSRC = GetBE32(pBody);
            }
        }
        // RR, SDES, APP and types to come carry nothing a receiver needs.
        ++m_PacketCount;
        nPos += nBytes;
    }
    return JX_OK;
}

const CRTCPSenderReport* CRTCPReader::FindSenderReport(uint32_t nSSRC) const
{
    for (uint32_t i = 0; i < m_ReportCount; ++i) {
        if (nSSRC == 0 || m_Reports[i].m_SSRC == nSSRC) {
            return &m_Reports[i];
        }
    }
    return nullptr;
}

void CRTPReceiverStats::Reset()
{
    *this = CRTPReceiverStats();
}

void CRTPReceiverStats::InitSeq(uint16_t nSeq)
{
    m_BaseSeq = nSeq;
    m_MaxSeq = nSeq;
    m_BadSeq = kNoBadSeq;
    m_Cycles = 0;
    m_Received = 0;
    m_ReceivedPrior = 0;
    m_ExpectedPrior = 0;
    // A restart comes with a new timestamp base: a transit measured on the
    // old one would count the jump as jitter.
    m_HasTransit = false;
}

bool CRTPReceiverStats::UpdateSeq(uint16_t nSeq)
{
    const uint16_t nDelta = static_cast<uint16_t>(nSeq - m_MaxSeq);
    if (m_Probation > 0) {
        // Compared in 16 bits: 0 follows 65535 during probation too.
        if (nSeq == static_cast<uint16_t>(m_MaxSeq + 1)) {
            --m_Probation;
            m_MaxSeq = nSeq;
            if (m_Probation == 0) {
                InitSeq(nSeq);
                ++m_Received;
                return true;
            }
        } else {
            m_Probation = kMinSequential - 1;
            m_MaxSeq = nSeq;
        }
        return false;
    }
    if (nDelta < kMaxDropout) {
        if (nSeq < m_MaxSeq) {
            m_Cycles += kSeqMod;
        }
        m_MaxSeq = nSeq;
    } else if (nDelta <= kSeqMod - kMaxMisorder) {
        // A large jump: the sender may have restarted. Two in sequence
        // after it confirm that; a lone one is dropped.
        if (nSeq != m_BadSeq) {
            m_BadSeq = (nSeq + 1u) & (kSeqMod - 1);
            return false;
        }
        InitSeq(nSeq);
    }
    // Otherwise a duplicate or a late packet: counted, so that the lost
    // count can go below zero as RFC 3550 6.4.1 allows.
    ++m_Received;
    return true;
}

void CRTPReceiverStats::UpdateJitter(uint32_t nTimeStamp, uint32_t nArrival)
{
    // Both clocks wrap: their difference is taken modulo 2^32.
    const int32_t nTransit = static_cast<int32_t>(nArrival - nTimeStamp);
    if (!m_HasTransit) {
        m_Transit = nTransit;
        m_HasTransit = true;
        return;
    }
    const int32_t nStep = static_cast<int32_t>(static_cast<uint32_t>(nTransit) - static_cast<uint32_t>(m_Transit));
    m_Transit = nTransit;
    uint32_t nAbs = nStep < 0 ? 0u - static_cast<uint32_t>(nStep) : static_cast<uint32_t>(nStep);
    if (nAbs > kMaxJitterStep) {
        nAbs = kMaxJitterStep;
    }
    // RFC 3550 A.8, integer form: J += |D| - J/16, J scaled by 16.
    m_Jitter = m_Jitter - ((m_Jitter + kJitterRound) >> kJitterShift) + nAbs;
}

void CRTPReceiverStats::OnPacket(uint16_t nSeq, uint32_t nTimeStamp, uint32_t nArrival)
{
    if (!m_Started) {
        // A source heard for the first time: its probation begins.
        InitSeq(nSeq);
        m_MaxSeq = static_cast<uint16_t>(nSeq - 1);
        m_Probation = kMinSequential;
        m_Started = true;
    }
    if (UpdateSeq(nSeq)) {
        UpdateJitter(nTimeStamp, nArrival);
    }
}

void CRTPReceiverStats::OnSenderReport(uint64_t nNtpTime, uint64_t nNowMs)
{
    m_LastSR = static_cast<uint32_t>(nNtpTime >> kLsrShift);
    m_LastSRArrivalMs = nNowMs;
    m_HasSR = true;
}

uint64_t CRTPReceiverStats::Received() const
{
    return m_Received;
}

uint32_t CRTPReceiverStats::ExtendedMax() const
{
    return m_Cycles + m_MaxSeq;
}

int64_t CRTPReceiverStats::CumulativeLost() const
{
    if (!m_Started || m_Probation > 0) {
        return 0;
    }
    const int64_t nExpected = static_cast<int64_t>(ExtendedMax()) - m_BaseSeq + 1;
    return nExpected - static_cast<int64_t>(m_Received);
}

uint32_t CRTPReceiverStats::Jitter() const
{
    return m_Jitter >> kJitterShift;
}

int32_t CRTPReceiverStats::WriteReport(uint8_t* pOut, uint32_t nCap, uint32_t nOwnSSRC, uint32_t nSourceSSRC,
                                       const char* pCname, uint64_t nNowMs)
{
    if (pOut == nullptr || pCname == nullptr) {
        return JX_ERR_ARG;
    }
    const uint32_t nCname = CnameLength(pCname);
    if (nCname == 0 || nCname > kMaxCname) {
        return JX_ERR_ARG;
    }
    const uint32_t nSdes = SdesBytes(nCname);
    if (nCap < kReportBytes + nSdes) {
        return JX_ERR_ARG;
    }

    // RFC 3550 A.3: the fraction covers the packets since the last report.
    uint32_t nFraction = 0;
    int64_t nLost = 0;
    if (m_Started && m_Probation == 0) {
        const int64_t nExpected = static_cast<int64_t>(ExtendedMax()) - m_BaseSeq + 1;
        const int64_t nExpectedInterval = nExpected - static_cast<int64_t>(m_ExpectedPrior);
        const int64_t nReceivedInterval = static_cast<int64_t>(m_Received - m_ReceivedPrior);
        const int64_t nLostInterval = nExpectedInterval - nReceivedInterval;
        if (nExpectedInterval > 0 && nLostInterval > 0) {
            const int64_t nScaled = nLostInterval * 256 / nExpectedInterval;
            nFraction = nScaled > kMaxFraction ? kMaxFraction : static_cast<uint32_t>(nScaled);
        }
        m_ExpectedPrior = static_cast<uint64_t>(nExpected);
        m_ReceivedPrior = m_Received;
        nLost = CumulativeLost();
        nLost = nLost > kMaxLostField ? kMaxLostField : (nLost < kMinLostField ? kMinLostField : nLost);
    }
    uint32_t nDlsr = 0;
    if (m_HasSR && nNowMs > m_LastSRArrivalMs) {
        const uint64_t nDelayMs = nNowMs - m_LastSRArrivalMs;
        const uint64_t nUnits = (nDelayMs < kMaxDlsrMs ? nDelayMs : kMaxDlsrMs) * kDlsrUnitsPerSecond / kMsPerSecond;
        nDlsr = static_cast<uint32_t>(nUnits < kMaxDlsr ? nUnits : kMaxDlsr);
    }

    uint8_t* p = PutHead(pOut, 1, kTypeRR, kReportBytes);
    p = PutBE32(p, nOwnSSRC);
    p = PutBE32(p, nSourceSSRC);
    p = PutBE32(p, nFraction << 24 | (static_cast<uint32_t>(nLost) & kLostFieldMask));
    p = PutBE32(p, ExtendedMax());
    p = PutBE32(p, Jitter());
    p = PutBE32(p, m_HasSR ? m_LastSR : 0);
    p = PutBE32(p, nDlsr);

    uint8_t* const pSdesEnd = p + nSdes;
    p = PutHead(p, 1, kTypeSDES, nSdes);
    p = PutBE32(p, nOwnSSRC);
    *p++ = kItemCname;
    *p++ = static_cast<uint8_t>(nCname);
    for (uint32_t i = 0; i < nCname; ++i) {
        *p++ = static_cast<uint8_t>(pCname[i]);
    }
    while (p < pSdesEnd) {
        *p++ = kItemEnd;
    }
    return static_cast<int32_t>(kReportBytes + nSdes);
}

uint32_t CRTPReceiverStats::ReportIntervalMs(uint32_t nRandom)
{
    const uint64_t nDraw = nRandom < kRandomRange ? nRandom : kRandomRange - 1;
    // kMinIntervalMs * (1/2 + nDraw / 65536) / 1.21828
    const uint64_t nNum = kMinIntervalMs * (kRandomRange / 2 + nDraw) * kCompensationDen;
    return static_cast<uint32_t>(nNum / (kRandomRange * kCompensationNum));
}

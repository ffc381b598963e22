// RTCP compound-packet reader, then the reception statistics and the receiver
// report.
// Input: the whole input is first read as one compound packet (an exact heap
// copy, so that a read past it is caught). Then it is read as 11-byte records
// [op][a: 2 bytes][b: 4][c: 4], big-endian, driving one CRTPReceiverStats:
// op % 8 below 5 is a packet (sequence number a, timestamp b, arrival c);
// 5 a sender report (NTP time b:c, the clock moved on by a ms); 6 a report
// (room a % 301 bytes, a CNAME of c % 260 bytes, the clock moved on by b % 65536
// ms); 7 a reset. A report must write exactly what its CNAME needs, inside
// the room given, with fields matching the statistics.
#include "rtcp.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kRecordBytes = 11;
constexpr uint32_t kMaxOut = 300;   // report with a 255-byte CNAME
constexpr uint32_t kCnameRange = 260;
constexpr uint32_t kReportBytes = 32;
constexpr uint32_t kClockMask = 0xFFFF;
enum { kOpSenderReport = 5, kOpReport = 6, kOpReset = 7, kOpMask = 7 };

uint32_t GetBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void CheckReader(const uint8_t* pData, size_t nSize)
{
    uint8_t* pCopy = static_cast<uint8_t*>(malloc(nSize > 0 ? nSize : 1));
    if (pCopy == nullptr) {
        return;
    }
    if (nSize > 0) {
        memcpy(pCopy, pData, nSize);
    }
    CRTCPReader reader;
    const int32_t nResult = reader.Read(pCopy, static_cast<uint32_t>(nSize));
    free(pCopy);
    if ((nResult == JX_ERR_ARG) != (nSize == 0) ||
        (nResult != JX_OK && nResult != JX_ERR_ARG && nResult != JX_ERR_CONTENT)) {
        abort();
    }
    if (reader.m_PacketCount > CRTCPReader::kMaxPackets || reader.m_ReportCount > 4 ||
        reader.m_ReportCount > reader.m_PacketCount || (reader.m_HasBye && reader.m_PacketCount == 0)) {
        abort();
    }
    if ((reader.FindSenderReport(0) != nullptr) != (reader.m_ReportCount > 0)) {
        abort();
    }
}

void CheckReport(CRTPReceiverStats& stats, uint32_t nCap, uint32_t nCname, uint64_t nNowMs)
{
    char szCname[kCnameRange + 1];
    memset(szCname, 'c', nCname);
    szCname[nCname] = '\0';
    uint8_t* pOut = static_cast<uint8_t*>(malloc(nCap > 0 ? nCap : 1));   // exact: an overrun is caught
    if (pOut == nullptr) {
        return;
    }
    const uint32_t nNeed = kReportBytes + (8 + 2 + nCname + 1 + 3) / 4 * 4;
    const bool bFits = nCname >= 1 && nCname <= 255 && nNeed <= nCap;
    const int64_t nLost = stats.CumulativeLost();
    const int32_t nResult = stats.WriteReport(pOut, nCap, 1, 2, szCname, nNowMs);
    if (nResult != (bFits ? static_cast<int32_t>(nNeed) : JX_ERR_ARG)) {
        abort();
    }
    if (bFits) {
        const int64_t nField = nLost > 0x7FFFFF ? 0x7FFFFF : (nLost < -0x800000 ? -0x800000 : nLost);
        if (pOut[0] != 0x81 || pOut[1] != 201 ||
            (GetBE32(pOut + 12) & 0xFFFFFF) != (static_cast<uint32_t>(nField) & 0xFFFFFF) ||
            GetBE32(pOut + 16) != stats.ExtendedMax() || GetBE32(pOut + 20) != stats.Jitter() || pOut[33] != 202 ||
            pOut[41] != nCname || pOut[nNeed - 1] != 0) {
            abort();
        }
    }
    free(pOut);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CheckReader(pData, nSize);

    CRTPReceiverStats stats;
    uint64_t nNowMs = 0;
    for (size_t nPos = 0; nSize - nPos >= kRecordBytes; nPos += kRecordBytes) {
        const uint8_t* p = pData + nPos;
        const uint16_t nA = static_cast<uint16_t>((p[1] << 8) | p[2]);
        const uint32_t nB = GetBE32(p + 3);
        const uint32_t nC = GetBE32(p + 7);
        switch (p[0] & kOpMask) {
        case kOpSenderReport:
            nNowMs += nA;
            stats.OnSenderReport(static_cast<uint64_t>(nB) << 32 | nC, nNowMs);
            break;
        case kOpReport:
            nNowMs += nB & kClockMask;
            CheckReport(stats, nA % (kMaxOut + 1), nC % kCnameRange, nNowMs);
            break;
        case kOpReset:
            stats.Reset();
            break;
        default:
            stats.OnPacket(nA, nB, nC);
            break;
        }
        if (stats.CumulativeLost() != 0 && stats.Received() == 0) {
            abort();
        }
    }
    return 0;
}

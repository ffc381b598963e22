// RTCP: a receiver report worked out by hand, the compound-packet reader on
// well-formed and hostile bytes (each an exact heap copy, so that the address
// sanitizer sees a read past the end), and the sequence rules of RFC 3550 A.1.
#include "rtcp.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kOwn = 0x0A0B0C0D, kSource = 0x11223344;
const int32_t OK = JX_OK, ARG = JX_ERR_ARG, BAD = JX_ERR_CONTENT;

std::string Report(CRTPReceiverStats& s, uint64_t nNowMs, uint32_t nCap = 64)
{
    uint8_t buf[64];
    const int32_t n = s.WriteReport(buf, nCap, kOwn, kSource, "a@b", nNowMs);
    return n < 0 ? "error " + std::to_string(n) : ToHex(buf, static_cast<size_t>(n));
}

std::string Hex(const char* p)
{
    return ToHex(HexBytes(p));
}

// RR: V2 RC1 PT201 length 7, own SSRC, source SSRC; the block follows.
#define RR_HEAD "81 c9 00 07 0a 0b 0c 0d 11 22 33 44 "
// SDES: V2 SC1 PT202 length 3, own SSRC, CNAME(1) of 3 "a@b", END, 2 pad.
#define SDES_AB " 81 ca 00 03 0a 0b 0c 0d 01 03 61 40 62 00 00 00"

// Timestamps step 3000 per sequence number from 65530; arrival = timestamp +
// transit, in the same 90 kHz units.
struct Arrival { uint16_t nSeq; uint32_t nTransit; };

void Feed(CRTPReceiverStats& s, const std::vector<Arrival>& v)
{
    for (const Arrival& a : v) {
        const uint32_t nTs = 3000u * static_cast<uint16_t>(a.nSeq - 65530);
        s.OnPacket(a.nSeq, nTs, nTs + a.nTransit);
    }
}

TEST(Rtcp, ReceiverReportByHand)
{
    CRTPReceiverStats s;
    EXPECT_EQ(Report(s, 0), Hex(RR_HEAD "00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00" SDES_AB));
    // 65530 is on probation; 65531 makes the source valid and is the base.
    // 65533, 0 and 1 are missing, 3 comes twice. Transits 100 300 100 100 420
    // 420 452 420 give |D| 200 200 0 320 0 32 32, and J += |D| - (J + 8) / 16:
    // 200, 387, 363, 660, 619, 612, 606; 606 / 16 = 37 = 0x25.
    Feed(s, {{65530, 100}, {65531, 100}, {65532, 300}, {65534, 100}, {65535, 100}, {2, 420}, {3, 420}, {3, 452}, {4, 420}});
    // LSR: the middle of e1234567 89abcdef; DLSR: 1500 ms * 65536 / 1000 = 0x18000.
    s.OnSenderReport(0xE123456789ABCDEFull, 10000);
    EXPECT_EQ(Report(s, 11500, 47), "error -4");   // one byte short: nothing moves
    // Expected 65540 - 65531 + 1 = 10, received 8: lost 2, fraction 2 * 256 / 10 = 51 = 0x33.
    // Highest 1 cycle + 4 = 0x00010004.
    EXPECT_EQ(Report(s, 11500), Hex(RR_HEAD "33 00 00 02  00 01 00 04  00 00 00 25  45 67 89 ab  00 01 80 00" SDES_AB));
    EXPECT_EQ(s.Received(), 8u);
    // Then 5, 8, 9, 10 (6 and 7 missing), transit steady: J 568, 532, 499, 468;
    // 468 / 16 = 29 = 0x1d. This interval expects 16 - 10 = 6 and received
    // 12 - 8 = 4: fraction 2 * 256 / 6 = 85 = 0x55; cumulative 16 - 12 = 4.
    // DLSR 3500 ms = 0x38000.
    Feed(s, {{5, 420}, {8, 420}, {9, 420}, {10, 420}});
    EXPECT_EQ(Report(s, 13500), Hex(RR_HEAD "55 00 00 04  00 01 00 0a  00 00 00 1d  45 67 89 ab  00 03 80 00" SDES_AB));
}

// CNAME lengths (-1: none) and room: the SDES chunk ends in 1 to 4 null octets.
struct WriteCase { uint32_t nCap; int nCname; int32_t nResult; };
const WriteCase kWrites[] = {{4096, -1, ARG}, {4096, 0, ARG}, {4096, 256, ARG}, {299, 255, ARG}, {300, 255, 300},
                             {43, 1, ARG},    {44, 1, 44},    {48, 5, 48},      {52, 6, 52}};

TEST(Rtcp, WriteReportRoom)
{
    for (const WriteCase& c : kWrites) {
        SCOPED_TRACE(testing::Message() << c.nCap << " " << c.nCname);
        const std::string cname(c.nCname > 0 ? static_cast<size_t>(c.nCname) : 0, 'x');
        std::unique_ptr<uint8_t[]> pOut(new uint8_t[c.nCap]);
        CRTPReceiverStats s;
        ASSERT_EQ(s.WriteReport(pOut.get(), c.nCap, kOwn, kSource, c.nCname < 0 ? nullptr : cname.c_str(), 0),
                  c.nResult);
        if (c.nResult <= 0) continue;
        EXPECT_EQ((pOut[34] << 8 | pOut[35]) + 1, (c.nResult - 32) / 4);   // SDES length
        EXPECT_EQ(pOut[41], c.nCname);
        for (int32_t i = 42 + c.nCname; i < c.nResult; ++i) EXPECT_EQ(pOut[i], 0) << i;
    }
}

#define SR_BODY "11 22 33 44 e1 23 45 67 89 ab cd ef 00 01 5f 90 00 00 00 0a 00 00 04 00 "
#define SR "80 c8 00 06 " SR_BODY
#define SR_FIELDS " sr 11223344 e123456789abcdef 00015f90 10 1024"
#define BLOCK "55 66 77 88 01 00 00 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00 05 "
#define RR "80 c9 00 01 55 66 77 88 "

// The bytes nRepeat times, then the tail: the result, and packets, reports,
// the first report, the BYE.
struct ReadCase { const char *pName, *pHex; int nRepeat; const char* pTail; int32_t nResult; const char* pFields; };
const ReadCase kReads[] = {
    {"SR + SDES", SR "81 ca 00 02 11 22 33 44 01 01 61 00", 1, "", OK, "p2 r1" SR_FIELDS},
    {"SR with 2 blocks", "82 c8 00 12 " SR_BODY BLOCK BLOCK, 1, "", OK, "p1 r1" SR_FIELDS},
    {"RR + BYE", "81 c9 00 07 55 66 77 88 " BLOCK "81 cb 00 01 11 22 33 44", 1, "", OK, "p2 r0 bye 11223344"},
    {"BYE of 2, reason", "82 cb 00 04 11 22 33 44 55 66 77 88 04 67 6f 6e 65 00 00 00", 1, "", OK, "p1 r0 bye 11223344"},
    {"BYE naming none", "80 cb 00 00", 1, "", OK, "p1 r0"},
    {"APP", "80 cc 00 02 11 22 33 44 6e 61 6d 65", 1, "", OK, "p1 r0"},
    {"SR padded", "a0 c8 00 07 " SR_BODY "00 00 00 04", 1, "", OK, "p1 r1" SR_FIELDS},
    {"RR, padding = body", "a0 c9 00 01 55 66 77 04", 1, "", OK, "p1 r0"},
    {"5 SRs, 4 kept", SR, 5, "", OK, "p5 r4" SR_FIELDS},
    {"65 RRs, 64 read", RR, 65, "", OK, "p64 r0"},
    {"64 RRs, the rest ignored", RR, 64, "40 00", OK, "p64 r0"},
    {"no bytes", "", 1, "", ARG, "p0 r0"},
    {"truncated header", "80 c9 00", 1, "", BAD, "p0 r0"},
    {"length past the end", "80 c9 00 02 55 66 77 88", 1, "", BAD, "p0 r0"},
    {"version 1", "40 c9 00 01 55 66 77 88", 1, "", BAD, "p0 r0"},
    {"SR too short", "80 c8 00 05 " SR_BODY, 1, "", BAD, "p0 r0"},
    {"SR blocks past its length", "81 c8 00 06 " SR_BODY, 1, "", BAD, "p0 r0"},
    {"padding count 0", "a0 c9 00 01 55 66 77 00", 1, "", BAD, "p0 r0"},
    {"padding past the body", "a0 c9 00 01 55 66 77 05", 1, "", BAD, "p0 r0"},
    {"padding into the sender info", "a0 c8 00 07 " SR_BODY "00 00 00 08", 1, "", BAD, "p0 r0"},
    {"BYE list past its length", "82 cb 00 01 11 22 33 44", 1, "", BAD, "p0 r0"},
    {"SR, then version 0", SR, 1, "00 c9 00 01 55 66 77 88", BAD, "p1 r1" SR_FIELDS},
};

std::string Fields(const CRTCPReader& r)
{
    char sz[128];
    int n = snprintf(sz, sizeof(sz), "p%u r%u", r.m_PacketCount, r.m_ReportCount);
    if (r.m_ReportCount > 0) {
        const CRTCPSenderReport& sr = r.m_Reports[0];
        n += snprintf(sz + n, sizeof(sz) - n, " sr %08x %016llx %08x %u %u", sr.m_SSRC,
                      static_cast<unsigned long long>(sr.m_NtpTime), sr.m_RtpTime, sr.m_PacketCount, sr.m_OctetCount);
    }
    if (r.m_HasBye) snprintf(sz + n, sizeof(sz) - n, " bye %08x", r.m_ByeSSRC);
    return sz;
}

TEST(Rtcp, ReaderTable)
{
    CRTCPReader reader;
    for (const ReadCase& c : kReads) {
        SCOPED_TRACE(c.pName);
        std::string hex;
        for (int i = 0; i < c.nRepeat; ++i) hex += c.pHex;
        const Bytes in = HexBytes(hex + c.pTail);
        std::unique_ptr<uint8_t[]> pExact(new uint8_t[in.size()]);
        if (!in.empty()) memcpy(pExact.get(), in.data(), in.size());
        // The previous row's results must not survive into this one.
        EXPECT_EQ(reader.Read(in.empty() ? nullptr : pExact.get(), static_cast<uint32_t>(in.size())), c.nResult);
        EXPECT_EQ(Fields(reader), c.pFields);
        EXPECT_EQ(reader.FindSenderReport(0), reader.m_ReportCount > 0 ? &reader.m_Reports[0] : nullptr);
        EXPECT_EQ(reader.FindSenderReport(0x11223344), reader.FindSenderReport(0));
        EXPECT_EQ(reader.FindSenderReport(0x55667788), nullptr);
    }
    EXPECT_EQ(reader.Read(nullptr, 28), JX_ERR_ARG);   // a length without data is never read
}

// After a row's sequence numbers (then nCount more, each nStep on from the
// last): received, highest extended sequence number, cumulative lost, and the
// first report's fraction and 24-bit lost field. Transit is steady, except
// that 5000 to 5999 have a new timestamp base: a confirmed restart starts
// the transit afresh, so the jitter stays 0 throughout.
struct SeqCase { const char* pName; std::vector<uint16_t> seqs; uint16_t nStep; uint32_t nCount;
                 uint64_t nReceived; uint32_t nExtMax; int64_t nLost; const char* pLostWord; };
const SeqCase kSeqs[] = {
    {"first packet: probation", {100}, 0, 0, 0, 100, 0, "00 00 00 00"},
    {"second in sequence: valid", {100, 101}, 0, 0, 1, 101, 0, "00 00 00 00"},
    {"a gap restarts probation", {100, 102, 103}, 0, 0, 1, 103, 0, "00 00 00 00"},
    {"probation across the wrap", {65535, 0}, 0, 0, 1, 0, 0, "00 00 00 00"},
    {"wrap", {65534, 65535, 0, 1}, 0, 0, 3, 65537, 0, "00 00 00 00"},
    {"3 of 5 lost: 3 * 256 / 5 = 0x99", {10, 11, 15}, 0, 0, 2, 15, 3, "99 00 00 03"},
    {"misorder", {10, 11, 13, 12}, 0, 0, 3, 13, 0, "00 00 00 00"},
    {"duplicates", {10, 11, 12, 12, 12}, 0, 0, 4, 12, -2, "00 ff ff fe"},
    {"99 behind: late, counted", {1000, 1001, 902}, 0, 0, 2, 1001, -1, "00 ff ff ff"},
    {"200 behind: dropped", {1000, 1001, 801}, 0, 0, 1, 1001, 0, "00 00 00 00"},
    {"2999 ahead: 2998 * 256 / 3000 = 0xff", {10, 11, 3010}, 0, 0, 2, 3010, 2998, "ff 00 0b b6"},
    {"3000 ahead: dropped", {10, 11, 3011}, 0, 0, 1, 11, 0, "00 00 00 00"},
    {"one jump dropped", {10, 11, 12, 5000, 13}, 0, 0, 3, 13, 0, "00 00 00 00"},
    {"jump confirmed: restart", {10, 11, 12, 5000, 5001, 5002}, 0, 0, 2, 5002, 0, "00 00 00 00"},
    // 2800 steps of 2999 lose 2998 each: 8394400 > 0x7fffff.
    {"lost clamped high", {0, 1}, 2999, 2800, 2801, 1 + 2800 * 2999, 8394400, "ff 7f ff ff"},
    // 0x800001 duplicates: -8388609 < -0x800000.
    {"lost clamped low", {0, 1}, 0, 0x800001, 0x800002, 1, -8388609, "00 80 00 00"},
};

TEST(Rtcp, SequenceTable)
{
    for (const SeqCase& c : kSeqs) {
        SCOPED_TRACE(c.pName);
        CRTPReceiverStats s;
        for (uint16_t n : c.seqs) s.OnPacket(n, 3000u * n, 3000u * n + (n / 1000 == 5 ? 1000000 : 0));
        uint16_t nSeq = c.seqs.back();
        for (uint32_t i = 0; i < c.nCount; ++i) s.OnPacket(nSeq += c.nStep, 0, 0);
        EXPECT_EQ(s.Jitter(), 0u);
        EXPECT_EQ(s.Received(), c.nReceived);
        EXPECT_EQ(s.ExtendedMax(), c.nExtMax);
        EXPECT_EQ(s.CumulativeLost(), c.nLost);
        uint8_t buf[64];
        ASSERT_GT(s.WriteReport(buf, sizeof(buf), kOwn, kSource, "a@b", 0), 0);
        EXPECT_EQ(ToHex(buf + 12, 4), c.pLostWord);
    }
}

// 5000 ms * (0.5 + r / 65536) / 1.21828, truncated: r = 0 gives 2052.07,
// 32768 gives 4104.15, 65535 gives 6156.16; above 65535 counts as 65535.
TEST(Rtcp, ReportInterval)
{
    const uint32_t kRows[][2] = {{0, 2052}, {32768, 4104}, {65535, 6156}, {65536, 6156}, {0xFFFFFFFF, 6156}};
    for (const auto& r : kRows) EXPECT_EQ(CRTPReceiverStats::ReportIntervalMs(r[0]), r[1]) << r[0];
}

}   // namespace

// RTP header parser: accepted layouts, the refusals, and hostile lengths.
#include "rtpparser.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

// One packet and what Setup must make of it.
struct ParseCase {
    const char* pName;
    Bytes packet;
    int32_t nResult;
    uint32_t nHeadLen;   // checked when nResult is 0
    uint32_t nSize;      // checked when nResult is 0
};

CTestRTP Plain()
{
    return CTestRTP();
}

CTestRTP WithCC(int nCC, bool bList)
{
    CTestRTP b;
    if (bList) {
        b.m_CSRC.assign(static_cast<size_t>(nCC), 0xCAFEF00Du);
    } else {
        b.m_CCField = nCC;
    }
    return b;
}

CTestRTP WithExt(size_t nBodyBytes, int nWordsField = -1)
{
    CTestRTP b;
    b.m_Ext = true;
    b.m_ExtProfile = 0xBEDE;
    b.m_ExtBody.assign(nBodyBytes, 0xE0);
    b.m_ExtWordsField = nWordsField;
    return b;
}

CTestRTP WithPad(uint8_t nPadBytes, int nCountField = -1)
{
    CTestRTP b;
    b.m_PadBytes = nPadBytes;
    b.m_PadCountField = nCountField;
    return b;
}

std::string Payload(size_t n)
{
    return std::string(n, 'p');
}

std::vector<ParseCase> Cases()
{
    std::vector<ParseCase> v;
    // Header only, and one payload byte.
    v.push_back({"header only", Plain().Build(""), JX_ERR_ARG, 0, 0});
    v.push_back({"one payload byte", Plain().Build("p"), JX_OK, 12, 13});
    // CSRC lists: CC = 15 needs 73 bytes.
    v.push_back({"cc15 72 bytes", WithCC(15, true).Build(""), JX_ERR_ARG, 0, 0});
    v.push_back({"cc15 73 bytes", WithCC(15, true).Build("p"), JX_OK, 72, 73});
    v.push_back({"cc15 field, short packet", WithCC(15, false).Build(Payload(20)), JX_ERR_ARG, 0, 0});
    v.push_back({"cc15 field, 60 bytes after", WithCC(15, false).Build(Payload(60)), JX_ERR_ARG, 0, 0});
    v.push_back({"cc2 list", WithCC(2, true).Build("abc"), JX_OK, 20, 23});
    // Extensions.
    v.push_back({"ext length 0, 1 byte payload", WithExt(0).Build("p"), JX_OK, 16, 17});
    v.push_back({"ext 2 words", WithExt(8).Build("pp"), JX_OK, 24, 26});
    v.push_back({"ext head only (4 bytes after csrc)", WithExt(0).Build(""), JX_ERR_CONTENT, 0, 0});
    v.push_back({"ext ends at packet end", WithExt(8).Build(""), JX_ERR_CONTENT, 0, 0});
    v.push_back({"ext length past the end", WithExt(0, 100).Build(Payload(50)), JX_ERR_CONTENT, 0, 0});
    v.push_back({"ext length 0xffff", WithExt(0, 0xFFFF).Build(Payload(50)), JX_ERR_CONTENT, 0, 0});
    // 4 * 0x3FFF + 4 = 65536: cut to 16 bits it would be 0, and the extension
    // head would be taken as payload.
    v.push_back({"ext length wrapping 16 bits", WithExt(0, 0x3FFF).Build(Payload(50)), JX_ERR_CONTENT, 0, 0});
    {
        // An extension of 65536 bytes cannot come in one datagram or frame,
        // even when the buffer holds that many.
        CTestRTP b = WithExt(4 * 0x3FFF, 0x3FFF);
        v.push_back({"ext of 65536 bytes", b.Build(Payload(10)), JX_ERR_CONTENT, 0, 0});
        b = WithExt(4 * 0x3FFE, 0x3FFE);
        v.push_back({"ext of 65532 bytes", b.Build(Payload(10)), JX_OK, 12 + 65532, 12 + 65532 + 10});
    }
    // Padding.
    v.push_back({"padding count 0", WithPad(1, 0).Build("abc"), JX_OK, 12, 16});
    v.push_back({"padding 1", WithPad(1).Build("abc"), JX_OK, 12, 15});
    v.push_back({"padding 4", WithPad(4).Build("abc"), JX_OK, 12, 15});
    v.push_back({"padding leaves no payload", WithPad(4).Build(""), JX_ERR_ARG, 0, 0});
    v.push_back({"padding 255, short packet", WithPad(1, 255).Build("abc"), JX_ERR_ARG, 0, 0});
    v.push_back({"padding 255, long enough", WithPad(255).Build("p"), JX_OK, 12, 13});
    v.push_back({"padding count covering a payload byte", WithPad(3, 4).Build("ab"), JX_OK, 12, 13});
    v.push_back({"padding count reaching into header", WithPad(3, 6).Build("ab"), JX_ERR_ARG, 0, 0});
    {
        CTestRTP b = WithPad(1, 0);
        b.m_PadBytes = 0;
        b.m_PBit = true;   // P set: the payload's last byte is read as the count
        v.push_back({"P bit, last payload byte 'c' = 99", b.Build("abc"), JX_ERR_ARG, 0, 0});
    }
    {
        CTestRTP b = WithExt(0);
        b.m_PadBytes = 3;
        b.m_PadCountField = 4;   // eats the one payload byte: the extension leaves none
        v.push_back({"padding into extension", b.Build("p"), JX_ERR_CONTENT, 0, 0});
        b.m_PadBytes = 2;
        b.m_PadCountField = -1;
        v.push_back({"padding and extension, 2 bytes left", b.Build("pp"), JX_OK, 16, 18});
    }
    return v;
}

TEST(RTPParser, Table)
{
    for (const ParseCase& c : Cases()) {
        SCOPED_TRACE(c.pName);
        // A heap copy of exactly the packet's size, so any read past the end
        // is caught by the address sanitizer.
        std::unique_ptr<uint8_t[]> pExact(new uint8_t[c.packet.size()]);
        memcpy(pExact.get(), c.packet.data(), c.packet.size());
        CRTPParser rtp;
        EXPECT_EQ(rtp.Setup(pExact.get(), static_cast<uint32_t>(c.packet.size())), c.nResult);
        if (c.nResult == JX_OK) {
            EXPECT_TRUE(rtp.IsSetup());
            EXPECT_EQ(rtp.m_HeadLen, c.nHeadLen);
            EXPECT_EQ(rtp.m_Size, c.nSize);
            EXPECT_EQ(rtp.Payload(), pExact.get() + c.nHeadLen);
        } else {
            EXPECT_FALSE(rtp.IsSetup());
        }
    }
}

TEST(RTPParser, ShortPacketsAreRefused)
{
    const Bytes full = CTestRTP().Build("payload");
    for (uint32_t n = 0; n <= 12; ++n) {
        std::unique_ptr<uint8_t[]> pExact(new uint8_t[n + 1]);
        memcpy(pExact.get(), full.data(), n);
        CRTPParser rtp;
        EXPECT_EQ(rtp.Setup(pExact.get(), n), JX_ERR_ARG) << n;
        EXPECT_FALSE(rtp.IsSetup()) << n;
    }
    CRTPParser rtp;
    EXPECT_EQ(rtp.Setup(nullptr, 100), JX_ERR_ARG);
}

TEST(RTPParser, DecodesEveryField)
{
    CTestRTP b;
    b.m_PT = 111;
    b.m_Seq = 0xFEDC;
    b.m_TS = 0x89ABCDEF;
    b.m_SSRC = 0x01020304;
    b.m_CSRC = {1, 2};
    b.m_Ext = true;
    b.m_ExtProfile = 0x1234;
    b.m_ExtBody = ToBytes("abcdefgh");
    b.m_PadBytes = 3;
    const Bytes pkt = b.Build("\x65" "payload", true);

    CRTPParser rtp;
    ASSERT_EQ(rtp.Setup(pkt.data(), static_cast<uint32_t>(pkt.size())), JX_OK);
    EXPECT_EQ(rtp.m_Version, 2);
    EXPECT_EQ(rtp.m_Padding, 1);
    EXPECT_EQ(rtp.m_Extension, 1);
    EXPECT_EQ(rtp.m_CSRCCount, 2);
    EXPECT_EQ(rtp.m_Marker, 1);
    EXPECT_EQ(rtp.m_PayloadType, 111);
    EXPECT_EQ(rtp.m_SeqNo, 0xFEDC);
    EXPECT_EQ(rtp.m_TimeStamp, 0x89ABCDEFu);
    EXPECT_EQ(rtp.m_SSRC, 0x01020304u);
    EXPECT_EQ(rtp.m_ExtProfile, 0x1234);
    EXPECT_EQ(rtp.m_ExtLength, 12);
    EXPECT_EQ(rtp.m_HeadLen, 12u + 8u + 12u);
    EXPECT_EQ(rtp.m_Size, pkt.size() - 3);
    EXPECT_EQ(Bytes(rtp.Payload(), rtp.Payload() + rtp.PayloadLength()), ToBytes("\x65" "payload"));
}

TEST(RTPParser, OtherVersionsAreParsedLikeTwo)
{
    for (uint8_t nVersion : {0, 1, 3}) {
        CTestRTP b;
        b.m_Version = nVersion;
        const Bytes pkt = b.Build("x");
        CRTPParser rtp;
        EXPECT_EQ(rtp.Setup(pkt.data(), static_cast<uint32_t>(pkt.size())), JX_OK);
        EXPECT_EQ(rtp.m_Version, nVersion);
    }
}

TEST(RTPParser, FailureAfterSuccessLeavesItNotSetUp)
{
    const Bytes good = CTestRTP().Build("good");
    Bytes bad = WithExt(0).Build("");   // -15
    CRTPParser rtp;
    ASSERT_EQ(rtp.Setup(good.data(), static_cast<uint32_t>(good.size())), JX_OK);
    // A call refused before anything is read changes nothing.
    EXPECT_EQ(rtp.Setup(good.data(), 5), JX_ERR_ARG);
    EXPECT_TRUE(rtp.IsSetup());
    EXPECT_EQ(rtp.Setup(bad.data(), static_cast<uint32_t>(bad.size())), JX_ERR_CONTENT);
    EXPECT_FALSE(rtp.IsSetup());
    EXPECT_EQ(rtp.m_Extension, 1);   // the decoded fields keep the failed packet's values
    rtp.Reset();
    EXPECT_EQ(rtp.m_HeadLen, 0u);
    EXPECT_EQ(rtp.m_Size, 0u);
}

TEST(RTPParser, DumpLines)
{
    CRTPLogCapture log;
    CRTPParser rtp;
    rtp.Dump();
    char szExpect[128];
    snprintf(szExpect, sizeof(szExpect), "CRTPParser(%p)--------->Not setup!!!!\n", static_cast<void*>(&rtp));
    EXPECT_EQ(log.Count(szExpect), 1);

    CTestRTP b;
    b.m_Seq = 1000;
    b.m_TS = 90000;
    const Bytes pkt = b.Build("hello", true);
    ASSERT_EQ(rtp.Setup(pkt.data(), static_cast<uint32_t>(pkt.size())), JX_OK);
    rtp.Dump();
    EXPECT_EQ(log.Count("RTP: V=2, P=0, X=0, CC=0, M=1, PT=96, SN=1000, SSRC=0x11223344, STMP=0x00015f90, "
                        "size = 17, len = 5\n"),
              1);
}

// Every cut of packets with CSRCs, extension and padding, and random bytes:
// an accepted packet always leaves its payload inside the packet.
TEST(RTPParser, NeverReadsPastTheEnd)
{
    CTestRTP b;
    b.m_CSRC = {7, 8, 9};
    b.m_Ext = true;
    b.m_ExtBody.assign(12, 0x55);
    b.m_PadBytes = 5;
    const Bytes full = b.Build(Payload(40));
    std::mt19937 rng(12345);
    std::vector<Bytes> inputs;
    for (size_t n = 0; n <= full.size(); ++n) {
        inputs.emplace_back(full.begin(), full.begin() + static_cast<long>(n));
    }
    for (int i = 0; i < 20000; ++i) {
        Bytes r(rng() % 96);
        for (auto& c : r) {
            c = static_cast<uint8_t>(rng());
        }
        inputs.push_back(std::move(r));
    }
    for (const Bytes& in : inputs) {
        std::unique_ptr<uint8_t[]> pExact(new uint8_t[in.size() + (in.empty() ? 1 : 0)]);
        if (!in.empty()) {
            memcpy(pExact.get(), in.data(), in.size());
        }
        CRTPParser rtp;
        if (rtp.Setup(pExact.get(), static_cast<uint32_t>(in.size())) == JX_OK) {
            ASSERT_LT(rtp.m_HeadLen, rtp.m_Size);
            ASSERT_LE(rtp.m_Size, in.size());
            ASSERT_GE(rtp.PayloadLength(), 1);
        }
    }
}

}  // namespace

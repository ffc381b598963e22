// RTP packet builder: byte-exact packets, the refusals, buffer reuse, and a
// round trip through the parser and the video base.
#include "rtp_video_standin.h"
#include "rtpdata.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

namespace {

tag_RTPHDR Header(uint16_t nSeq = 1, uint32_t nTS = 2, uint32_t nSSRC = 3)
{
    tag_RTPHDR h{};
    h.nVersion = 2;
    h.nPayloadType = 96;
    h.nSeqNo = nSeq;
    h.nTimeStamp = nTS;
    h.nSSRC = nSSRC;
    return h;
}

Bytes Built(const CRTPData& d)
{
    return Bytes(d.m_Packet, d.m_Packet + d.m_Length);
}

const uint8_t* U8(const char* p)
{
    return reinterpret_cast<const uint8_t*>(p);
}

TEST(RTPData, H265SingleNalUnit)
{
    CRTPData d;
    tag_RTPHDR h = Header();
    ASSERT_EQ(d.BuildH265RTP(&h, U8("\x40\x01" "v"), 3), 0);
    EXPECT_EQ(ToHex(Built(d)), "24 00 00 0f 80 e0 00 01 00 00 00 02 00 00 00 03 40 01 76");
    EXPECT_EQ(d.m_Length, 19);
}

TEST(RTPData, H264SingleNalUnit)
{
    CRTPData d;
    tag_RTPHDR h = Header(0xABCD, 0x01020304, 0xDEADBEEF);
    h.nMarker = 0;   // not read: single units always carry the marker
    ASSERT_EQ(d.BuildH264RTP(&h, 0x65, U8("idr"), 3), 0);
    EXPECT_EQ(ToHex(Built(d)), "24 00 00 10 80 e0 ab cd 01 02 03 04 de ad be ef 65 69 64 72");
}

// FU indicator and header of an IDR unit (0x65) for each fragment position.
TEST(RTPData, H264Fragments)
{
    struct { int nFlags; const char* pHex; } cases[] = {
        {4, "24 00 00 0f 80 60 00 01 00 00 00 02 00 00 00 03 7c 85 61"},   // start, no marker
        {0, "24 00 00 0f 80 60 00 01 00 00 00 02 00 00 00 03 7c 05 61"},   // middle
        {2, "24 00 00 0f 80 e0 00 01 00 00 00 02 00 00 00 03 7c 45 61"},   // end, marker
        {6, "24 00 00 0f 80 e0 00 01 00 00 00 02 00 00 00 03 7c c5 61"},   // whole unit in one
        {1, "24 00 00 0f 80 60 00 01 00 00 00 02 00 00 00 03 7c 05 61"},   // R never set
        {0x7F, "24 00 00 0f 80 e0 00 01 00 00 00 02 00 00 00 03 7c c5 61"},
    };
    for (const auto& c : cases) {
        CRTPData d;
        tag_RTPHDR h = Header();
        ASSERT_EQ(d.BuildH264RTPFu(&h, 0x65, U8("a"), 1, c.nFlags), 0);
        EXPECT_EQ(ToHex(Built(d)), c.pHex) << c.nFlags;
        EXPECT_EQ(d.m_Length, 19);
    }
    CRTPData d;
    tag_RTPHDR h = Header();
    ASSERT_EQ(d.BuildH264RTPFu(&h, 0x41, U8("xy"), 2, 4), 0);   // NRI 2, type 1
    EXPECT_EQ(ToHex(Built(d).data() + 16, 4), "5c 81 78 79");
}

TEST(RTPData, H265Fragments)
{
    CRTPData d;
    tag_RTPHDR h = Header();
    uint16_t nPayloadHdr = 0;
    memcpy(&nPayloadHdr, "\x62\x01", 2);   // type 49, as the two bytes lie in memory
    ASSERT_EQ(d.BuildH265RTPFu(&h, nPayloadHdr, 19, U8("ab"), 2, 4), 0);
    EXPECT_EQ(ToHex(Built(d)), "24 00 00 11 80 60 00 01 00 00 00 02 00 00 00 03 62 01 93 61 62");
    ASSERT_EQ(d.BuildH265RTPFu(&h, nPayloadHdr, 19, U8("ab"), 2, 2), 0);
    EXPECT_EQ(ToHex(Built(d).data() + 4, 2), "80 e0");
    EXPECT_EQ(Built(d)[18], 0x53);
    ASSERT_EQ(d.BuildH265RTPFu(&h, nPayloadHdr, 19, U8("ab"), 2, 0), 0);
    EXPECT_EQ(Built(d)[18], 0x13);
    EXPECT_EQ(d.m_Length, 21);
    EXPECT_EQ(d.BuildH265RTPFu(&h, nPayloadHdr, 19, U8("a"), 1, 4), JX_ERR_ARG);
}

TEST(RTPData, AudioPackets)
{
    CRTPData d;
    tag_RTPHDR h = Header(7, 160, 9);
    h.nPayloadType = 8;
    ASSERT_EQ(d.BuildPCMRTP(&h, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(ToHex(Built(d)), "24 02 00 0c 80 88 00 07 00 00 00 a0 00 00 00 09");
    ASSERT_EQ(d.BuildPCMRTP(&h, U8("ab"), 2, U8("cde"), 3), 0);
    EXPECT_EQ(ToHex(Built(d).data() + 16, 5), "61 62 63 64 65");
    EXPECT_EQ(d.m_Length, 21);
    ASSERT_EQ(d.BuildPCMRTP(&h, nullptr, 40, U8("z"), 1), 0);   // a missing part is skipped
    EXPECT_EQ(d.m_Length, 17);
    EXPECT_EQ(Built(d)[16], 'z');
    EXPECT_EQ(d.BuildPCMRTP(nullptr, U8("z"), 1, nullptr, 0), JX_ERR_ARG);
}

TEST(RTPData, HeaderByteTakesTheLowBitsOfEachField)
{
    struct { uint8_t v, p, x, cc; const char* pHex; } cases[] = {
        {2, 0, 0, 0, "80"}, {2, 1, 1, 3, "b3"}, {3, 1, 0, 15, "ef"}, {6, 2, 3, 0x1F, "9f"}, {0, 0, 0, 0, "00"},
    };
    for (const auto& c : cases) {
        CRTPData d;
        tag_RTPHDR h = Header();
        h.nVersion = c.v;
        h.nPadding = c.p;
        h.nExtension = c.x;
        h.nCSRCCount = c.cc;
        h.nPayloadType = 0xFF;   // bit 7 belongs to the marker
        ASSERT_EQ(d.BuildH265RTP(&h, U8("x"), 1), 0);
        EXPECT_EQ(ToHex(Built(d).data() + 4, 1), c.pHex);
        EXPECT_EQ(Built(d)[5], 0xFF);
        EXPECT_EQ(d.m_Length, 17);   // no CSRC list or extension written
    }
}

TEST(RTPData, RefusedArguments)
{
    CRTPData d;
    tag_RTPHDR h = Header();
    EXPECT_EQ(d.BuildH264RTP(nullptr, 0x65, U8("a"), 1), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH264RTP(&h, 0x65, nullptr, 1), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH264RTP(&h, 0x65, U8("a"), 0), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH264RTPFu(&h, 0x65, U8("a"), 0, 4), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH265RTP(&h, U8("a"), 0), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH265RTPFu(&h, 0, 1, nullptr, 2, 4), JX_ERR_ARG);
    EXPECT_EQ(d.m_Length, 0);
    EXPECT_EQ(d.m_Packet, nullptr);
}

// The total is held in 16 bits: the largest payload of each operation is
// built, one byte more is refused and builds nothing.
TEST(RTPData, PacketsBeyond65535BytesAreRefused)
{
    std::vector<uint8_t> big(70000, 0x5A);
    CRTPData d;
    tag_RTPHDR h = Header();
    ASSERT_EQ(d.BuildH265RTP(&h, U8("ab"), 2), 0);
    const Bytes before = Built(d);

    EXPECT_EQ(d.BuildH264RTP(&h, 0x65, big.data(), 65535 - 17 + 1), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH264RTPFu(&h, 0x65, big.data(), 65535 - 18 + 1, 4), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH265RTP(&h, big.data(), 65535 - 16 + 1), JX_ERR_ARG);
    EXPECT_EQ(d.BuildH265RTPFu(&h, 0, 1, big.data(), 65535 - 19 + 1, 4), JX_ERR_ARG);
    EXPECT_EQ(d.BuildPCMRTP(&h, big.data(), 40000, big.data(), 65535 - 16 - 40000 + 1), JX_ERR_ARG);
    EXPECT_EQ(Built(d), before);   // the last packet is untouched

    struct { int nResult; } ok[] = {
        {d.BuildH264RTP(&h, 0x65, big.data(), 65535 - 17)},
        {d.BuildH264RTPFu(&h, 0x65, big.data(), 65535 - 18, 4)},
        {d.BuildH265RTP(&h, big.data(), 65535 - 16)},
        {d.BuildH265RTPFu(&h, 0, 1, big.data(), 65535 - 19, 4)},
        {d.BuildPCMRTP(&h, big.data(), 40000, big.data(), 65535 - 16 - 40000)},
    };
    for (const auto& r : ok) {
        EXPECT_EQ(r.nResult, 0);
    }
    EXPECT_EQ(d.m_Length, 65535);
    EXPECT_EQ(ToHex(d.m_Packet, 4), "24 02 ff fb");
}

TEST(RTPData, BufferOnlyGrows)
{
    CRTPData d;
    tag_RTPHDR h = Header();
    std::vector<uint8_t> data(1000, 1);
    ASSERT_EQ(d.BuildH265RTP(&h, data.data(), 1000), 0);
    EXPECT_EQ(d.m_Capacity, 1016);
    const uint8_t* pFirst = d.m_Packet;
    ASSERT_EQ(d.BuildH265RTP(&h, data.data(), 10), 0);   // smaller: same buffer
    EXPECT_EQ(d.m_Packet, pFirst);
    EXPECT_EQ(d.m_Capacity, 1016);
    EXPECT_EQ(d.m_Length, 26);
    ASSERT_EQ(d.BuildPCMRTP(&h, data.data(), 1000, data.data(), 500), 0);   // larger: replaced
    EXPECT_EQ(d.m_Capacity, 1516);
    EXPECT_EQ(d.AllocBuffer(100), 0);
    EXPECT_EQ(d.m_Capacity, 1516);
    CRTPData empty;
    EXPECT_EQ(empty.AllocBuffer(0), 0);
    EXPECT_EQ(empty.m_Packet, nullptr);
}

// ---------------------------------------------------------------------------
// Round trip: frames cut into packets by the builder, read back by the
// parser, reassembled by the video base, compared byte for byte.

Bytes Frame(size_t n, uint8_t nLead, uint32_t nSeed)
{
    Bytes b(n);
    uint32_t x = nSeed;
    for (auto& c : b) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<uint8_t>(x >> 24);
    }
    b[0] = nLead;
    return b;
}

// The RTP packet inside the interleaved frame, after checking the framing.
Bytes Unframe(const CRTPData& d, uint8_t nChannel)
{
    EXPECT_GE(d.m_Length, 17);
    EXPECT_EQ(d.m_Packet[0], '$');
    EXPECT_EQ(d.m_Packet[1], nChannel);
    EXPECT_EQ((d.m_Packet[2] << 8) | d.m_Packet[3], d.m_Length - 4);
    return Bytes(d.m_Packet + 4, d.m_Packet + d.m_Length);
}

TEST(RTPData, RoundTripThroughParserAndVideoBase)
{
    const size_t sizes[] = {1, 1399, 1400, 1401, 5000, 2 << 20, 70000, 3};
    std::vector<Bytes> frames;
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
        frames.push_back(Frame(sizes[i], i == 0 || i == 5 ? 0x65 : 0x41, static_cast<uint32_t>(i + 1)));
    }
    CTestFrameSink sink;
    auto* pVideo = new CTestVideo(&sink);
    sink.m_Media = pVideo;
    CRTPData d;
    tag_RTPHDR h = Header(65000, 0xFFFFE000u, 0x0BADCAFE);   // sequence and timestamp wrap on the way
    auto Send = [&]() {
        const Bytes pkt = Unframe(d, 0);
        ASSERT_EQ(sink.Feed(pkt), 0);
        ++h.nSeqNo;
    };
    for (const Bytes& f : frames) {
        for (size_t nPos = 0; nPos < f.size(); nPos += 1400) {
            const size_t n = std::min<size_t>(1400, f.size() - nPos);
            ASSERT_EQ(d.BuildH265RTP(&h, f.data() + nPos, static_cast<unsigned short>(n)), 0);
            Send();
        }
        h.nTimeStamp += 3600;
    }
    ASSERT_EQ(d.BuildH265RTP(&h, U8("\x41"), 1), 0);   // closes the last frame
    Send();
    ASSERT_EQ(sink.Count(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(sink.Payload(i) == frames[i]) << "frame " << i;
        EXPECT_EQ(sink.Tail(i), Bytes(32, 0));
    }
}

// NAL units cut into FU-A fragments; the parser's payloads rebuild each unit.
TEST(RTPData, FuARoundTrip)
{
    const Bytes nal = Frame(10000, 0x65, 99);
    CRTPData d;
    tag_RTPHDR h = Header();
    Bytes rebuilt;
    int nMarkers = 0;
    for (size_t nPos = 1; nPos < nal.size(); nPos += 1000) {
        const size_t n = std::min<size_t>(1000, nal.size() - nPos);
        const int nFlags = (nPos == 1 ? CRTPData::kFlagStart : 0) | (nPos + n == nal.size() ? CRTPData::kFlagEnd : 0);
        ASSERT_EQ(d.BuildH264RTPFu(&h, nal[0], nal.data() + nPos, static_cast<unsigned short>(n), nFlags), 0);
        const Bytes pkt = Unframe(d, 0);
        CRTPParser rtp;
        ASSERT_EQ(rtp.Setup(pkt.data(), static_cast<uint32_t>(pkt.size())), 0);
        nMarkers += rtp.m_Marker;
        const uint8_t* p = rtp.Payload();
        ASSERT_EQ(p[0] & 0x1F, 28);
        if (p[1] & 0x80) {
            rebuilt.push_back(static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F)));
        }
        rebuilt.insert(rebuilt.end(), p + 2, p + rtp.PayloadLength());
        EXPECT_EQ((p[1] & 0x40) != 0, nPos + n == nal.size());
        ++h.nSeqNo;
    }
    EXPECT_EQ(nMarkers, 1);
    EXPECT_TRUE(rebuilt == nal);
}

}  // namespace

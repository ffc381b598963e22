// RTP packet builder: one table of frames. Each frame is cut into packets by
// one builder; every packet is checked for its interleaved framing, read back
// by the parser, its header compared with what was given, and the frame put
// together again from the payloads and compared byte for byte. The leading
// bytes of the first packet are given exactly, which pins the bit layout.
#include "rtpdata.h"
#include "rtpparser.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

enum EKind { kH264, kH264Fu, kH265, kH265Fu, kPCM };

constexpr size_t kHeadBytes = CRTPData::kFrameBytes + CRTPData::kRTPHeadBytes;
constexpr uint8_t kFuA = 28;
constexpr uint8_t kH265FuType = 49;
constexpr unsigned short kMissingPart = 40;   // the length given with a missing audio part

struct PackCase {
    const char* pName;
    EKind nKind;
    Bytes frame;              // FU: one NAL unit; otherwise the packets' payloads one after the other
    size_t nPiece;            // payload bytes per packet (FU: of the unit after its header); 0: one packet
    int32_t nResult;          // of every build
    std::string pHead;        // leading bytes of the first packet
    const char* pHdr = "";    // hex V P X CC M PT SN TS SSRC given ("": 2 0 0 0 1 60 1 2 3)
    int nFlagsExtra = 0;      // FU: flag bits given besides S and E, never written
    bool bHexOnly = false;    // bits the parser reads otherwise: only the bytes are compared
    bool bNullData = false;   // the payload's length given without its bytes
};

tag_RTPHDR Header(const char* pHdr)
{
    unsigned int v[9] = {2, 0, 0, 0, 1, 96, 1, 2, 3};
    sscanf(pHdr, "%x %x %x %x %x %x %x %x %x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]);
    auto U8 = [](unsigned int n) { return static_cast<uint8_t>(n); };
    return {U8(v[0]), U8(v[1]), U8(v[2]), U8(v[3]), U8(v[4]), U8(v[5]), static_cast<uint16_t>(v[6]), v[7], v[8]};
}

Bytes Frame(size_t n, uint8_t nLead)
{
    Bytes b(n);
    uint32_t x = static_cast<uint32_t>(n);
    for (auto& c : b) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<uint8_t>(x >> 24);
    }
    b[0] = nLead;
    return b;
}

std::vector<PackCase> Cases()
{
    const int OK = JX_OK, ARG = JX_ERR_ARG;
    // Framing and first two header bytes, SN 1, TS 2, SSRC 3, then the payload.
    auto H = [](const char* pLead, const char* pTail) {
        return std::string(pLead) + " 00 01 00 00 00 02 00 00 00 03 " + pTail;
    };
    const char* kIdr = "\x65idr";
    // clang-format off
    return {
        {"H.264 single unit", kH264, ToBytes(kIdr), 0, OK, "24 00 00 10 80 e0 ab cd 01 02 03 04 de ad be ef 65 69 64 72", "2 0 0 0 0 60 abcd 01020304 deadbeef"},
        {"H.264 units of 1400 bytes, sequence wrapping", kH264, Frame(7000, 0x41), 1400, OK, "24 00 05 84 80 e0 ff fe", "2 0 0 0 0 60 fffe 2 3"},
        {"H.264 largest unit", kH264, Frame(65519, 0x65), 0, OK, "24 00 ff fb"},
        {"H.264 unit one byte too long", kH264, Frame(65520, 0x65), 0, ARG, ""},
        {"H.264 unit of its header alone", kH264, ToBytes("\x65"), 0, ARG, ""},
        {"H.264 unit without its bytes", kH264, Frame(3, 0x65), 0, ARG, "", "", 0, false, true},
        {"FU-A in one fragment: S and E, marker", kH264Fu, ToBytes("\x65\x61"), 1, OK, H("24 00 00 0f 80 e0", "7c c5 61")},
        {"FU-A in three, other flag bits not written", kH264Fu, ToBytes("\x65\x61\x62\x63"), 1, OK, H("24 00 00 0f 80 60", "7c 85 61"), "", 0x79},
        {"FU-A of NRI 2, type 1, in 1000-byte fragments", kH264Fu, Frame(10000, 0x41), 1000, OK, H("24 00 03 f6 80 60", "5c 81")},
        {"FU-A largest fragment", kH264Fu, Frame(1 + 65517, 0x65), 0, OK, "24 00 ff fb"},
        {"FU-A fragment one byte too long", kH264Fu, Frame(1 + 65518, 0x65), 0, ARG, ""},
        {"FU-A fragment of nothing", kH264Fu, ToBytes("\x65"), 0, ARG, ""},
        {"FU-A fragment without its bytes", kH264Fu, Frame(3, 0x65), 0, ARG, "", "", 0, false, true},
        {"H.265 single unit", kH265, ToBytes("\x40\x01v"), 0, OK, H("24 00 00 0f 80 e0", "40 01 76")},
        {"H.265 units of 1400 bytes, sequence and timestamp near the wrap", kH265, Frame(70000, 0x26), 1400, OK, "24 00 05 84 80 e0 ff fa ff ff e0 00 0b ad ca fe", "2 0 0 0 0 60 fffa ffffe000 0badcafe"},
        {"H.265 largest unit", kH265, Frame(65519, 0x26), 0, OK, "24 00 ff fb"},
        {"H.265 unit one byte too long", kH265, Frame(65520, 0x26), 0, ARG, ""},
        {"H.265 unit of nothing", kH265, Bytes(), 0, ARG, ""},
        {"H.265 unit without its bytes", kH265, Frame(3, 0x26), 0, ARG, "", "", 0, false, true},
        {"H.265 FU in one fragment", kH265Fu, ToBytes("\x26\x01\x61\x62"), 2, OK, H("24 00 00 11 80 e0", "62 01 d3 61 62")},
        {"H.265 FU in three, other flag bits not written", kH265Fu, ToBytes("\x26\x01\x61\x62\x63\x64\x65\x66"), 2, OK, H("24 00 00 11 80 60", "62 01 93 61 62"), "", 0x79},
        {"H.265 FU of a 1-byte fragment", kH265Fu, ToBytes("\x26\x01\x61"), 0, ARG, ""},
        {"H.265 FU fragment without its bytes", kH265Fu, Frame(4, 0x26), 0, ARG, "", "", 0, false, true},
        {"H.265 FU largest fragment", kH265Fu, Frame(2 + 65516, 0xA6), 0, OK, "24 00 ff fb"},
        {"H.265 FU fragment one byte too long", kH265Fu, Frame(2 + 65517, 0x26), 0, ARG, ""},
        {"audio, header alone", kPCM, Bytes(), 0, OK, "24 02 00 0c 80 88 00 07 00 00 00 a0 00 00 00 09", "2 0 0 0 0 8 7 a0 9"},
        {"audio in two parts", kPCM, ToBytes("abcde"), 0, OK, H("24 02 00 11 80 e0", "61 62 63 64 65")},
        {"audio with the first part missing", kPCM, ToBytes("z"), 0, OK, H("24 02 00 0d 80 e0", "7a")},
        {"audio largest", kPCM, Frame(65519, 0), 0, OK, "24 02 ff fb"},
        {"audio one byte too long", kPCM, Frame(65520, 0), 0, ARG, ""},
        {"header byte takes the low bits of each field", kH265, ToBytes("x"), 0, OK, "24 00 00 0d ff ff", "3 1 1 f 0 ff 1 2 3", 0, true},
        {"wider values are cut to their bits", kH265, ToBytes("x"), 0, OK, "24 00 00 0d 80 80", "6 2 2 10 0 80 1 2 3"},
        {"version 0 is written as given", kH265, ToBytes("x"), 0, OK, "24 00 00 0d 00 e0", "0 0 0 0 0 60 1 2 3"},
        // clang-format on
    };
}

// One packet of a case: p, n is the piece of payload it carries.
int BuildOne(CRTPData& d, const PackCase& c, tag_RTPHDR& h, const uint8_t* p, size_t n, int nFlags)
{
    auto U16 = [](size_t v) { return static_cast<unsigned short>(v); };
    switch (c.nKind) {
    case kH264:
        return d.BuildH264RTP(&h, p != nullptr ? p[0] : c.frame[0], n > 1 && p ? p + 1 : nullptr, U16(n ? n - 1 : 0));
    case kH264Fu:
        return d.BuildH264RTPFu(&h, c.frame[0], p, U16(n), nFlags);
    case kH265:
        return d.BuildH265RTP(&h, p, U16(n));
    case kH265Fu: {
        const uint8_t head[2] = {static_cast<uint8_t>((c.frame[0] & 0x81) | (kH265FuType << 1)), c.frame[1]};
        uint16_t nPayloadHdr = 0;
        memcpy(&nPayloadHdr, head, 2);   // the two bytes as they lie in memory
        return d.BuildH265RTPFu(&h, nPayloadHdr, (c.frame[0] >> 1) & 0x3F, p, U16(n), nFlags);
    }
    case kPCM: {
        const size_t n1 = n / 2, n2 = n - n1;   // an empty part goes as missing, with a length
        return d.BuildPCMRTP(&h, n1 ? p : nullptr, n1 ? U16(n1) : kMissingPart, n2 ? p + n1 : nullptr,
                             n2 ? U16(n2) : kMissingPart);
    }
    }
    return JX_ERR_FAIL;
}

// The payload read back, added to the frame being put together; its marker.
void Unpack(const PackCase& c, const CRTPParser& rtp, bool bStart, bool bEnd, Bytes& frame)
{
    const uint8_t* q = rtp.Payload();
    const uint8_t* pEnd = q + rtp.PayloadLength();
    bool bMarker = true;
    if (c.nKind == kH264Fu || c.nKind == kH265Fu) {
        const size_t nAt = c.nKind == kH264Fu ? 1 : 2;   // the FU header, after the indicator or payload header
        const uint8_t nFu = q[nAt];
        EXPECT_EQ((nFu & 0x80) != 0, bStart);
        EXPECT_EQ((nFu & 0x40) != 0, bEnd);
        bMarker = bEnd;
        if (c.nKind == kH264Fu) {
            EXPECT_EQ(q[0] & 0x1F, kFuA);
            EXPECT_EQ(nFu & 0x20, 0);   // R
            if (bStart) frame.push_back(static_cast<uint8_t>((q[0] & 0xE0) | (nFu & 0x1F)));
        } else {
            EXPECT_EQ((q[0] >> 1) & 0x3F, kH265FuType);
            if (bStart) frame.insert(frame.end(), {static_cast<uint8_t>((q[0] & 0x81) | ((nFu & 0x3F) << 1)), q[1]});
        }
        q += nAt + 1;
    }
    EXPECT_EQ(rtp.m_Marker, bMarker ? 1 : 0);
    frame.insert(frame.end(), q, pEnd);
}

TEST(RTPData, PackAndParseBack)
{
    for (const PackCase& c : Cases()) {
        SCOPED_TRACE(c.pName);
        CRTPData d;
        tag_RTPHDR h = Header(c.pHdr);
        ASSERT_EQ(d.BuildH265RTP(&h, reinterpret_cast<const uint8_t*>("ab"), 2), JX_OK);
        const Bytes before(d.m_Packet, d.m_Packet + d.m_Length);   // a refusal leaves it as it is
        const size_t nHead = c.nKind == kH264Fu ? 1 : c.nKind == kH265Fu ? 2 : 0;
        const uint8_t* pRest = c.frame.data() + nHead;
        const size_t nRest = c.frame.size() - nHead;
        const size_t nPiece = c.nPiece != 0 ? c.nPiece : std::max<size_t>(nRest, 1);
        const uint8_t* pBuffer = nullptr;
        Bytes rebuilt;
        for (size_t nPos = 0, i = 0; nPos < nRest || i == 0; nPos += nPiece, ++i, ++h.nSeqNo) {
            SCOPED_TRACE(testing::Message() << "packet " << i);
            const size_t n = std::min(nPiece, nRest - nPos);
            const bool bStart = nPos == 0, bEnd = nPos + n == nRest;
            const int nFlags = (bStart ? CRTPData::kFlagStart : 0) | (bEnd ? CRTPData::kFlagEnd : 0) | c.nFlagsExtra;
            const int nResult = BuildOne(d, c, h, n > 0 && !c.bNullData ? pRest + nPos : nullptr, n, nFlags);
            ASSERT_EQ(nResult, c.nResult);
            if (nResult != JX_OK) {
                EXPECT_TRUE(Bytes(d.m_Packet, d.m_Packet + d.m_Length) == before);
                break;
            }
            const Bytes pkt(d.m_Packet, d.m_Packet + d.m_Length);
            const Bytes lead = HexBytes(c.pHead);
            ASSERT_FALSE(lead.empty());
            if (i == 0) {
                EXPECT_EQ(ToHex(pkt.data(), std::min(lead.size(), pkt.size())), ToHex(lead));
            }
            // The buffer is had once, for the first and largest packet.
            EXPECT_TRUE(i == 0 || d.m_Packet == pBuffer);
            pBuffer = d.m_Packet;
            ASSERT_GE(pkt.size(), kHeadBytes);
            EXPECT_EQ(pkt[0], '$');
            EXPECT_EQ(pkt[1], c.nKind == kPCM ? CRTPData::kAudioChannel : CRTPData::kVideoChannel);
            EXPECT_EQ(size_t((pkt[2] << 8) | pkt[3]), pkt.size() - CRTPData::kFrameBytes);
            if (c.bHexOnly) break;
            CRTPParser rtp;
            const int32_t nParsed = rtp.Setup(pkt.data() + CRTPData::kFrameBytes,
                                              static_cast<uint32_t>(pkt.size() - CRTPData::kFrameBytes));
            ASSERT_EQ(nParsed, pkt.size() == kHeadBytes ? JX_ERR_ARG : JX_OK);   // no payload: refused
            if (nParsed != JX_OK) continue;
            EXPECT_EQ(rtp.m_Version, h.nVersion & 3);
            EXPECT_EQ(rtp.m_PayloadType, h.nPayloadType & 0x7F);
            EXPECT_EQ(rtp.m_SeqNo, h.nSeqNo);
            EXPECT_EQ(rtp.m_TimeStamp, h.nTimeStamp);
            EXPECT_EQ(rtp.m_SSRC, h.nSSRC);
            Unpack(c, rtp, bStart, bEnd, rebuilt);
        }
        if (c.nResult == JX_OK && !c.bHexOnly) {
            EXPECT_TRUE(rebuilt == c.frame) << rebuilt.size() << " bytes of " << c.frame.size();
        }
    }
}

}   // namespace

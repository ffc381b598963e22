// RTP header parser: one table of byte rows (valid, each malformed form, CSRC
// lists, extensions, padding, short cuts), each handed over as an exact heap
// copy so that any read past the end is caught by the address sanitizer.
#include "rtpparser.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

// V2, PT 96, SN 1000, TS 90000, SSRC 0x11223344, behind the first byte.
#define FIX "60 03 e8 00 01 5f 90 11 22 33 44 "
constexpr int kNull = -1;

struct ParseCase {
    const char* pName;
    const char* pHead;   // hex
    int nFill;           // then this many 'p' bytes (kNull: a null pointer instead of the packet)
    const char* pTail;   // then these, hex
    int32_t nResult;
    uint32_t nHeadLen, nSize;   // when accepted
    const char* pFields;        // when given and accepted: every decoded field, as Fields writes them
};

std::string Fields(const CRTPParser& r)
{
    char sz[128];
    snprintf(sz, sizeof(sz), "V%u P%u X%u CC%u M%u PT%u SN%04x TS%08x SSRC%08x EXT%04x/%u", r.m_Version, r.m_Padding,
             r.m_Extension, r.m_CSRCCount, r.m_Marker, r.m_PayloadType, r.m_SeqNo, r.m_TimeStamp, r.m_SSRC,
             r.m_ExtProfile, r.m_ExtLength);
    return sz;
}

const int32_t OK = JX_OK, ARG = JX_ERR_ARG, BAD = JX_ERR_CONTENT;
const ParseCase kCases[] = {
    {"header only", "80 " FIX, 0, "", ARG, 0, 0, nullptr},
    {"one payload byte", "80 " FIX, 1, "", OK, 12, 13, "V2 P0 X0 CC0 M0 PT96 SN03e8 TS00015f90 SSRC11223344 EXT0000/0"},
    {"null pointer", "80 " FIX, kNull, "", ARG, 0, 0, nullptr},
    {"every field", "b2 ef fe dc 89 ab cd ef 01 02 03 04 00 00 00 01 00 00 00 02 12 34 00 02", 8,
     "65 70 61 79 6c 6f 61 64 00 00 03", OK, 32, 40, "V2 P1 X1 CC2 M1 PT111 SNfedc TS89abcdef SSRC01020304 EXT1234/12"},
    {"version 0, zero fields", "00 00 00 00 00 00 00 00 00 00 00 00", 1, "", OK, 12, 13,
     "V0 P0 X0 CC0 M0 PT0 SN0000 TS00000000 SSRC00000000 EXT0000/0"},
    {"version 1, top values", "40 ff ff ff ff ff ff ff ff ff ff ff", 1, "", OK, 12, 13,
     "V1 P0 X0 CC0 M1 PT127 SNffff TSffffffff SSRCffffffff EXT0000/0"},
    {"version 3", "c0 " FIX, 1, "", OK, 12, 13, "V3 P0 X0 CC0 M0 PT96 SN03e8 TS00015f90 SSRC11223344 EXT0000/0"},
    // CSRC lists: CC = 15 needs 73 bytes.
    {"cc15 in 72 bytes", "8f " FIX, 60, "", ARG, 0, 0, nullptr},
    {"cc15 in 73 bytes", "8f " FIX, 61, "", OK, 72, 73, nullptr},
    {"cc15, short packet", "8f " FIX, 20, "", ARG, 0, 0, nullptr},
    {"cc2 list", "82 " FIX "ca fe f0 0d ca fe f0 0d", 0, "61 62 63", OK, 20, 23, nullptr},
    // Extensions.
    {"ext of length 0, 1-byte payload", "90 " FIX "be de 00 00", 1, "", OK, 16, 17,
     "V2 P0 X1 CC0 M0 PT96 SN03e8 TS00015f90 SSRC11223344 EXTbede/4"},
    {"ext of 2 words", "90 " FIX "be de 00 02", 10, "", OK, 24, 26, nullptr},
    {"ext head alone", "90 " FIX "be de 00 00", 0, "", BAD, 0, 0, nullptr},
    {"ext ending at the packet's end", "90 " FIX "be de 00 02", 8, "", BAD, 0, 0, nullptr},
    {"ext length past the end", "90 " FIX "be de 00 64", 50, "", BAD, 0, 0, nullptr},
    {"ext length 0xffff", "90 " FIX "be de ff ff", 50, "", BAD, 0, 0, nullptr},
    // 4 * 0x3FFF + 4 = 65536: cut to 16 bits it would be 0, and the
    // extension head would be taken as payload.
    {"ext length wrapping 16 bits", "90 " FIX "be de 3f ff", 50, "", BAD, 0, 0, nullptr},
    // No datagram or interleaved frame holds an extension of 65536 bytes, even
    // when the buffer does.
    {"ext of 65536 bytes", "90 " FIX "be de 3f ff", 65532 + 10, "", BAD, 0, 0, nullptr},
    {"ext of 65532 bytes", "90 " FIX "be de 3f fe", 65528 + 10, "", OK, 12 + 65532, 12 + 65532 + 10, nullptr},
    // Padding: the last byte counts the padding bytes, itself included.
    {"padding count 0", "a0 " FIX, 3, "00", OK, 12, 16, nullptr},
    {"padding 1", "a0 " FIX, 3, "01", OK, 12, 15, "V2 P1 X0 CC0 M0 PT96 SN03e8 TS00015f90 SSRC11223344 EXT0000/0"},
    {"padding 4", "a0 " FIX, 3, "00 00 00 04", OK, 12, 15, nullptr},
    {"padding leaves no payload", "a0 " FIX, 0, "00 00 00 04", ARG, 0, 0, nullptr},
    {"padding 255, short packet", "a0 " FIX, 3, "ff", ARG, 0, 0, nullptr},
    {"padding 255, long enough", "a0 " FIX, 255, "ff", OK, 12, 13, nullptr},
    {"padding count covering a payload byte", "a0 " FIX, 2, "00 00 04", OK, 12, 13, nullptr},
    {"padding count reaching into the header", "a0 " FIX, 2, "00 00 06", ARG, 0, 0, nullptr},
    {"P set: the last payload byte 'c' = 99 is the count", "a0 " FIX, 0, "61 62 63", ARG, 0, 0, nullptr},
    {"padding into the extension", "b0 " FIX "be de 00 00", 1, "00 00 04", BAD, 0, 0, nullptr},
    {"padding and extension, 2 bytes left", "b0 " FIX "be de 00 00", 2, "00 02", OK, 16, 18, nullptr},
};

void RunCase(const ParseCase& c, const Bytes& packet, int32_t nResult)
{
    std::unique_ptr<uint8_t[]> pExact(new uint8_t[packet.size() + 1]);
    if (!packet.empty()) memcpy(pExact.get(), packet.data(), packet.size());
    // Set up with another packet first: a refusal must not leave that one in view.
    const Bytes good = HexBytes("80 " FIX "70");
    CRTPParser rtp;
    ASSERT_EQ(rtp.Setup(good.data(), static_cast<uint32_t>(good.size())), JX_OK);
    EXPECT_EQ(rtp.Setup(c.nFill == kNull ? nullptr : pExact.get(), static_cast<uint32_t>(packet.size())), nResult);
    EXPECT_EQ(rtp.IsSetup(), nResult == JX_OK);
    if (nResult != JX_OK) {
        return;
    }
    EXPECT_EQ(rtp.m_HeadLen, c.nHeadLen);
    EXPECT_EQ(rtp.m_Size, c.nSize);
    EXPECT_EQ(rtp.Payload(), pExact.get() + c.nHeadLen);
    EXPECT_EQ(rtp.PayloadLength(), static_cast<int32_t>(c.nSize - c.nHeadLen));
    if (c.pFields != nullptr) {
        EXPECT_EQ(Fields(rtp), c.pFields);
    }
}

TEST(RTPParser, Table)
{
    for (const ParseCase& c : kCases) {
        SCOPED_TRACE(c.pName);
        Bytes packet = HexBytes(c.pHead);
        packet.insert(packet.end(), c.nFill > 0 ? static_cast<size_t>(c.nFill) : 0, 'p');
        const Bytes tail = HexBytes(c.pTail);
        packet.insert(packet.end(), tail.begin(), tail.end());
        RunCase(c, packet, c.nResult);
        // Every shorter cut of an accepted packet up to its fixed header is refused.
        for (size_t n = 0; c.nResult == JX_OK && n <= CRTPParser::kFixedHead; ++n) {
            SCOPED_TRACE(testing::Message() << "cut to " << n);
            RunCase(c, Bytes(packet.begin(), packet.begin() + static_cast<long>(n)), JX_ERR_ARG);
        }
    }
}

// Every cut of a packet with CSRCs, extension and padding: an accepted one
// always leaves its payload inside what was handed over.
TEST(RTPParser, EveryCutStaysInside)
{
    Bytes full = HexBytes("b3 " FIX "00 00 00 07 00 00 00 08 00 00 00 09 be de 00 03");
    full.insert(full.end(), 52, 'p');
    full.insert(full.end(), {0, 0, 0, 0, 5});
    int nAccepted = 0;
    for (size_t n = 0; n <= full.size(); ++n) {
        std::unique_ptr<uint8_t[]> pExact(new uint8_t[n + 1]);
        memcpy(pExact.get(), full.data(), n);
        CRTPParser rtp;
        if (rtp.Setup(pExact.get(), static_cast<uint32_t>(n)) == JX_OK) {
            ++nAccepted;
            ASSERT_LT(rtp.m_HeadLen, rtp.m_Size) << n;
            ASSERT_LE(rtp.m_Size, n) << n;
        }
    }
    EXPECT_GT(nAccepted, 0);
}

#undef FIX

}   // namespace

// CJXBitReader: fixed fields, exp-Golomb codes, emulation prevention, bounds.
#include "JXBitReader.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

namespace {

CJXBitReader Reader(const Bytes& b)
{
    return CJXBitReader(b.data(), static_cast<int32_t>(b.size()));
}

TEST(MediaBitReader, FixedFieldsMostSignificantBitFirst)
{
    Bytes b = {0xA5, 0x0F, 0xFF, 0x00, 0x12, 0x34, 0x56, 0x78};
    CJXBitReader br = Reader(b);
    EXPECT_EQ(br.ReadBit(), 1u);
    EXPECT_EQ(br.ReadBits(3), 0x2u);
    EXPECT_EQ(br.ReadBits(4), 0x5u);
    EXPECT_EQ(br.ReadBits(12), 0x0FFu);
    EXPECT_EQ(br.ReadBits(12), 0xF00u);
    EXPECT_EQ(br.ReadBits(32), 0x12345678u);
    EXPECT_FALSE(br.HasError());
    EXPECT_EQ(br.GetBitsLeft(), 0);
    EXPECT_EQ(br.ReadBits(0), 0u);
    EXPECT_FALSE(br.HasError());
    EXPECT_EQ(br.ReadBit(), 0u);
    EXPECT_TRUE(br.HasError());
}

TEST(MediaBitReader, ExpGolombCodes)
{
    // These ue(v) then se(v) values, the stop bit and emulation prevention.
    const Bytes b = HexBytes("A6438801FE010000030080000003000003008000000300000300000301FFFFFFFF4C8501FC010100"
                             "00030001FFFFFFFC0000030003FFFFFFFE");
    const uint64_t ue[] = {0, 1, 2, 3, 6, 7, 254, 255, 65535, 0x7FFFFFFFull, 0xFFFFFFFEull};
    const int64_t se[] = {0, 1, -1, 2, -2, 127, -128, 0x7FFFFFFF, -0x7FFFFFFF};
    CJXBitReader br = Reader(b);
    for (uint64_t v : ue)
        EXPECT_EQ(br.ReadUE(), v);
    for (int64_t v : se)
        EXPECT_EQ(br.ReadSE(), v);
    EXPECT_FALSE(br.HasError());
    EXPECT_EQ(br.ReadBit(), 1u);   // the stop bit
}

TEST(MediaBitReader, OverlongAndTruncatedCodes)
{
    struct Row {
        const char* name;
        Bytes data;
        uint32_t value;
        bool bError;
    } rows[] = {
        {"31 leading zeros: the longest code", HexBytes("0000030001FFFFFFFF"), 0xFFFFFFFEu, false},
        {"32 leading zeros then a one", {0, 0, 0, 0, 0x80, 0, 0, 0, 0}, 0, true},
        {"all zero", Bytes(12, 0), 0, true},
        {"prefix runs off the end", {0x00, 0x00}, 0, true},
        {"suffix runs off the end", {0x00, 0x01}, 0, true},   // 15 zeros, one, no room for 15 bits
        {"empty", {}, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CJXBitReader br = Reader(row.data);
        EXPECT_EQ(br.ReadUE(), row.value);
        EXPECT_EQ(br.HasError(), row.bError);
        if (!row.bError) continue;
        // Sticky: nothing reads after an error.
        EXPECT_EQ(br.ReadBits(1), 0u);
        EXPECT_EQ(br.GetBitsLeft(), 0);
    }
}

TEST(MediaBitReader, EmulationPreventionIsRemoved)
{
    struct Row {
        const char* name;
        Bytes in;
        Bytes out;
    } rows[] = {
        {"middle", {0x11, 0x00, 0x00, 0x03, 0x01, 0x22}, {0x11, 0x00, 0x00, 0x01, 0x22}},
        {"at the end", {0x11, 0x00, 0x00, 0x03}, {0x11, 0x00, 0x00}},
        {"twice in a row", {0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {"03 after one zero stays", {0x00, 0x03, 0x00, 0x00, 0x02}, {0x00, 0x03, 0x00, 0x00, 0x02}},
        {"three zeros then 03", {0x00, 0x00, 0x00, 0x03, 0x03}, {0x00, 0x00, 0x00, 0x03}},
        {"only 03", {0x03}, {0x03}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CJXBitReader br = Reader(row.in);
        ASSERT_EQ(br.GetLength(), static_cast<int32_t>(row.out.size()));
        for (uint8_t expected : row.out)
            EXPECT_EQ(br.ReadBits(8), expected);
        EXPECT_FALSE(br.HasError());
        EXPECT_EQ(br.ReadBits(1), 0u);
        EXPECT_TRUE(br.HasError());
    }
}

TEST(MediaBitReader, BoundsAndBadArguments)
{
    Bytes big(static_cast<size_t>(CJXBitReader::kMaxBytes) + 100, 0xAB);
    CJXBitReader br = Reader(big);
    EXPECT_EQ(br.GetLength(), CJXBitReader::kMaxBytes);   // keeps at most its buffer
    br.SkipBits(CJXBitReader::kMaxBytes * 8 - 8);
    EXPECT_EQ(br.ReadBits(8), 0xABu);
    EXPECT_FALSE(br.HasError());
    EXPECT_EQ(br.ReadBits(8), 0u);
    EXPECT_TRUE(br.HasError());

    CJXBitReader nullData(nullptr, 10);
    EXPECT_EQ(nullData.ReadBit(), 0u);
    EXPECT_TRUE(nullData.HasError());
    EXPECT_EQ(CJXBitReader(big.data(), -1).GetLength(), 0);
    CJXBitReader tooWide(big.data(), 1);
    EXPECT_EQ(tooWide.ReadBits(33), 0u);
    EXPECT_TRUE(tooWide.HasError());
    CJXBitReader skipPast(big.data(), 1);
    skipPast.SkipBits(9);
    EXPECT_TRUE(skipPast.HasError());
}

}   // namespace

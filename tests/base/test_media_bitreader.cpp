// CJXBitReader: fixed fields, exp-Golomb codes, emulation prevention, bounds.
#include "JXBitReader.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

CJXBitReader* Reader(const Bytes& b)
{
    return new CJXBitReader(b.data(), static_cast<int32_t>(b.size()));
}

TEST(MediaBitReader, FixedFieldsMostSignificantBitFirst)
{
    Bytes b = {0xA5, 0x0F, 0xFF, 0x00, 0x12, 0x34, 0x56, 0x78};
    CJXBitReader br(b.data(), static_cast<int32_t>(b.size()));
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

TEST(MediaBitReader, ExpGolombTable)
{
    // Each value written with the test's own writer, then read back.
    const uint64_t ue[] = {0, 1, 2, 3, 6, 7, 254, 255, 65535, 0x7FFFFFFFull, 0xFFFFFFFEull};
    const int64_t se[] = {0, 1, -1, 2, -2, 127, -128, 0x7FFFFFFF, -0x7FFFFFFF};
    CBitWriter w;
    for (uint64_t v : ue)
        w.UE(v);
    for (int64_t v : se)
        w.SE(v);
    Bytes b = w.Payload();
    CJXBitReader br(b.data(), static_cast<int32_t>(b.size()));
    for (uint64_t v : ue)
        EXPECT_EQ(br.ReadUE(), v);
    for (int64_t v : se)
        EXPECT_EQ(br.ReadSE(), v);
    EXPECT_FALSE(br.HasError());
    EXPECT_EQ(br.ReadBit(), 1u);                 // the stop bit
}

TEST(MediaBitReader, KnownCodes)
{
    // 1 -> 0, 010 -> 1, 011 -> 2, 00100 -> 3, 00111 -> 6: 1010 0110 0100 0011 1...
    Bytes b = {0xA6, 0x43, 0x80};
    CJXBitReader br(b.data(), 3);
    EXPECT_EQ(br.ReadUE(), 0u);
    EXPECT_EQ(br.ReadUE(), 1u);
    EXPECT_EQ(br.ReadUE(), 2u);
    EXPECT_EQ(br.ReadUE(), 3u);
    EXPECT_EQ(br.ReadUE(), 6u);
    EXPECT_FALSE(br.HasError());
}

TEST(MediaBitReader, OverlongAndTruncatedCodesSetTheErrorFlag)
{
    struct Case {
        const char* name;
        Bytes data;
    } cases[] = {
        {"32 leading zeros then a one", {0, 0, 0, 0, 0x80, 0, 0, 0, 0}},
        {"all zero", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"prefix runs off the end", {0x00, 0x00}},
        {"suffix runs off the end", {0x00, 0x01}},   // 15 zeros, one, no room for 15 bits
        {"empty", {}},
    };
    for (const Case& c : cases) {
        CJXBitReader br(c.data.data(), static_cast<int32_t>(c.data.size()));
        EXPECT_EQ(br.ReadUE(), 0u) << c.name;
        EXPECT_TRUE(br.HasError()) << c.name;
        // Sticky: nothing reads after an error.
        EXPECT_EQ(br.ReadBits(1), 0u) << c.name;
        EXPECT_EQ(br.GetBitsLeft(), 0) << c.name;
    }
    // 31 leading zeros is the longest valid code: 2^32 - 2 at most.
    CBitWriter w;
    w.UE(0xFFFFFFFEull);
    Bytes b = w.Payload();
    CJXBitReader br(b.data(), static_cast<int32_t>(b.size()));
    EXPECT_EQ(br.ReadUE(), 0xFFFFFFFEu);
    EXPECT_FALSE(br.HasError());
}

TEST(MediaBitReader, EmulationPreventionIsRemoved)
{
    struct Case {
        const char* name;
        Bytes in;
        Bytes out;
    } cases[] = {
        {"middle", {0x11, 0x00, 0x00, 0x03, 0x01, 0x22}, {0x11, 0x00, 0x00, 0x01, 0x22}},
        {"at the end", {0x11, 0x00, 0x00, 0x03}, {0x11, 0x00, 0x00}},
        {"twice in a row", {0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {"03 after one zero stays", {0x00, 0x03, 0x00, 0x00, 0x02}, {0x00, 0x03, 0x00, 0x00, 0x02}},
        {"three zeros then 03", {0x00, 0x00, 0x00, 0x03, 0x03}, {0x00, 0x00, 0x00, 0x03}},
        {"only 03", {0x03}, {0x03}},
    };
    for (const Case& c : cases) {
        CJXBitReader br(c.in.data(), static_cast<int32_t>(c.in.size()));
        ASSERT_EQ(br.GetLength(), static_cast<int32_t>(c.out.size())) << c.name;
        for (uint8_t expected : c.out)
            EXPECT_EQ(br.ReadBits(8), expected) << c.name;
        EXPECT_FALSE(br.HasError()) << c.name;
        EXPECT_EQ(br.ReadBits(1), 0u) << c.name;
        EXPECT_TRUE(br.HasError()) << c.name;
    }
}

TEST(MediaBitReader, KeepsAtMostItsBuffer)
{
    Bytes big(static_cast<size_t>(CJXBitReader::kMaxBytes) + 100, 0xAB);
    std::unique_ptr<CJXBitReader> br(Reader(big));
    EXPECT_EQ(br->GetLength(), CJXBitReader::kMaxBytes);
    br->SkipBits(CJXBitReader::kMaxBytes * 8 - 8);
    EXPECT_EQ(br->ReadBits(8), 0xABu);
    EXPECT_FALSE(br->HasError());
    EXPECT_EQ(br->ReadBits(8), 0u);
    EXPECT_TRUE(br->HasError());
}

TEST(MediaBitReader, BadArgumentsReadNothing)
{
    CJXBitReader nullData(nullptr, 10);
    EXPECT_EQ(nullData.ReadBit(), 0u);
    EXPECT_TRUE(nullData.HasError());
    Bytes b = {0xFF};
    CJXBitReader negative(b.data(), -1);
    EXPECT_EQ(negative.GetLength(), 0);
    CJXBitReader tooWide(b.data(), 1);
    EXPECT_EQ(tooWide.ReadBits(33), 0u);
    EXPECT_TRUE(tooWide.HasError());
    CJXBitReader skipPast(b.data(), 1);
    skipPast.SkipBits(9);
    EXPECT_TRUE(skipPast.HasError());
}

}  // namespace

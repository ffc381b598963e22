// SPS readers: libx264/libx265 sets, hex sets for branches those never take
// (tests/data/media/sps.txt), hostile input.
#include "JXH265Head.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr float kNoRate = 0.0f;

int32_t Parse(bool bH265, const Bytes& payload, JXSpsInfo* pInfo)
{
    int32_t n = static_cast<int32_t>(payload.size());
    return bH265 ? JXParseH265SPS(payload.data(), n, pInfo) : JXParseH264SPS(payload.data(), n, pInfo);
}

// The SPS payload (after its NAL header) of a recorded file.
Bytes RecordedSps(const std::string& file, bool bH265)
{
    Bytes nal = FindNal(LoadMedia(file), bH265, bH265 ? 33 : 7);
    size_t nHeader = bH265 ? 2 : 1;
    return nal.size() > nHeader ? Bytes(nal.begin() + static_cast<long>(nHeader), nal.end()) : Bytes();
}

// A row of tests/data/media/sps.txt: the set, and what is read from it.
struct Row {
    std::string name;
    bool bH265;
    Bytes sps;
    uint16_t width, height;
    float fps;
    uint8_t profile, level;
};

float Rate(const std::string& text)
{
    const size_t nSlash = text.find('/');
    return nSlash == std::string::npos ? std::stof(text) : std::stof(text) / std::stof(text.substr(nSlash + 1));
}

std::vector<Row> Rows(bool bRefused)
{
    std::vector<Row> rows;
    for (const auto& c : LoadTable("media/sps.txt")) {
        if ((c[0].rfind("refused", 0) == 0) != bRefused) continue;
        const bool bH265 = c.at(1) == "h265";
        Row r{c[0], bH265, c.at(2).empty() ? RecordedSps(c[0], bH265) : HexBytes(c[2]), 0, 0, 0, 0, 0};
        if (!bRefused) {
            r.width = uint16_t(std::stoul(c.at(3)));
            r.height = uint16_t(std::stoul(c.at(4)));
            r.fps = Rate(c.at(5));
            r.profile = uint8_t(std::stoul(c.at(6)));
            r.level = uint8_t(std::stoul(c.at(7)));
        }
        rows.push_back(r);
    }
    return rows;
}

// Every prefix of a readable set is refused, or read with the full size (the rate may be cut).
TEST(MediaSps, ReadableSetsAtEveryLength)
{
    const std::vector<Row> rows = Rows(false);
    ASSERT_EQ(rows.size(), 49u);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes& sps = row.sps;
        ASSERT_FALSE(sps.empty());
        JXSpsInfo info;
        ASSERT_EQ(Parse(row.bH265, sps, &info), JX_OK);
        EXPECT_EQ(info.nWidth, row.width);
        EXPECT_EQ(info.nHeight, row.height);
        EXPECT_FLOAT_EQ(info.fFPS, row.fps);
        EXPECT_EQ(info.nProfile, row.profile);
        EXPECT_EQ(info.nLevel, row.level);
        bool bRead = false;
        for (size_t n = 0; n < sps.size(); ++n) {
            JXSpsInfo part;
            const int32_t nRet = Parse(row.bH265, Bytes(sps.begin(), sps.begin() + static_cast<long>(n)), &part);
            EXPECT_TRUE(nRet == JX_OK || (nRet == JX_ERR_CONTENT && !bRead && part.nWidth == 0)) << n;
            if (nRet != JX_OK) continue;
            bRead = true;
            EXPECT_EQ(part.nWidth, row.width) << n;
            EXPECT_EQ(part.nHeight, row.height) << n;
            EXPECT_TRUE(part.fFPS == kNoRate || part.fFPS == row.fps) << n;
        }
    }
    const std::vector<Row> refused = Rows(true);
    ASSERT_EQ(refused.size(), 17u);
    for (const Row& row : refused) {
        JXSpsInfo info;
        EXPECT_EQ(Parse(row.bH265, row.sps, &info), JX_ERR_CONTENT) << row.name;
        EXPECT_EQ(info.nWidth, 0) << row.name;
    }
}

// Cut just after a 00 00 03 in the timing, the 03 is dropped: read as cut before it.
TEST(MediaSps, EmulationPreventionAtTheEnd)
{
    Bytes sps = RecordedSps("h264_high_1920x1080.h264", false);
    size_t nAt = 2;
    while (nAt < sps.size() && !(sps[nAt - 2] == 0 && sps[nAt - 1] == 0 && sps[nAt] == 3))
        ++nAt;
    ASSERT_LT(nAt, sps.size()) << "the recorded SPS no longer holds 00 00 03";
    JXSpsInfo a;
    JXSpsInfo b;
    ASSERT_EQ(Parse(false, Bytes(sps.begin(), sps.begin() + static_cast<long>(nAt) + 1), &a), JX_OK);
    ASSERT_EQ(Parse(false, Bytes(sps.begin(), sps.begin() + static_cast<long>(nAt)), &b), JX_OK);
    EXPECT_EQ(a.nWidth, 1920);
    EXPECT_EQ(a.nHeight, 1080);
    EXPECT_EQ(a.fFPS, b.fFPS);
}

TEST(MediaSps, HostileBytes)
{
    for (size_t n = 0; n <= 64; ++n) {
        Bytes ff(n, 0xFF);
        Bytes zero(n, 0x00);
        JXSpsInfo a;
        // All ones: a 16x16 picture, timing of 2^32-1 over twice that is 0.5 frames a second.
        int32_t nRet = Parse(false, ff, &a);
        if (nRet == JX_OK) {
            EXPECT_EQ(a.nWidth, 16);
            EXPECT_EQ(a.nHeight, 16);
            EXPECT_TRUE(a.fFPS == kNoRate || a.fFPS == 0.5f) << n;
        } else {
            EXPECT_EQ(nRet, JX_ERR_CONTENT);
        }
        EXPECT_EQ(Parse(true, ff, &a), JX_ERR_CONTENT) << n;   // sps_max_sub_layers_minus1 7
        EXPECT_EQ(Parse(false, zero, &a), JX_ERR_CONTENT) << n;
        EXPECT_EQ(Parse(true, zero, &a), JX_ERR_CONTENT) << n;
    }
    JXSpsInfo info;
    ASSERT_EQ(Parse(false, Bytes(64, 0xFF), &info), JX_OK);
    EXPECT_EQ(info.fFPS, 0.5f);
    EXPECT_EQ(JXParseH264SPS(Bytes(4, 0xFF).data(), -5, &info), JX_ERR_CONTENT);
}

}   // namespace

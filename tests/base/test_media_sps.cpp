// SPS readers: libx264/libx265 sets, hex sets for branches those never take, hostile input.
#include "JXH265Head.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr float kNoRate = 0.0f;
constexpr float kRecordedRate = 25.0f;

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

struct Row {
    const char* name;   // a recorded file, or what the frozen set exercises
    bool bH265;
    const char* hex;   // the SPS payload; nullptr: the recorded file's
    uint16_t width;
    uint16_t height;
    float fps;
    uint8_t profile;
    uint8_t level;

    Bytes Sps() const { return hex != nullptr ? HexBytes(hex) : RecordedSps(name, bH265); }
};

// Frozen sets: H.264 written with level 4.0 (40), H.265 with level 4 (120).
const Row kRows[] = {
    {"h264_high_1920x1080.h264", false, nullptr, 1920, 1080, kRecordedRate, 100, 40},
    {"h264_high_2592x1944.h264", false, nullptr, 2592, 1944, kRecordedRate, 100, 50},
    {"h264_high_1280x720.h264", false, nullptr, 1280, 720, kRecordedRate, 100, 31},
    {"h264_baseline_352x288.h264", false, nullptr, 352, 288, kRecordedRate, 66, 13},
    {"h264_baseline_640x360.h264", false, nullptr, 640, 360, kRecordedRate, 66, 30},
    {"h264_high_1366x768.h264", false, nullptr, 1366, 768, kRecordedRate, 100, 32},
    {"h264_high422_1366x766.h264", false, nullptr, 1366, 766, kRecordedRate, 122, 32},
    {"h264_high444_1365x767.h264", false, nullptr, 1365, 767, kRecordedRate, 244, 32},
    {"h264_high_gray_1365x767.h264", false, nullptr, 1365, 767, kRecordedRate, 100, 32},
    {"h264_interlaced_1920x1080.h264", false, nullptr, 1920, 1080, kRecordedRate, 100, 40},
    {"h265_main_1920x1080.h265", true, nullptr, 1920, 1080, kRecordedRate, 1, 120},
    {"h265_main_2592x1944.h265", true, nullptr, 2592, 1944, kRecordedRate, 1, 150},
    {"h265_main_1366x766.h265", true, nullptr, 1366, 766, kRecordedRate, 1, 120},
    {"h265_main_640x360.h265", true, nullptr, 640, 360, kRecordedRate, 1, 63},
    {"h265_sublayers_1280x720.h265", true, nullptr, 1280, 720, kRecordedRate, 1, 93},
    {"h265_main444_1365x767.h265", true, nullptr, 1365, 767, kRecordedRate, 4, 120},
    {"plain 1080p", false, "640028ACD900780227E584000003000400000300CA10", 1920, 1080, kRecordedRate, 100, 40},
    {"scaling lists 4:2:0", false,
     "640028ADA492492492494222DB6DB7028012C0A004B028012C0A004B028012C0A004B028012C0A004B028012C0A004B028012C0A004B"
     "028012C0A004B028012C0A004B028012C0A004B028012C0A004B028012C0A004B028012C0A004B028012C0A004B028012C0A004B0280"
     "12C0A004B028012C0A004B90842108421080E76401E0089F96100000030010000003032840",
     1920, 1080, kRecordedRate, 100, 40},
    {"4:4:4 separate planes, 12 lists", false,
     "F4002893BFFFFA49249249249484210842108421084213FFFF492492492492908421084210842108427FFFFFFFFFFFFFFFE924924924"
     "924924924924924924924924924924924924925210842108421084210842108421084210842108421084210842108421084210842108"
     "42108421084FFFFFFFFFFFFFFFFD24924924924924924924924924924924924924924924924A42108421084210842108421084210842"
     "108421084210842108421084210842108421084210842109B200AC0C3C65420000030002000003006508",
     1365, 767, kRecordedRate, 244, 40},
    {"monochrome", false, "F40028F36401581878CA84000003000400000300CA10", 1365, 767, kRecordedRate, 244, 40},
    {"4:2:2 field coding", false, "7A0028BCD90078044F132C2000000300200000065080", 1904, 1080, kRecordedRate, 122, 40},
    {"poc type 1 with a cycle", false, "4D0028D0E28A8A0000249F00000300493E0900780227E584000003000400000300CA10", 1920,
     1080, kRecordedRate, 77, 40},
    {"poc type 2, every VUI field before timing", false, "420028D900780227E5FFC0010000DB808080D3800001F48000753042",
     1920, 1080, 60000.0f / 2002.0f, 66, 40},
    {"VUI without timing", false, "640028ACD900780227E58020", 1920, 1080, kNoRate, 100, 40},
    {"no VUI", false, "640028ACD900780227E540", 1920, 1080, kNoRate, 100, 40},
    {"timing with zero ticks", false, "640028ACD900780227E58400000300000300000300CA10", 1920, 1080, kNoRate, 100, 40},
    {"absurd timing", false, "640028ACD900780227E5840000030007FFFFFFFE10", 1920, 1080, kNoRate, 100, 40},
    {"crop all but two rows", false, "420028DA01E0089F802204", 1920, 2, kNoRate, 66, 40},
    {"scaling delta 127", false, "640028AD80FEFFFE02D00F0044FCA8", 1920, 1080, kNoRate, 100, 40},
    {"widest", false, "640028ACD90001000F89E10000030001000003003284", 65520, 16, kRecordedRate, 100, 40},
    {"plain", true, "01016000000300900000030000030078A003C08010E59656692449AE010000030001000003001908", 1920, 1080,
     kRecordedRate, 1, 120},
    {"sub-layers with profiles and levels", true,
     "07016000000300900000030000030078D80001FFFFFFFFFF000003000003005A5A01FFFFFFFFFF00000300000300A003C08010E59656"
     "62B31598ACD248935C020000030002000003003210",
     1920, 1080, kRecordedRate, 1, 120},
    {"sub-layers, ordering of the last only", true,
     "07016000000300900000030000030078D80001FFFFFFFFFF000003000003005A5A01FFFFFFFFFF00000300000300A003C08010E59456"
     "692449AE010000030001000003001908",
     1920, 1080, kRecordedRate, 1, 120},
    {"seven sub-layers", true,
     "0D016000000300900000030000030078FFF001FFFFFFFFFF000003000003005A01FFFFFFFFFF000003000003005A01FFFFFFFFFF0000"
     "03000003005A01FFFFFFFFFF000003000003005A01FFFFFFFFFF000003000003005A01FFFFFFFFFF000003000003005AA003C08010E5"
     "965662B31598ACC5662B3159A49126B8040000030004000003006420",
     1920, 1080, kRecordedRate, 1, 120},
    {"conformance window 4:2:0", true,
     "01016000000300900000030000030078A002AC80301D565959A49126B8040000030004000003006420", 1366, 766, kRecordedRate, 1,
     120},
    {"conformance window 4:2:2", true,
     "01046000000300900000030000030078B002AC80301AA59656692449AE010000030001000003001908", 1366, 766, kRecordedRate, 4,
     120},
    {"conformance window, separate planes", true,
     "0104600000030090000003000003007892005590060354B2CACD248935C02000000300200000030321", 1367, 766, kRecordedRate, 4,
     120},
    {"conformance window, monochrome", true,
     "01046000000300900000030000030078C00AB200C06A965959A49126B8040000030004000003006420", 1367, 766, kRecordedRate, 4,
     120},
    {"everything before the timing", true,
     "01016000000300900000030000030078A003C08010E5965669244B89142450914245091424509142451448A122848A122848A122848A"
     "1228A24509142450914245091424509145122848A122848A122848A122848A122848A122848A122848A122848A122848A122848A1228"
     "48A122848A122848A122848A122848A122848A2891424509142450914245091424509142450914245091424509142450914245091424"
     "50914245091424509142450914245091424509142451448A122848A122848A122848A122848A122848A122848A122848A122848A1228"
     "48A122848A122848A122848A122848A122848A122848A1228A3C48A122848A122848A122848A122848A122848A122848A122848A1228"
     "48A122848A122848A122848A122848A122848A122848A122848A1228A3C48A122848A122848A122848A122848A122848A122848A1228"
     "48A122848A122848A122848A122848A122848A122848A122848A122848A1228A3C48A122848A122848A122848A122848A122848A1228"
     "48A122848A122848A122848A122848A122848A122848A122848A122848A122848A1228A3C48A122848A122848A122848A122848A1228"
     "48A122848A122848A122848A122848A122848A122848A122848A122848A122848A122848A1228BBBD48D6BDFD0F623C87FF80080005F"
     "A848484F11224A5800001F480003A98040",
     1920, 1080, 30000.0f / 1001.0f, 1, 120},
    {"VUI without timing", true, "01016000000300900000030000030078A003C08010E59656692449AE0020", 1920, 1080, kNoRate, 1,
     120},
    {"no VUI", true, "01016000000300900000030000030078A003C08010E59656692449AC80", 1920, 1080, kNoRate, 1, 120},
    {"largest", true, "01016000000300900000030000030078A00008000003000400019656692449AE010000030001000003001908", 65535,
     65535, kRecordedRate, 1, 120},
    {"timing cut off: size only", true, "01016000000300900000030000030078A003C08010E5965669244988D6BDFD0EE0", 1920,
     1080, kNoRate, 1, 120},
    // The largest POC deltas and one more: past the size, a bad field only costs the rate.
    {"delta_poc_s0_minus1 32767", true,
     "01016000000300900000030000030078A003C08010E5965669244992400020003B8040000003004000000642", 1920, 1080,
     kRecordedRate, 1, 120},
    {"delta_poc_s0_minus1 32768", true,
     "01016000000300900000030000030078A003C08010E5965669244992400020007B8040000003004000000642", 1920, 1080, kNoRate, 1,
     120},
    {"delta_poc_s1_minus1 32767", true,
     "01016000000300900000030000030078A003C08010E5965669244992580008000B8040000003004000000642", 1920, 1080,
     kRecordedRate, 1, 120},
    {"delta_poc_s1_minus1 32768", true,
     "01016000000300900000030000030078A003C08010E5965669244992580008001B8040000003004000000642", 1920, 1080, kNoRate, 1,
     120},
    {"abs_delta_rps_minus1 32767", true,
     "01016000000300900000030000030078A003C08010E596566924499A5F00008000EE010000030001000003001908", 1920, 1080,
     kRecordedRate, 1, 120},
    {"abs_delta_rps_minus1 32768", true,
     "01016000000300900000030000030078A003C08010E596566924499A5F00008001EE010000030001000003001908", 1920, 1080,
     kNoRate, 1, 120},
};

// Sets refused whole: no size is taken from them.
const struct {
    const char* name;
    bool bH265;
    const char* hex;
} kRefused[] = {
    {"chroma_format_idc 4", false, "6400289736401E0089F9610000030001000003003284"},
    {"scaling delta 128", false, "640028AD8040006C803C0113F2C20000030002000003006508"},
    {"pic_order_cnt_type 3", false, "640028AC90803C0113F2C20000030002000003006508"},
    {"poc cycle of 256", false,
     "4D0028D0E280202924924924924924924924924924924924924924924924924924924924924924924924924924924924924924924924"
     "924924924924924924924924924924924924924924924924924924924924924924924924924924924924924924924924924401E0089F"
     "96100000030010000003032840"},
    {"65536 wide", false, "640028ACD900010000226840000003004000000CA1"},
    {"largest exp-Golomb width", false, "640028ACD900000300003FFFFFFFC089F9610000030001000003003284"},
    {"crop the whole width", false, "640028ACD90078022700783E100000030010000003032840"},
    {"crop the whole height", false, "420028DA01E0089F802214"},
    {"crop offsets near 2^31", false,
     "640028ACD900780227C0000003004000000300000300000300800000030084000003000400000300CA10"},
    {"chroma_format_idc 4", true, "010160000003009000000300000300789400F020043965959A49126B8040000003004000000642"},
    {"width 0", true, "01016000000300900000030000030078A8010E59656692449AE0100000030010000003019080"},
    {"65536 wide", true, "01016000000300900000030000030078A000080008010E59656692449AE0100000030010000003019080"},
    {"largest exp-Golomb height", true,
     "01016000000300900000030000030078A003C08000000300FFFFFFFF65959A49126B8040000003004000000642"},
    {"window as wide as the picture", true,
     "01016000000300900000030000030078A003C08010E601E100F0F9656692449AE0100000030010000003019080"},
    {"huge window", true,
     "01016000000300900000030000030078A003C08010E78000000300FFFFFFFFE5959A49126B8040000003004000000642"},
    // seq_parameter_set_id with 32 leading zeros.
    {"overlong id", false, "64002800000000 80FFFF"},
    {"overlong id after profile_tier_level", true, "01 00000000000000000000000000000000 80FF"},
};

// Every prefix of a readable set is refused, or read with the full size (the rate may be cut).
TEST(MediaSps, ReadableSetsAtEveryLength)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const Bytes sps = row.Sps();
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
    for (const auto& row : kRefused) {
        JXSpsInfo info;
        EXPECT_EQ(Parse(row.bH265, HexBytes(row.hex), &info), JX_ERR_CONTENT) << row.name;
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

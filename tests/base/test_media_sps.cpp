// JXParseH264SPS and JXParseH265SPS: sets written by libx264 and libx265, sets
// built field by field for what those encoders never write, and hostile input.
#include "JXH265Head.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

struct Recorded {
    const char* file;
    bool bH265;
    uint16_t width;
    uint16_t height;
    uint8_t profile;
};

const Recorded kRecorded[] = {
    {"h264_high_1920x1080.h264", false, 1920, 1080, 100},
    {"h264_high_2592x1944.h264", false, 2592, 1944, 100},
    {"h264_high_1280x720.h264", false, 1280, 720, 100},
    {"h264_baseline_352x288.h264", false, 352, 288, 66},
    {"h264_baseline_640x360.h264", false, 640, 360, 66},
    {"h264_high_1366x768.h264", false, 1366, 768, 100},
    {"h264_high422_1366x766.h264", false, 1366, 766, 122},
    {"h264_high444_1365x767.h264", false, 1365, 767, 244},
    {"h264_high_gray_1365x767.h264", false, 1365, 767, 100},
    {"h264_interlaced_1920x1080.h264", false, 1920, 1080, 100},
    {"h265_main_1920x1080.h265", true, 1920, 1080, 1},
    {"h265_main_2592x1944.h265", true, 2592, 1944, 1},
    {"h265_main_1366x766.h265", true, 1366, 766, 1},
    {"h265_main_640x360.h265", true, 640, 360, 1},
    {"h265_sublayers_1280x720.h265", true, 1280, 720, 1},
    {"h265_main444_1365x767.h265", true, 1365, 767, 4},
};

TEST(MediaSps, RecordedSetsGiveSizeAndFrameRate)
{
    for (const Recorded& r : kRecorded) {
        Bytes sps = RecordedSps(r.file, r.bH265);
        ASSERT_FALSE(sps.empty()) << r.file;
        JXSpsInfo info;
        ASSERT_EQ(Parse(r.bH265, sps, &info), JX_OK) << r.file;
        EXPECT_EQ(info.nWidth, r.width) << r.file;
        EXPECT_EQ(info.nHeight, r.height) << r.file;
        EXPECT_EQ(info.fFPS, 25.0f) << r.file;
        EXPECT_EQ(info.nProfile, r.profile) << r.file;
    }
}

TEST(MediaSps, RecordedLevels)
{
    JXSpsInfo info;
    ASSERT_EQ(Parse(false, RecordedSps("h264_high_1920x1080.h264", false), &info), JX_OK);
    EXPECT_EQ(info.nLevel, 40);                  // level 4.0
    ASSERT_EQ(Parse(true, RecordedSps("h265_main_1920x1080.h265", true), &info), JX_OK);
    EXPECT_EQ(info.nLevel, 120);                 // level 4 (30 x 4)
}

// Every prefix of every recorded SPS: refused, or read with the full set's size
// (the frame rate may be cut off); once a prefix reads, every longer one does.
TEST(MediaSps, TruncatedAtEveryLength)
{
    for (const Recorded& r : kRecorded) {
        Bytes sps = RecordedSps(r.file, r.bH265);
        bool bRead = false;
        for (size_t n = 0; n <= sps.size(); ++n) {
            Bytes cut(sps.begin(), sps.begin() + static_cast<long>(n));
            JXSpsInfo info;
            int32_t nRet = Parse(r.bH265, cut, &info);
            if (nRet != JX_OK) {
                EXPECT_EQ(nRet, JX_ERR_CONTENT) << r.file << " n=" << n;
                EXPECT_FALSE(bRead) << r.file << " n=" << n;
                EXPECT_EQ(info.nWidth, 0) << "failed parse left a size, " << r.file;
                continue;
            }
            bRead = true;
            EXPECT_EQ(info.nWidth, r.width) << r.file << " n=" << n;
            EXPECT_EQ(info.nHeight, r.height) << r.file << " n=" << n;
            EXPECT_TRUE(info.fFPS == 0.0f || info.fFPS == 25.0f) << r.file << " n=" << n;
        }
        EXPECT_TRUE(bRead) << r.file;
    }
}

// The libx264 1080p SPS carries 00 00 03 inside its timing information; cut
// just after that 03 the reader must drop it and read the same as cut before it.
TEST(MediaSps, EmulationPreventionAtTheEnd)
{
    Bytes sps = RecordedSps("h264_high_1920x1080.h264", false);
    size_t nAt = 0;
    for (size_t i = 2; i < sps.size(); ++i) {
        if (sps[i - 2] == 0 && sps[i - 1] == 0 && sps[i] == 3) {
            nAt = i;
            break;
        }
    }
    ASSERT_NE(nAt, 0u) << "the recorded SPS no longer holds 00 00 03";
    Bytes withEP(sps.begin(), sps.begin() + static_cast<long>(nAt) + 1);
    Bytes without(sps.begin(), sps.begin() + static_cast<long>(nAt));
    JXSpsInfo a;
    JXSpsInfo b;
    ASSERT_EQ(Parse(false, withEP, &a), JX_OK);
    ASSERT_EQ(Parse(false, without, &b), JX_OK);
    EXPECT_EQ(a.nWidth, 1920);
    EXPECT_EQ(a.nHeight, 1080);
    EXPECT_EQ(a.fFPS, b.fFPS);
}

// ---------------------------------------------------------------------------
// H.264 SPS built field by field (7.3.2.1.1, E.1.1).

struct H264Sps {
    uint32_t profile = 100;
    uint32_t chroma = 1;
    uint32_t separatePlanes = 0;
    bool scaling = false;
    std::vector<std::vector<int>> lists;         // per list: empty = absent, else its deltas
    uint32_t pocType = 0;
    std::vector<int> pocCycle;
    uint64_t widthMbsMinus1 = 119;
    uint64_t heightUnitsMinus1 = 67;
    uint32_t frameMbsOnly = 1;
    bool crop = true;
    uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 4;
    bool vui = true;
    bool extendedSar = false;
    bool videoSignal = false;
    bool chromaLoc = false;
    bool timing = true;
    uint32_t units = 1;
    uint32_t scale = 50;

    Bytes Build() const
    {
        CBitWriter w;
        w.Bits(8, profile);
        w.Bits(8, 0);
        w.Bits(8, 40);
        w.UE(0);                                 // seq_parameter_set_id
        bool bChroma = profile == 100 || profile == 110 || profile == 122 || profile == 244 ||
                       profile == 44 || profile == 83 || profile == 86 || profile == 118 ||
                       profile == 128 || profile == 138 || profile == 139 || profile == 134 ||
                       profile == 135;
        if (bChroma) {
            w.UE(chroma);
            if (chroma == 3)
                w.Bit(static_cast<int>(separatePlanes));
            w.UE(0);
            w.UE(0);
            w.Bit(0);
            w.Bit(scaling);
            if (scaling) {
                size_t nLists = chroma != 3 ? 8 : 12;
                for (size_t i = 0; i < nLists; ++i) {
                    bool bPresent = i < lists.size() && !lists[i].empty();
                    w.Bit(bPresent);
                    if (bPresent)
                        for (int d : lists[i])
                            w.SE(d);
                }
            }
        }
        w.UE(0);                                 // log2_max_frame_num_minus4
        w.UE(pocType);
        if (pocType == 0) {
            w.UE(2);
        } else if (pocType == 1) {
            w.Bit(0);
            w.SE(-3);
            w.SE(5);
            w.UE(pocCycle.size());
            for (int v : pocCycle)
                w.SE(v);
        }
        w.UE(3);                                 // max_num_ref_frames
        w.Bit(0);
        w.UE(widthMbsMinus1);
        w.UE(heightUnitsMinus1);
        w.Bit(static_cast<int>(frameMbsOnly));
        if (!frameMbsOnly)
            w.Bit(1);
        w.Bit(1);
        w.Bit(crop);
        if (crop) {
            w.UE(cropLeft);
            w.UE(cropRight);
            w.UE(cropTop);
            w.UE(cropBottom);
        }
        w.Bit(vui);
        if (vui) {
            w.Bit(extendedSar);
            if (extendedSar) {
                w.Bits(8, 255);
                w.Bits(16, 4);
                w.Bits(16, 3);
            }
            w.Bit(0);                            // overscan
            w.Bit(videoSignal);
            if (videoSignal) {
                w.Bits(3, 5);
                w.Bit(1);
                w.Bit(1);
                w.Bits(24, 0x010101);
            }
            w.Bit(chromaLoc);
            if (chromaLoc) {
                w.UE(1);
                w.UE(2);
            }
            w.Bit(timing);
            if (timing) {
                w.Bits(32, units);
                w.Bits(32, scale);
                w.Bit(1);
            }
            w.Bit(0);                            // nal_hrd
            w.Bit(0);                            // vcl_hrd
            w.Bit(0);                            // pic_struct_present
            w.Bit(0);                            // bitstream_restriction
        }
        return w.Payload();
    }
};

std::vector<int> Repeat(int nCount, int nDelta)
{
    return std::vector<int>(static_cast<size_t>(nCount), nDelta);
}

TEST(MediaSps, H264FieldsBeforeTheSize)
{
    struct Case {
        const char* name;
        H264Sps sps;
        uint16_t width;
        uint16_t height;
        float fps;
    };
    std::vector<Case> cases;
    cases.push_back({"plain 1080p", H264Sps(), 1920, 1080, 25.0f});
    {
        // 4x4 lists: one of 16 deltas, one "use the default" (next scale 0 at once);
        // 8x8: 64 deltas that swing, and one that ends early with a zero scale.
        H264Sps s;
        s.scaling = true;
        // 8 deltas of -1 bring the scale from 8 to 0: that list ends early too.
        s.lists = {Repeat(16, 1), {-8}, {}, {}, {}, Repeat(8, -1), {}, {}};
        std::vector<int> swing;
        for (int i = 0; i < 64; ++i)
            swing.push_back(i % 2 ? -37 : 40);
        s.lists[6] = swing;
        std::vector<int> early = Repeat(10, 2);
        early.push_back(-(8 + 20));              // 28 - 28 = 0: the list stops here
        s.lists[7] = early;
        cases.push_back({"scaling lists 4:2:0", s, 1920, 1080, 25.0f});
    }
    {
        // 4:4:4 reads 12 lists; separate colour planes crop in luma samples.
        H264Sps s;
        s.profile = 244;
        s.chroma = 3;
        s.separatePlanes = 1;
        s.scaling = true;
        for (int i = 0; i < 12; ++i)
            s.lists.push_back(Repeat(i < 6 ? 16 : 64, i % 3));
        s.widthMbsMinus1 = 85;
        s.heightUnitsMinus1 = 47;
        s.cropRight = 11;
        s.cropBottom = 1;
        cases.push_back({"4:4:4 separate planes, 12 lists", s, 1365, 767, 25.0f});
    }
    {
        H264Sps s;
        s.profile = 244;
        s.chroma = 0;                            // monochrome: crop unit 1
        s.widthMbsMinus1 = 85;
        s.heightUnitsMinus1 = 47;
        s.cropRight = 11;
        s.cropBottom = 1;
        cases.push_back({"monochrome", s, 1365, 767, 25.0f});
    }
    {
        H264Sps s;
        s.profile = 122;
        s.chroma = 2;                            // 4:2:2 fields: units 2 x (1 x 2)
        s.frameMbsOnly = 0;
        s.heightUnitsMinus1 = 33;                // 34 x 32 = 1088
        s.cropBottom = 4;
        s.cropRight = 8;
        cases.push_back({"4:2:2 field coding", s, 1904, 1080, 25.0f});
    }
    {
        H264Sps s;
        s.profile = 77;                          // Main: no chroma fields
        s.pocType = 1;
        s.pocCycle = {1, -2, 300000, -300000};
        cases.push_back({"poc type 1 with a cycle", s, 1920, 1080, 25.0f});
    }
    {
        H264Sps s;
        s.profile = 66;
        s.pocType = 2;
        s.extendedSar = true;
        s.videoSignal = true;
        s.chromaLoc = true;
        s.units = 1001;
        s.scale = 60000;
        cases.push_back({"poc type 2, every VUI field before timing", s, 1920, 1080, 60000.0f / 2002.0f});
    }
    {
        H264Sps s;
        s.timing = false;
        cases.push_back({"VUI without timing", s, 1920, 1080, 0.0f});
    }
    {
        H264Sps s;
        s.vui = false;
        cases.push_back({"no VUI", s, 1920, 1080, 0.0f});
    }
    {
        H264Sps s;
        s.units = 0;
        cases.push_back({"timing with zero ticks", s, 1920, 1080, 0.0f});
    }
    {
        H264Sps s;
        s.scale = 0xFFFFFFFFu;                   // two billion frames a second is no frame rate
        cases.push_back({"absurd timing", s, 1920, 1080, 0.0f});
    }
    {
        H264Sps s;
        s.widthMbsMinus1 = 4095;                 // 65536 wide, cropped to the largest that fits
        s.heightUnitsMinus1 = 0;
        s.cropRight = 8;
        s.cropBottom = 0;
        cases.push_back({"widest", s, 65520, 16, 25.0f});
    }
    for (const Case& c : cases) {
        JXSpsInfo info;
        ASSERT_EQ(Parse(false, c.sps.Build(), &info), JX_OK) << c.name;
        EXPECT_EQ(info.nWidth, c.width) << c.name;
        EXPECT_EQ(info.nHeight, c.height) << c.name;
        EXPECT_FLOAT_EQ(info.fFPS, c.fps) << c.name;
        EXPECT_EQ(info.nProfile, c.sps.profile) << c.name;
    }
}

TEST(MediaSps, H264ImpossibleSetsAreRefused)
{
    struct Case {
        const char* name;
        H264Sps sps;
    };
    std::vector<Case> cases;
    H264Sps s;
    s.chroma = 4;
    cases.push_back({"chroma_format_idc 4", s});
    s = H264Sps();
    s.scaling = true;
    s.lists = {{128}};
    cases.push_back({"scaling delta 128", s});
    s = H264Sps();
    s.pocType = 3;
    cases.push_back({"pic_order_cnt_type 3", s});
    s = H264Sps();
    s.profile = 77;
    s.pocType = 1;
    s.pocCycle = Repeat(256, 1);
    cases.push_back({"poc cycle of 256", s});
    s = H264Sps();
    s.widthMbsMinus1 = 4095;
    s.crop = false;
    cases.push_back({"65536 wide", s});
    s = H264Sps();
    s.widthMbsMinus1 = 0xFFFFFFFEull;
    cases.push_back({"largest exp-Golomb width", s});
    s = H264Sps();
    s.cropLeft = 960;
    s.cropRight = 0;
    s.cropBottom = 0;
    cases.push_back({"crop the whole width", s});
    s = H264Sps();
    s.cropTop = 0x7FFFFFFF;
    s.cropBottom = 0x7FFFFFFF;
    cases.push_back({"crop offsets near 2^31", s});
    for (const Case& c : cases) {
        JXSpsInfo info;
        EXPECT_EQ(Parse(false, c.sps.Build(), &info), JX_ERR_CONTENT) << c.name;
        EXPECT_EQ(info.nWidth, 0) << c.name;
    }
}

TEST(MediaSps, HostileBytes)
{
    JXSpsInfo info;
    // seq_parameter_set_id with 32 leading zeros.
    Bytes huge = {100, 0, 40, 0, 0, 0, 0, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(JXParseH264SPS(huge.data(), static_cast<int32_t>(huge.size()), &info), JX_ERR_CONTENT);
    // The same after the H.265 profile_tier_level.
    // (one byte of ids and flags, twelve of profile_tier_level).
    const Bytes huge265 = {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF};
    EXPECT_EQ(JXParseH265SPS(huge265.data(), static_cast<int32_t>(huge265.size()), &info), JX_ERR_CONTENT);

    for (size_t n = 0; n <= 64; ++n) {
        Bytes ff(n, 0xFF);
        Bytes zero(n, 0x00);
        JXSpsInfo a;
        // All ones read as profile 255, every ue(v) 0 and a 16x16 picture; the
        // timing of 2^32-1 over twice that is half a frame a second.
        int32_t nRet = JXParseH264SPS(ff.data(), static_cast<int32_t>(n), &a);
        if (nRet == JX_OK) {
            EXPECT_EQ(a.nWidth, 16);
            EXPECT_EQ(a.nHeight, 16);
            EXPECT_TRUE(a.fFPS == 0.0f || a.fFPS == 0.5f) << n;
        } else {
            EXPECT_EQ(nRet, JX_ERR_CONTENT);
        }
        // sps_max_sub_layers_minus1 7 does not exist.
        EXPECT_EQ(JXParseH265SPS(ff.data(), static_cast<int32_t>(n), &a), JX_ERR_CONTENT) << n;
        EXPECT_EQ(JXParseH264SPS(zero.data(), static_cast<int32_t>(n), &a), JX_ERR_CONTENT) << n;
        EXPECT_EQ(JXParseH265SPS(zero.data(), static_cast<int32_t>(n), &a), JX_ERR_CONTENT) << n;
    }
    Bytes ff(64, 0xFF);
    ASSERT_EQ(JXParseH264SPS(ff.data(), 64, &info), JX_OK);
    EXPECT_EQ(info.fFPS, 0.5f);

    EXPECT_EQ(JXParseH264SPS(nullptr, 10, &info), JX_ERR_ARG);
    EXPECT_EQ(JXParseH265SPS(nullptr, 10, &info), JX_ERR_ARG);
    EXPECT_EQ(JXParseH264SPS(ff.data(), 64, nullptr), JX_ERR_ARG);
    EXPECT_EQ(JXParseH265SPS(ff.data(), 64, nullptr), JX_ERR_ARG);
    EXPECT_EQ(JXParseH264SPS(ff.data(), -5, &info), JX_ERR_CONTENT);
    EXPECT_EQ(JXParseH265SPS(ff.data(), -5, &info), JX_ERR_CONTENT);
}

// ---------------------------------------------------------------------------
// H.265 SPS built field by field (7.3.2.2.1, 7.3.3, 7.3.4, 7.3.7, E.2.1).

struct H265Sps {
    uint32_t subLayersMinus1 = 0;
    std::vector<int> subProfile;                 // sub_layer_profile_present_flag per sub-layer
    std::vector<int> subLevel;
    uint32_t profile = 1;
    uint32_t chroma = 1;
    uint32_t separatePlanes = 0;
    uint64_t width = 1920;
    uint64_t height = 1080;
    bool window = false;
    uint64_t winLeft = 0, winRight = 0, winTop = 0, winBottom = 0;
    bool orderingAll = true;
    bool scaling = false;
    bool pcm = false;
    bool refSets = false;
    bool longTerm = false;
    bool vui = true;
    bool vuiExtras = false;
    bool timing = true;
    uint32_t units = 1;
    uint32_t scale = 25;

    Bytes Build() const
    {
        CBitWriter w;
        w.Bits(4, 0);
        w.Bits(3, subLayersMinus1);
        w.Bit(1);
        w.Bits(3, 0);                            // profile space, tier
        w.Bits(5, profile);
        w.Bits(32, 0x60000000);
        w.Bits(4, 0x9);
        w.Bits(44, 0);
        w.Bits(8, 120);
        for (uint32_t i = 0; i < subLayersMinus1; ++i) {
            w.Bit(subProfile.at(i));
            w.Bit(subLevel.at(i));
        }
        if (subLayersMinus1 > 0)
            for (uint32_t i = subLayersMinus1; i < 8; ++i)
                w.Bits(2, 0);
        for (uint32_t i = 0; i < subLayersMinus1; ++i) {
            if (subProfile[i]) {
                w.Bits(8, 0x01);
                w.Bits(40, 0xFFFFFFFFFFull);     // sub-layer profile bits, all ones
                w.Bits(40, 0x0);
            }
            if (subLevel[i])
                w.Bits(8, 90);
        }
        w.UE(0);                                 // sps_seq_parameter_set_id
        w.UE(chroma);
        if (chroma == 3)
            w.Bit(static_cast<int>(separatePlanes));
        w.UE(width);
        w.UE(height);
        w.Bit(window);
        if (window) {
            w.UE(winLeft);
            w.UE(winRight);
            w.UE(winTop);
            w.UE(winBottom);
        }
        w.UE(0);
        w.UE(0);
        w.UE(4);                                 // log2_max_pic_order_cnt_lsb_minus4: 8 bits
        w.Bit(orderingAll);
        for (uint32_t i = orderingAll ? 0 : subLayersMinus1; i <= subLayersMinus1; ++i) {
            w.UE(4);
            w.UE(2);
            w.UE(5);
        }
        w.UE(0);
        w.UE(3);
        w.UE(0);
        w.UE(3);
        w.UE(1);
        w.UE(1);
        w.Bit(scaling);
        if (scaling) {
            w.Bit(1);                            // sps_scaling_list_data_present_flag
            for (int sizeId = 0; sizeId < 4; ++sizeId) {
                for (int matrixId = 0; matrixId < 6; matrixId += (sizeId == 3) ? 3 : 1) {
                    bool bExplicit = (matrixId % 2) == 0;
                    w.Bit(bExplicit);
                    if (!bExplicit) {
                        w.UE(1);                 // scaling_list_pred_matrix_id_delta
                        continue;
                    }
                    int nCoefs = sizeId == 0 ? 16 : 64;
                    if (sizeId > 1)
                        w.SE(-7);
                    for (int i = 0; i < nCoefs; ++i)
                        w.SE(i % 2 ? 5 : -4);
                }
            }
        }
        w.Bit(1);                                // amp
        w.Bit(1);                                // sao
        w.Bit(pcm);
        if (pcm) {
            w.Bits(4, 7);
            w.Bits(4, 7);
            w.UE(0);
            w.UE(1);
            w.Bit(1);
        }
        if (refSets) {
            w.UE(3);
            // Set 0: S0 = {-1, -3}, S1 = {+1}.
            w.UE(2);
            w.UE(1);
            w.UE(0), w.Bit(1);
            w.UE(1), w.Bit(1);
            w.UE(0), w.Bit(1);
            // Set 1 from set 0 with deltaRps +1: candidates -1+1 = 0 (dropped),
            // -3+1 = -2, +1 (deltaRps), 1+1 = 2: S0 = {-2}, S1 = {1, 2}; three
            // pictures although four flags were read.
            w.Bit(1);                            // inter_ref_pic_set_prediction_flag
            w.Bit(0);                            // delta_rps_sign
            w.UE(0);                             // abs_delta_rps_minus1
            for (int j = 0; j < 4; ++j)
                w.Bit(1);                        // used_by_curr_pic_flag
            // Set 2 from set 1 (three pictures: four entries), with deltaRps -2
            // and use_delta_flag read where used_by_curr_pic_flag is 0.
            w.Bit(1);
            w.Bit(1);
            w.UE(1);
            w.Bit(0), w.Bit(0);
            w.Bit(0), w.Bit(1);
            w.Bit(1);
            w.Bit(1);
        } else {
            w.UE(0);
        }
        w.Bit(longTerm);
        if (longTerm) {
            w.UE(2);
            w.Bits(8, 17), w.Bit(1);
            w.Bits(8, 200), w.Bit(0);
        }
        w.Bit(1);                                // sps_temporal_mvp_enabled_flag
        w.Bit(1);                                // strong_intra_smoothing_enabled_flag
        w.Bit(vui);
        if (vui) {
            w.Bit(vuiExtras);                    // aspect ratio
            if (vuiExtras) {
                w.Bits(8, 255);
                w.Bits(16, 16);
                w.Bits(16, 11);
            }
            w.Bit(vuiExtras);                    // overscan
            if (vuiExtras)
                w.Bit(1);
            w.Bit(vuiExtras);                    // video signal type
            if (vuiExtras) {
                w.Bits(3, 5);
                w.Bit(0);
                w.Bit(1);
                w.Bits(24, 0x090909);
            }
            w.Bit(vuiExtras);                    // chroma location
            if (vuiExtras) {
                w.UE(0);
                w.UE(0);
            }
            w.Bit(0);
            w.Bit(0);
            w.Bit(0);
            w.Bit(vuiExtras);                    // default display window
            if (vuiExtras) {
                w.UE(8);
                w.UE(8);
                w.UE(4);
                w.UE(4);
            }
            w.Bit(timing);
            if (timing) {
                w.Bits(32, units);
                w.Bits(32, scale);
                w.Bit(0);
                w.Bit(0);
            }
            w.Bit(0);                            // bitstream_restriction_flag
        }
        w.Bit(0);                                // sps_extension_present_flag
        return w.Payload();
    }
};

TEST(MediaSps, H265FieldsBeforeTheSizeAndTheTiming)
{
    struct Case {
        const char* name;
        H265Sps sps;
        uint16_t width;
        uint16_t height;
        float fps;
    };
    std::vector<Case> cases;
    cases.push_back({"plain", H265Sps(), 1920, 1080, 25.0f});
    {
        H265Sps s;
        s.subLayersMinus1 = 3;
        s.subProfile = {1, 0, 1};
        s.subLevel = {1, 1, 0};
        s.orderingAll = true;
        cases.push_back({"sub-layers with profiles and levels", s, 1920, 1080, 25.0f});
        s.orderingAll = false;
        cases.push_back({"sub-layers, ordering of the last only", s, 1920, 1080, 25.0f});
    }
    {
        H265Sps s;
        s.subLayersMinus1 = 6;
        s.subProfile = {1, 1, 1, 1, 1, 1};
        s.subLevel = {1, 1, 1, 1, 1, 1};
        cases.push_back({"seven sub-layers", s, 1920, 1080, 25.0f});
    }
    {
        H265Sps s;
        s.width = 1368;
        s.height = 768;
        s.window = true;
        s.winRight = 1;
        s.winBottom = 1;
        cases.push_back({"conformance window 4:2:0", s, 1366, 766, 25.0f});
    }
    {
        H265Sps s;
        s.profile = 4;
        s.chroma = 2;                            // 4:2:2: units 2 x 1
        s.width = 1368;
        s.height = 768;
        s.window = true;
        s.winLeft = 1;
        s.winTop = 1;
        s.winBottom = 1;
        cases.push_back({"conformance window 4:2:2", s, 1366, 766, 25.0f});
        s.chroma = 3;
        s.separatePlanes = 1;                    // luma samples
        cases.push_back({"conformance window, separate planes", s, 1367, 766, 25.0f});
        s.chroma = 0;
        cases.push_back({"conformance window, monochrome", s, 1367, 766, 25.0f});
    }
    {
        H265Sps s;
        s.scaling = true;
        s.pcm = true;
        s.refSets = true;
        s.longTerm = true;
        s.vuiExtras = true;
        s.units = 1001;
        s.scale = 30000;
        cases.push_back({"everything before the timing", s, 1920, 1080, 30000.0f / 1001.0f});
    }
    {
        H265Sps s;
        s.timing = false;
        cases.push_back({"VUI without timing", s, 1920, 1080, 0.0f});
        s.vui = false;
        cases.push_back({"no VUI", s, 1920, 1080, 0.0f});
    }
    {
        H265Sps s;
        s.width = 65535;
        s.height = 65535;
        cases.push_back({"largest", s, 65535, 65535, 25.0f});
    }
    for (const Case& c : cases) {
        JXSpsInfo info;
        ASSERT_EQ(Parse(true, c.sps.Build(), &info), JX_OK) << c.name;
        EXPECT_EQ(info.nWidth, c.width) << c.name;
        EXPECT_EQ(info.nHeight, c.height) << c.name;
        EXPECT_FLOAT_EQ(info.fFPS, c.fps) << c.name;
        EXPECT_EQ(info.nProfile, c.sps.profile) << c.name;
        EXPECT_EQ(info.nLevel, 120) << c.name;
    }
}

TEST(MediaSps, H265ImpossibleSetsAreRefused)
{
    struct Case {
        const char* name;
        H265Sps sps;
    };
    std::vector<Case> cases;
    H265Sps s;
    s.chroma = 4;
    cases.push_back({"chroma_format_idc 4", s});
    s = H265Sps();
    s.width = 0;
    cases.push_back({"width 0", s});
    s = H265Sps();
    s.width = 65536;
    cases.push_back({"65536 wide", s});
    s = H265Sps();
    s.height = 0xFFFFFFFEull;
    cases.push_back({"largest exp-Golomb height", s});
    s = H265Sps();
    s.window = true;
    s.winLeft = 480;
    s.winRight = 480;
    cases.push_back({"window as wide as the picture", s});
    s = H265Sps();
    s.window = true;
    s.winTop = 0xFFFFFFFEull;
    cases.push_back({"huge window", s});
    for (const Case& c : cases) {
        JXSpsInfo info;
        EXPECT_EQ(Parse(true, c.sps.Build(), &info), JX_ERR_CONTENT) << c.name;
    }
}

// Past the size, a field that cannot be right only costs the frame rate.
TEST(MediaSps, H265UnreadableTailKeepsTheSize)
{
    H265Sps s;
    s.refSets = true;
    Bytes good = s.Build();
    JXSpsInfo info;
    ASSERT_EQ(Parse(true, good, &info), JX_OK);
    EXPECT_EQ(info.fFPS, 25.0f);
    // Cut before the end of the timing: size read, no frame rate.
    Bytes cut(good.begin(), good.begin() + static_cast<long>(good.size() - 12));
    ASSERT_EQ(Parse(true, cut, &info), JX_OK);
    EXPECT_EQ(info.nWidth, 1920);
    EXPECT_EQ(info.nHeight, 1080);
    EXPECT_EQ(info.fFPS, 0.0f);
}

}  // namespace

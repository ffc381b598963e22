// CJXH264Head and CJXH265Head: taking parameter sets, the size they tell, and
// the bytes written in front of key frames for each in-band flag combination.
#include "JXH265Head.h"
#include "JXPacket.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

namespace {

Bytes Concat(std::initializer_list<const Bytes*> parts)
{
    Bytes out;
    for (const Bytes* p : parts) {
        if (p->empty())
            continue;
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), p->begin(), p->end());
    }
    return out;
}

Bytes Written(CJXMediaHead& head, uint16_t nFlags)
{
    Bytes out(static_cast<size_t>(head.GetHeadSize(nFlags)) + 16, 0xEE);
    int32_t n = head.WriteHead(out.data(), nFlags);
    EXPECT_EQ(n, head.GetHeadSize(nFlags)) << "flags " << nFlags;
    for (size_t i = static_cast<size_t>(n); i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "WriteHead wrote past its size, flags " << nFlags;
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

// SetNAL of one recorded NAL unit (header byte(s) included).
int32_t Feed(CJXMediaHead& head, const Bytes& nal, bool bH265)
{
    if (bH265) {
        uint16_t nHeader = static_cast<uint16_t>((nal[0] << 8) | nal[1]);
        return head.SetNAL(nHeader, nal.data() + 2, static_cast<int32_t>(nal.size()) - 2);
    }
    return head.SetNAL(nal[0], nal.data() + 1, static_cast<int32_t>(nal.size()) - 1);
}

TEST(MediaHead, H264CollectsAndWritesTheSets)
{
    Bytes file = LoadMedia("h264_high_1920x1080.h264");
    Bytes sps = FindNal(file, false, 7);
    Bytes pps = FindNal(file, false, 8);
    ASSERT_FALSE(sps.empty());
    ASSERT_FALSE(pps.empty());

    CJXH264Head* pHead = new CJXH264Head();
    EXPECT_EQ(pHead->GetCodec(), JX_CODEC_H264);
    EXPECT_FALSE(pHead->IsReady());
    EXPECT_EQ(pHead->GetHeadSize(0), 0);
    EXPECT_TRUE(Written(*pHead, 0).empty());

    ASSERT_EQ(Feed(*pHead, pps, false), JX_OK);
    EXPECT_FALSE(pHead->IsReady()) << "a PPS alone tells no size";
    ASSERT_EQ(Feed(*pHead, sps, false), JX_OK);
    EXPECT_TRUE(pHead->IsReady());
    EXPECT_EQ(pHead->m_Width, 1920);
    EXPECT_EQ(pHead->m_Height, 1080);
    EXPECT_EQ(pHead->m_FPS, 25.0f);

    // The file is exactly SPS then PPS behind four-byte start codes.
    EXPECT_EQ(Written(*pHead, 0), file);
    const struct {
        uint16_t flags;
        Bytes expected;
    } cases[] = {
        {0x0000, Concat({&sps, &pps})},
        {JX_NAL_FLAG_SPS, Concat({&pps})},
        {JX_NAL_FLAG_PPS, Concat({&sps})},
        {JX_NAL_FLAG_SPS | JX_NAL_FLAG_PPS, Bytes()},
        {JX_NAL_FLAG_VPS, Concat({&sps, &pps})},   // no VPS in H.264: nothing to leave out
        {0x0001, Concat({&sps, &pps})},            // the open-fragment bit is not a set
    };
    for (const auto& c : cases)
        EXPECT_EQ(Written(*pHead, c.flags), c.expected) << "flags " << c.flags;
    EXPECT_EQ(pHead->WriteHead(nullptr, 0), 0);
    pHead->Release();
}

TEST(MediaHead, H264RefusesWhatItCannotKeep)
{
    Bytes file = LoadMedia("h264_high_1920x1080.h264");
    Bytes sps = FindNal(file, false, 7);
    Bytes pps = FindNal(file, false, 8);
    CJXH264Head head;
    ASSERT_EQ(Feed(head, sps, false), JX_OK);
    ASSERT_EQ(Feed(head, pps, false), JX_OK);
    Bytes before = Written(head, 0);

    Bytes big(static_cast<size_t>(CJXH264Head::kMaxSetBytes), 0x11);
    Bytes garbage(8, 0x00);                      // SPS that cannot be read
    struct Case {
        const char* name;
        uint16_t header;
        const uint8_t* data;
        int32_t len;
    } cases[] = {
        {"unreadable SPS", 0x67, garbage.data(), 8},
        {"slice", 0x65, pps.data() + 1, 4},
        {"SEI", 0x06, pps.data() + 1, 4},
        {"access unit delimiter", 0x09, pps.data() + 1, 1},
        {"header wider than a byte", 0x0168, pps.data() + 1, 4},
        {"empty", 0x68, pps.data() + 1, 0},
        {"negative length", 0x68, pps.data() + 1, -1},
        {"null data", 0x68, nullptr, 4},
        {"no room for the header byte", 0x68, big.data(), CJXH264Head::kMaxSetBytes},
    };
    for (const Case& c : cases) {
        EXPECT_LT(head.SetNAL(c.header, c.data, c.len), 0) << c.name;
        EXPECT_EQ(Written(head, 0), before) << c.name;
        EXPECT_EQ(head.m_Width, 1920) << c.name;
        EXPECT_EQ(head.m_Height, 1080) << c.name;
    }
    // The longest set that fits beside its header byte is kept whole.
    EXPECT_EQ(head.SetNAL(0x68, big.data(), CJXH264Head::kMaxSetBytes - 1), JX_OK);
    EXPECT_EQ(head.m_PPSLen, CJXH264Head::kMaxSetBytes);
    EXPECT_EQ(head.GetHeadSize(0), 4 + static_cast<int32_t>(sps.size()) + 4 + CJXH264Head::kMaxSetBytes);
}

TEST(MediaHead, H264NewSpsReplacesTheOld)
{
    CJXH264Head head;
    Bytes sps1080 = FindNal(LoadMedia("h264_high_1920x1080.h264"), false, 7);
    Bytes sps288 = FindNal(LoadMedia("h264_baseline_352x288.h264"), false, 7);
    ASSERT_EQ(Feed(head, sps1080, false), JX_OK);
    ASSERT_EQ(Feed(head, sps288, false), JX_OK);
    EXPECT_EQ(head.m_Width, 352);
    EXPECT_EQ(head.m_Height, 288);
    EXPECT_EQ(Written(head, 0), Concat({&sps288}));
}

TEST(MediaHead, H265CollectsAndWritesInItsOwnOrder)
{
    Bytes file = LoadMedia("h265_main_1366x766.h265");
    Bytes vps = FindNal(file, true, 32);
    Bytes sps = FindNal(file, true, 33);
    Bytes pps = FindNal(file, true, 34);
    ASSERT_FALSE(vps.empty());
    ASSERT_FALSE(sps.empty());
    ASSERT_FALSE(pps.empty());

    CJXH265Head* pHead = new CJXH265Head();
    EXPECT_EQ(pHead->GetCodec(), JX_CODEC_H265);
    EXPECT_FALSE(pHead->IsReady());
    // Given in reverse order, written VPS, SPS, PPS.
    ASSERT_EQ(Feed(*pHead, pps, true), JX_OK);
    ASSERT_EQ(Feed(*pHead, vps, true), JX_OK);
    EXPECT_FALSE(pHead->IsReady());
    ASSERT_EQ(Feed(*pHead, sps, true), JX_OK);
    EXPECT_TRUE(pHead->IsReady());
    EXPECT_EQ(pHead->m_Width, 1366);
    EXPECT_EQ(pHead->m_Height, 766);
    EXPECT_EQ(pHead->m_FPS, 25.0f);
    EXPECT_EQ(pHead->m_SPSLen, static_cast<int32_t>(sps.size())) << "stored with both header bytes";

    EXPECT_EQ(Written(*pHead, 0), file);
    const struct {
        uint16_t flags;
        Bytes expected;
    } cases[] = {
        {0x0000, Concat({&vps, &sps, &pps})},
        {JX_NAL_FLAG_VPS, Concat({&sps, &pps})},
        {JX_NAL_FLAG_SPS, Concat({&vps, &pps})},
        {JX_NAL_FLAG_PPS, Concat({&vps, &sps})},
        {JX_NAL_FLAG_VPS | JX_NAL_FLAG_PPS, Concat({&sps})},
        {JX_NAL_FLAG_VPS | JX_NAL_FLAG_SPS | JX_NAL_FLAG_PPS, Bytes()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Written(*pHead, c.flags), c.expected) << "flags " << c.flags;
    pHead->Release();
}

TEST(MediaHead, H265RefusesWhatItCannotKeep)
{
    Bytes file = LoadMedia("h265_main_1920x1080.h265");
    CJXH265Head head;
    for (int t = 32; t <= 34; ++t)
        ASSERT_EQ(Feed(head, FindNal(file, true, t), true), JX_OK);
    Bytes before = Written(head, 0);

    Bytes big(static_cast<size_t>(CJXH265Head::kMaxSetBytes), 0x11);
    Bytes garbage(8, 0xFF);                      // seven sub-layers plus one: no SPS
    struct Case {
        const char* name;
        uint16_t header;
        const uint8_t* data;
        int32_t len;
    } cases[] = {
        {"unreadable SPS", 0x4201, garbage.data(), 8},
        {"IDR slice", 0x2601, big.data(), 4},
        {"access unit delimiter", 0x4601, big.data(), 1},
        {"SEI", 0x4E01, big.data(), 4},
        {"header byte order swapped", 0x0142, big.data(), 4},
        {"empty", 0x4401, big.data(), 0},
        {"null data", 0x4401, nullptr, 4},
        {"no room for the header bytes", 0x4401, big.data(), CJXH265Head::kMaxSetBytes - 1},
    };
    for (const Case& c : cases) {
        EXPECT_LT(head.SetNAL(c.header, c.data, c.len), 0) << c.name;
        EXPECT_EQ(Written(head, 0), before) << c.name;
        EXPECT_EQ(head.m_Width, 1920) << c.name;
    }
    EXPECT_EQ(head.SetNAL(0x4401, big.data(), CJXH265Head::kMaxSetBytes - 2), JX_OK);
    EXPECT_EQ(head.m_PPSLen, CJXH265Head::kMaxSetBytes);
    EXPECT_EQ(head.m_PPS[0], 0x44);
    EXPECT_EQ(head.m_PPS[1], 0x01);
}

}  // namespace

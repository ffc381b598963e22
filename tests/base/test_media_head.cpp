// CJXH264Head and CJXH265Head: taking parameter sets, the size they tell, and
// the bytes written in front of key frames for each in-band flag combination.
#include "JXH265Head.h"
#include "JXPacket.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace {

constexpr uint8_t kGuardByte = 0xEE;
constexpr size_t kGuardBytes = 16;

// The head's bytes for these flags; fails the test when WriteHead writes other
// than GetHeadSize bytes.
Bytes Written(CJXMediaHead& head, uint16_t nFlags)
{
    Bytes out(static_cast<size_t>(head.GetHeadSize(nFlags)) + kGuardBytes, kGuardByte);
    int32_t n = head.WriteHead(out.data(), nFlags);
    EXPECT_EQ(n, head.GetHeadSize(nFlags)) << "flags " << nFlags;
    for (size_t i = static_cast<size_t>(n); i < out.size(); ++i)
        EXPECT_EQ(out[i], kGuardByte) << "WriteHead wrote past its size, flags " << nFlags;
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

// SetNAL of one recorded NAL unit (header byte(s) included).
int32_t Feed(CJXMediaHead& head, const Bytes& nal, bool bH265)
{
    if (bH265)
        return head.SetNAL(static_cast<uint16_t>((nal[0] << 8) | nal[1]), nal.data() + 2,
                           static_cast<int32_t>(nal.size()) - 2);
    return head.SetNAL(nal[0], nal.data() + 1, static_cast<int32_t>(nal.size()) - 1);
}

std::unique_ptr<CJXVideoHead> NewHead(bool bH265)
{
    if (bH265) return std::make_unique<CJXH265Head>();
    return std::make_unique<CJXH264Head>();
}

// The recorded sets, fed in reverse order (PPS first: it alone tells no size)
// and written VPS, SPS, PPS behind four-byte start codes, the flagged ones left out.
TEST(MediaHead, CollectsAndWritesTheSets)
{
    const uint16_t kV = JX_NAL_FLAG_VPS;
    const uint16_t kS = JX_NAL_FLAG_SPS;
    const uint16_t kP = JX_NAL_FLAG_PPS;
    const struct {
        const char* file;
        bool bH265;
        uint16_t width;
        uint16_t height;
        struct {
            uint16_t flags;
            const char* sets;   // the sets written, in order
        } writes[6];
    } rows[] = {
        {"h264_high_1920x1080.h264",
         false,
         1920,
         1080,
         {{0, "SP"}, {kS, "P"}, {kP, "S"}, {kS | kP, ""}, {kV, "SP"}, {0x0001, "SP"}}},   // 1: open fragment
        {"h265_main_1366x766.h265",
         true,
         1366,
         766,
         {{0, "VSP"}, {kV, "SP"}, {kS, "VP"}, {kP, "VS"}, {kV | kP, "S"}, {kV | kS | kP, ""}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        Bytes file = LoadMedia(row.file);
        std::unique_ptr<CJXVideoHead> head = NewHead(row.bH265);
        EXPECT_EQ(head->GetCodec(), row.bH265 ? JX_CODEC_H265 : JX_CODEC_H264);
        EXPECT_EQ(head->GetHeadSize(0), 0);
        EXPECT_EQ(head->WriteHead(nullptr, 0), 0);
        EXPECT_FALSE(head->IsReady());
        const struct {
            char name;
            int type;   // 0: none in this codec
        } kinds[] = {{'P', row.bH265 ? 34 : 8}, {'V', row.bH265 ? 32 : 0}, {'S', row.bH265 ? 33 : 7}};
        std::map<char, Bytes> sets;
        for (const auto& kind : kinds) {
            if (kind.type == 0) continue;
            Bytes nal = FindNal(file, row.bH265, kind.type);
            ASSERT_FALSE(nal.empty()) << kind.name;
            EXPECT_FALSE(head->IsReady()) << "ready before its SPS";
            ASSERT_EQ(Feed(*head, nal, row.bH265), JX_OK) << kind.name;
            sets[kind.name] = Bytes{0, 0, 0, 1};
            sets[kind.name].insert(sets[kind.name].end(), nal.begin(), nal.end());
        }
        EXPECT_TRUE(head->IsReady());
        EXPECT_EQ(head->m_Width, row.width);
        EXPECT_EQ(head->m_Height, row.height);
        EXPECT_EQ(head->m_FPS, 25.0f);
        EXPECT_EQ(Written(*head, 0), file);   // the file is exactly its sets
        for (const auto& w : row.writes) {
            Bytes expected;
            for (const char* p = w.sets; *p != '\0'; ++p)
                expected.insert(expected.end(), sets[*p].begin(), sets[*p].end());
            EXPECT_EQ(Written(*head, w.flags), expected) << "flags " << w.flags;
        }
    }
}

TEST(MediaHead, NewSpsReplacesTheOld)
{
    CJXH264Head head;
    Bytes sps1080 = FindNal(LoadMedia("h264_high_1920x1080.h264"), false, 7);
    Bytes sps288 = FindNal(LoadMedia("h264_baseline_352x288.h264"), false, 7);
    ASSERT_EQ(Feed(head, sps1080, false), JX_OK);
    ASSERT_EQ(Feed(head, sps288, false), JX_OK);
    EXPECT_EQ(head.m_Width, 352);
    EXPECT_EQ(head.m_Height, 288);
    Bytes expected = {0, 0, 0, 1};
    expected.insert(expected.end(), sps288.begin(), sps288.end());
    EXPECT_EQ(Written(head, 0), expected);
}

// What cannot be kept changes nothing; the longest set that fits beside its
// header byte(s) is kept whole.
TEST(MediaHead, RefusesWhatItCannotKeep)
{
    const int32_t kMax = CJXH264Head::kMaxSetBytes;
    static_assert(CJXH265Head::kMaxSetBytes == CJXH264Head::kMaxSetBytes, "one bound for both rows");
    Bytes big(static_cast<size_t>(kMax), 0x11);
    Bytes zeros(8, 0x00);   // no H.264 SPS
    Bytes ones(8, 0xFF);    // seven sub-layers plus one: no H.265 SPS
    struct Row {
        const char* name;
        bool bH265;
        uint16_t header;
        const uint8_t* data;
        int32_t len;
        int32_t result;
    } rows[] = {
        {"unreadable SPS", false, 0x67, zeros.data(), 8, JX_ERR_CONTENT},
        {"slice", false, 0x65, big.data(), 4, JX_ERR_UNSUPPORTED},
        {"SEI", false, 0x06, big.data(), 4, JX_ERR_UNSUPPORTED},
        {"access unit delimiter", false, 0x09, big.data(), 1, JX_ERR_UNSUPPORTED},
        {"header wider than a byte", false, 0x0168, big.data(), 4, JX_ERR_ARG},
        {"empty", false, 0x68, big.data(), 0, JX_ERR_ARG},
        {"negative length", false, 0x68, big.data(), -1, JX_ERR_ARG},
        {"null data", false, 0x68, nullptr, 4, JX_ERR_ARG},
        {"no room for the header byte", false, 0x68, big.data(), kMax, JX_ERR_ARG},
        {"longest PPS", false, 0x68, big.data(), kMax - 1, JX_OK},
        {"H.265 unreadable SPS", true, 0x4201, ones.data(), 8, JX_ERR_CONTENT},
        {"H.265 IDR slice", true, 0x2601, big.data(), 4, JX_ERR_UNSUPPORTED},
        {"H.265 access unit delimiter", true, 0x4601, big.data(), 1, JX_ERR_UNSUPPORTED},
        {"H.265 SEI", true, 0x4E01, big.data(), 4, JX_ERR_UNSUPPORTED},
        {"H.265 header byte order swapped", true, 0x0142, big.data(), 4, JX_ERR_UNSUPPORTED},
        {"H.265 empty", true, 0x4401, big.data(), 0, JX_ERR_ARG},
        {"H.265 null data", true, 0x4401, nullptr, 4, JX_ERR_ARG},
        {"H.265 no room for the header bytes", true, 0x4401, big.data(), kMax - 1, JX_ERR_ARG},
        {"H.265 longest PPS", true, 0x4401, big.data(), kMax - 2, JX_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const char* pFile = row.bH265 ? "h265_main_1920x1080.h265" : "h264_high_1920x1080.h264";
        Bytes file = LoadMedia(pFile);
        std::unique_ptr<CJXVideoHead> head = NewHead(row.bH265);
        for (int nType : row.bH265 ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8})
            ASSERT_EQ(Feed(*head, FindNal(file, row.bH265, nType), row.bH265), JX_OK);
        ASSERT_EQ(head->SetNAL(row.header, row.data, row.len), row.result);
        EXPECT_EQ(head->m_Width, 1920);
        EXPECT_EQ(head->m_Height, 1080);
        if (row.result != JX_OK) {
            EXPECT_EQ(Written(*head, 0), file);
            continue;
        }
        // The file ends with its PPS: the longest one takes its place, header first.
        Bytes pps = FindNal(file, row.bH265, row.bH265 ? 34 : 8);
        Bytes expected(file.begin(), file.end() - static_cast<long>(pps.size()));
        expected.push_back(static_cast<uint8_t>(row.bH265 ? row.header >> 8 : row.header));
        if (row.bH265) expected.push_back(static_cast<uint8_t>(row.header & 0xFF));
        expected.insert(expected.end(), big.begin(), big.begin() + row.len);
        EXPECT_EQ(Written(*head, 0), expected);
    }
}

}   // namespace

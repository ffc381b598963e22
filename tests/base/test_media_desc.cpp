// CJXMediaDesc from key frames, audio frames and heads, copies; JXParseJpegSize on hostile input.
#include "JXH265Head.h"
#include "JXMediaDesc.h"
#include "JXPacket.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr float kNoRate = 0.0f;
constexpr float kRecordedRate = 25.0f;

struct Releaser {
    template <class T>
    void operator()(T* p) const
    {
        p->Release();
    }
};
using PacketPtr = std::unique_ptr<CPacket, Releaser>;
using DescPtr = std::unique_ptr<CJXMediaDesc, Releaser>;

// A frame holding exactly these bytes.
PacketPtr Frame(uint8_t nType, uint8_t nCodec, const Bytes& data)
{
    PacketPtr p(CPacket::Acquire(static_cast<int32_t>(data.size()) + CPacket::kFrameHead + 32));
    if (!p) return p;
    p->FrameSetType(nType);
    p->FrameSetCodec(nCodec);
    if (!data.empty()) memcpy(p->FrameGetData(), data.data(), data.size());
    p->FrameSetLength(static_cast<uint32_t>(data.size()));
    return p;
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The recorded parameter sets followed by the start of an IDR slice.
Bytes KeyFrame(const std::string& file, bool bH265)
{
    return Cat(LoadMedia(file), bH265 ? Bytes{0, 0, 0, 1, 0x26, 0x01, 0xAF, 0x06, 0xB8, 0x12, 0x34}
                                      : Bytes{0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x21, 0xFF});
}

struct SetupRow {
    std::string name;
    uint8_t type;
    uint8_t codec;
    Bytes data;
    int32_t result;
    uint16_t codecOut = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    float fps = kNoRate;
    uint16_t stampWidth = 0;   // what the depacketizer stamped on the frame
    uint16_t stampHeight = 0;
    float stampFps = kNoRate;
};

std::vector<SetupRow> SetupRows()
{
    std::vector<SetupRow> rows;
    // The stream's codec, or a private code of its range, is kept as it came.
    for (bool bH265 : {false, true}) {
        const char* pFile = bH265 ? "h265_main_2592x1944.h265" : "h264_high_2592x1944.h264";
        for (uint8_t nCodec : bH265 ? Bytes{JX_CODEC_H265, 32, 47} : Bytes{JX_CODEC_H264, 16, 31}) {
            rows.push_back({std::string(pFile) + " codec " + std::to_string(nCodec), JX_FRAME_VIDEO_KEY, nCodec,
                            KeyFrame(pFile, bH265), JX_OK, nCodec, 2592, 1944, kRecordedRate});
        }
    }
    const Bytes key264 = KeyFrame("h264_high_1920x1080.h264", false);
    const Bytes key265 = KeyFrame("h265_main_1920x1080.h265", true);
    const Bytes key720 = KeyFrame("h264_high_1280x720.h264", false);
    const Bytes sps720 = FindNal(LoadMedia("h264_high_1280x720.h264"), false, 7);
    const Bytes jpeg = LoadMedia("jpeg_640x480.jpg");
    const Bytes slice = {0, 0, 0, 1, 0x65, 0x88};
    // Access unit delimiter and SEI before the SPS, all behind three-byte start codes.
    const Bytes shortCodes =
        Cat(Cat({0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x06, 0x05, 0x01, 0x00, 0x80, 0, 0, 1}, sps720), {0, 0, 1, 0x65, 0x88});
    const uint8_t kKey = JX_FRAME_VIDEO_KEY;
    const uint8_t kJpeg = JX_FRAME_JPEG;
    const uint16_t kJ = JX_CODEC_JPEG;
    const int32_t kBad = JX_ERR_CONTENT;
    std::vector<SetupRow> more = {
        {"three-byte start codes, units before the SPS", kKey, JX_CODEC_H264, shortCodes, JX_OK, JX_CODEC_H264, 1280,
         720, kRecordedRate},
        {"jpeg_640x480.jpg", kJpeg, JX_CODEC_JPEG, jpeg, JX_OK, kJ, 640, 480, kNoRate},
        {"frame type JPEG, codec 0", kJpeg, 0, LoadMedia("jpeg_1920x1080.jpg"), JX_OK, kJ, 1920, 1080, kNoRate},
        // The depacketizer's size when the frame has no SPS; the SPS wins when it has one.
        {"stamped size and rate", kKey, JX_CODEC_H264, slice, JX_OK, JX_CODEC_H264, 704, 576, 12.5f, 704, 576, 12.5f},
        {"SPS over the stamps", kKey, JX_CODEC_H264, key720, JX_OK, JX_CODEC_H264, 1280, 720, kRecordedRate, 704, 576,
         12.5f},
        // JPEG has no timing of its own; a rate that is no rate is not taken.
        {"JPEG stamped 30", kJpeg, JX_CODEC_JPEG, jpeg, JX_OK, kJ, 640, 480, 30.0f, 0, 0, 30.0f},
        {"JPEG stamped -5", kJpeg, JX_CODEC_JPEG, jpeg, JX_OK, kJ, 640, 480, kNoRate, 0, 0, -5.0f},
        {"JPEG stamped 1e9", kJpeg, JX_CODEC_JPEG, jpeg, JX_OK, kJ, 640, 480, kNoRate, 0, 0, 1e9f},
        {"stamped width only", kKey, JX_CODEC_H264, slice, kBad, 0, 0, 0, kNoRate, 704, 0},
        {"stamped height only", kKey, JX_CODEC_H264, slice, kBad, 0, 0, 0, kNoRate, 0, 576},
        // Frames that tell no size: only the units before the first slice count.
        {"empty frame", kKey, JX_CODEC_H264, {}, kBad},
        {"no start code", kKey, JX_CODEC_H264, Bytes(300, 0x42), kBad},
        {"start code at the very end", kKey, JX_CODEC_H264, {0x42, 0, 0, 1}, kBad},
        {"SPS header byte alone", kKey, JX_CODEC_H264, {0, 0, 0, 1, 0x67}, kBad},
        {"H.265 header byte alone", kKey, JX_CODEC_H265, {0, 0, 0, 1, 0x42}, kBad},
        {"slice before the SPS", kKey, JX_CODEC_H264, Cat(slice, key264), kBad},
        {"H.265 slice before the SPS", kKey, JX_CODEC_H265, Cat({0, 0, 0, 1, 0x26, 0x01, 0xAF}, key265), kBad},
        {"H.264 sets read as H.265", kKey, JX_CODEC_H265, key264, kBad},
        {"all 0xFF", kKey, JX_CODEC_H264, Bytes(100, 0xFF), kBad},
        {"all zero", kKey, JX_CODEC_H265, Bytes(100, 0x00), kBad},
        {"codec that is no video", kKey, JX_CODEC_PCMA, key264, kBad},
        {"codec 48", kKey, 48, key264, kBad},
        {"codec 15", kKey, 15, key264, kBad},
        {"JPEG without frame header", kJpeg, JX_CODEC_JPEG, {0xFF, 0xD8, 0xFF, 0xD9}, kBad},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

TEST(MediaDesc, SetupFromVideoFrames)
{
    for (const SetupRow& row : SetupRows()) {
        SCOPED_TRACE(row.name);
        PacketPtr pkt = Frame(row.type, row.codec, row.data);
        ASSERT_TRUE(pkt);
        pkt->FrameSetWidth(row.stampWidth);
        pkt->FrameSetHeight(row.stampHeight);
        pkt->FrameSetFPS(row.stampFps);
        DescPtr desc(CJXMediaDesc::Create(1));
        ASSERT_EQ(desc->Setup(pkt.get()), row.result);
        EXPECT_EQ(desc->m_Audio, nullptr);
        if (row.result != JX_OK) {
            EXPECT_EQ(desc->m_Video, nullptr) << "a failed setup must leave the part empty";
            continue;
        }
        ASSERT_NE(desc->m_Video, nullptr);
        EXPECT_EQ(desc->m_Video->nCodec, row.codecOut);
        EXPECT_EQ(desc->m_Video->nWidth, row.width);
        EXPECT_EQ(desc->m_Video->nHeight, row.height);
        EXPECT_EQ(desc->m_Video->fFPS, row.fps);
    }
}

// Only the counted bytes are read (the length clamped to the payload area); a failure keeps the part.
TEST(MediaDesc, ReadsOnlyTheCountedBytes)
{
    Bytes frame = KeyFrame("h264_high_1920x1080.h264", false);
    PacketPtr pkt = Frame(JX_FRAME_VIDEO_KEY, JX_CODEC_H264, frame);
    pkt->FrameSetLength(9);
    DescPtr desc(CJXMediaDesc::Create(1));
    EXPECT_EQ(desc->Setup(pkt.get()), JX_ERR_CONTENT);
    pkt->FrameSetLength(static_cast<uint32_t>(frame.size()));
    EXPECT_EQ(desc->Setup(pkt.get()), JX_OK);
    PacketPtr p(CPacket::Acquire(4096));
    ASSERT_TRUE(p);
    for (int32_t i = 0; i < p->FrameGetCapacity(); ++i)
        p->FrameGetData()[i] = (i % 4 == 3) ? 0x67 : (i % 4 == 2 ? 1 : 0);
    p->FrameSetLength(0xFFFFFFFFu);
    const uint8_t kinds[][2] = {
        {JX_FRAME_VIDEO_KEY, JX_CODEC_H264}, {JX_FRAME_VIDEO_KEY, JX_CODEC_H265}, {JX_FRAME_JPEG, JX_CODEC_JPEG}};
    for (const auto& kind : kinds) {
        p->FrameSetType(kind[0]);
        p->FrameSetCodec(kind[1]);
        EXPECT_EQ(desc->Setup(p.get()), JX_ERR_CONTENT) << int(kind[1]);
    }
    ASSERT_NE(desc->m_Video, nullptr);
    EXPECT_EQ(desc->m_Video->nWidth, 1920);
}

// Audio from frames (G.711's rate when none), refused values, a clone kept apart from the original.
TEST(MediaDesc, AudioFramesAndClones)
{
    DescPtr desc(CJXMediaDesc::Create(1));
    ASSERT_EQ(desc->Setup(Frame(JX_FRAME_AUDIO, JX_CODEC_PCMA, Bytes(160, 0xD5)).get()), JX_OK);
    ASSERT_NE(desc->m_Audio, nullptr);
    EXPECT_EQ(desc->m_Audio->nCodec, JX_CODEC_PCMA);
    EXPECT_EQ(desc->m_Audio->nChannels, 1);
    EXPECT_EQ(desc->m_Audio->nRate, 8000u);
    PacketPtr ulaw = Frame(JX_FRAME_AUDIO, JX_CODEC_PCMU, Bytes(320, 0xFF));
    ulaw->FrameSetFreq(16000);
    ASSERT_EQ(desc->Setup(ulaw.get()), JX_OK);
    EXPECT_EQ(desc->SetupAudio(JX_CODEC_PCMA, 0, 8000), JX_ERR_ARG);
    EXPECT_EQ(desc->SetupAudio(JX_CODEC_PCMA, 1, 0), JX_ERR_ARG);
    EXPECT_EQ(desc->Setup(Frame(7, JX_CODEC_PCMA, Bytes(10, 0)).get()), JX_ERR_ARG);   // neither audio nor video
    ASSERT_EQ(desc->Setup(Frame(JX_FRAME_VIDEO_KEY, JX_CODEC_H265, KeyFrame("h265_main_2592x1944.h265", true)).get()),
              JX_OK);
    DescPtr copy(desc->Clone());
    ASSERT_TRUE(copy && copy->m_Video && copy->m_Audio);
    desc->m_Video->nWidth = 1;
    desc->m_Audio->nRate = 1;
    EXPECT_EQ(copy->m_Video->nCodec, JX_CODEC_H265);
    EXPECT_EQ(copy->m_Video->nWidth, 2592);
    EXPECT_EQ(copy->m_Video->nHeight, 1944);
    EXPECT_EQ(copy->m_Audio->nCodec, JX_CODEC_PCMU);
    EXPECT_EQ(copy->m_Audio->nRate, 16000u);
}

// An audio codec's configuration: only behind an audio part, bounded, cloned
// with it, and cleared when the part is set up again.
TEST(MediaDesc, AudioConfig)
{
    DescPtr desc(CJXMediaDesc::Create(1));
    const uint8_t kConfig[] = {0x14, 0x08};
    EXPECT_EQ(desc->SetAudioConfig(kConfig, 2), JX_ERR_STATE);
    ASSERT_EQ(desc->SetupAudio(JX_CODEC_AAC, 1, 16000), JX_OK);
    EXPECT_EQ(desc->m_Audio->nConfigLen, 0);
    const Bytes tooLong(JX_AUDIO_CONFIG_BYTES + 1, 0x11);
    EXPECT_EQ(desc->SetAudioConfig(tooLong.data(), int32_t(tooLong.size())), JX_ERR_ARG);
    EXPECT_EQ(desc->SetAudioConfig(nullptr, 2), JX_ERR_ARG);
    ASSERT_EQ(desc->SetAudioConfig(kConfig, 2), JX_OK);
    DescPtr copy(desc->Clone());
    ASSERT_TRUE(copy && copy->m_Audio);
    ASSERT_EQ(desc->SetupAudio(JX_CODEC_PCMA, 1, 8000), JX_OK);
    EXPECT_EQ(desc->m_Audio->nConfigLen, 0);
    EXPECT_EQ(copy->m_Audio->nCodec, JX_CODEC_AAC);
    ASSERT_EQ(copy->m_Audio->nConfigLen, 2);
    EXPECT_EQ(Bytes(copy->m_Audio->aConfig, copy->m_Audio->aConfig + 2), Bytes(kConfig, kConfig + 2));
}

// A head that is not ready changes nothing; a ready one of either codec sets the part.
TEST(MediaDesc, SetVideoHead)
{
    DescPtr desc(CJXMediaDesc::Create(1));
    CJXH264Head h264;
    EXPECT_EQ(desc->SetVideoHead(&h264), JX_ERR_STATE);
    EXPECT_EQ(desc->m_Video, nullptr);
    Bytes sps = FindNal(LoadMedia("h264_baseline_640x360.h264"), false, 7);
    ASSERT_EQ(h264.SetNAL(sps[0], sps.data() + 1, static_cast<int32_t>(sps.size()) - 1), JX_OK);
    ASSERT_EQ(desc->SetVideoHead(&h264), JX_OK);
    ASSERT_NE(desc->m_Video, nullptr);
    EXPECT_EQ(desc->m_Video->nWidth, 640);
    EXPECT_EQ(desc->m_Video->fFPS, kRecordedRate);
    CJXH265Head h265;
    EXPECT_EQ(desc->SetVideoHead(&h265), JX_ERR_STATE);
    EXPECT_EQ(desc->m_Video->nCodec, JX_CODEC_H264);
    Bytes sps265 = FindNal(LoadMedia("h265_main_1366x766.h265"), true, 33);
    ASSERT_EQ(h265.SetNAL(static_cast<uint16_t>((sps265[0] << 8) | sps265[1]), sps265.data() + 2,
                          static_cast<int32_t>(sps265.size()) - 2),
              JX_OK);
    ASSERT_EQ(desc->SetVideoHead(&h265), JX_OK);
    EXPECT_EQ(desc->m_Video->nCodec, JX_CODEC_H265);
    EXPECT_EQ(desc->m_Video->nHeight, 766);
}

int32_t JpegSize(const Bytes& b, uint16_t* pW, uint16_t* pH)
{
    return JXParseJpegSize(b.data(), static_cast<int32_t>(b.size()), pW, pH);
}

// One segment of marker m with the given body.
Bytes Segment(uint8_t nMarker, const Bytes& body)
{
    size_t n = body.size() + 2;
    return Cat({0xFF, nMarker, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)}, body);
}

// SOI and the parts behind it.
Bytes Jpeg(std::initializer_list<Bytes> parts)
{
    Bytes out = {0xFF, 0xD8};
    for (const Bytes& p : parts)
        out = Cat(out, p);
    return out;
}

// Frame header body: precision 8, height, width, one component.
Bytes Sof(uint16_t nHeight, uint16_t nWidth)
{
    return {8, uint8_t(nHeight >> 8), uint8_t(nHeight), uint8_t(nWidth >> 8), uint8_t(nWidth), 1, 1, 0x11, 0};
}

TEST(MediaJpeg, RecordedPicturesAtEveryLength)
{
    const struct {
        const char* file;
        uint16_t width;
        uint16_t height;
    } pictures[] = {{"jpeg_640x480.jpg", 640, 480}, {"jpeg_1920x1080.jpg", 1920, 1080}};
    for (const auto& pic : pictures) {
        SCOPED_TRACE(pic.file);
        Bytes jpg = LoadMedia(pic.file);
        ASSERT_FALSE(jpg.empty());
        bool bRead = false;
        for (size_t n = 0; n <= jpg.size(); ++n) {
            uint16_t w = 0;
            uint16_t h = 0;
            int32_t nRet = JpegSize(Bytes(jpg.begin(), jpg.begin() + static_cast<long>(n)), &w, &h);
            if (nRet == JX_OK) {
                bRead = true;
                EXPECT_EQ(w, pic.width) << n;
                EXPECT_EQ(h, pic.height) << n;
            } else {
                EXPECT_EQ(nRet, JX_ERR_CONTENT) << n;
                EXPECT_FALSE(bRead) << "a longer prefix failed after a shorter one read, n=" << n;
            }
        }
        EXPECT_TRUE(bRead);
    }
}

TEST(MediaJpeg, SegmentsAndMarkers)
{
    Bytes app0 = Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    Bytes dqt = Segment(0xDB, Bytes(65, 2));
    Bytes sof0 = Segment(0xC0, Sof(480, 640));
    Bytes sos = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0, 0x12, 0x34};
    const int32_t kBad = JX_ERR_CONTENT;
    struct Row {
        const char* name;
        Bytes data;
        int32_t result;
        uint16_t width = 0;
        uint16_t height = 0;
    } rows[] = {
        {"SOF0 after APP0 and DQT", Jpeg({app0, dqt, sof0, sos}), JX_OK, 640, 480},
        {"SOF2 progressive", Jpeg({app0, Segment(0xC2, Sof(1944, 2592))}), JX_OK, 2592, 1944},
        {"SOF15", Jpeg({Segment(0xCF, Sof(1944, 2592))}), JX_OK, 2592, 1944},
        {"largest size", Jpeg({Segment(0xC0, Sof(65535, 65535))}), JX_OK, 65535, 65535},
        {"fill bytes before a marker", Jpeg({{0xFF, 0xFF, 0xFF}, app0, {0xFF}, sof0}), JX_OK, 640, 480},
        {"RST, TEM and SOI markers have no length", Jpeg({{0xFF, 0xD0, 0xFF, 0xD7, 0xFF, 0x01, 0xFF, 0xD8}, sof0}),
         JX_OK, 640, 480},
        {"DHT is no frame header", Jpeg({Segment(0xC4, Bytes(20, 1)), sof0}), JX_OK, 640, 480},
        {"JPG is no frame header", Jpeg({Segment(0xC8, Bytes(20, 1)), sof0}), JX_OK, 640, 480},
        {"DAC is no frame header", Jpeg({Segment(0xCC, {0, 0}), sof0}), JX_OK, 640, 480},
        {"APP15 is no frame header", Jpeg({Segment(0xEF, Sof(1, 1)), sof0}), JX_OK, 640, 480},
        {"shortest frame header", Jpeg({{0xFF, 0xC0, 0x00, 0x08, 8, 0, 2, 0, 3, 1}}), JX_OK, 3, 2},
        {"no SOI", sof0, kBad},
        {"SOI only", Jpeg({}), kBad},
        {"scan before the frame header", Jpeg({app0, sos, sof0}), kBad},
        {"end of image first", Jpeg({{0xFF, 0xD9}, sof0}), kBad},
        {"stuffed zero as a marker", Jpeg({{0xFF, 0x00}, sof0}), kBad},
        {"stray byte between segments", Jpeg({app0, {0x00}, sof0}), kBad},
        {"segment length 1", Jpeg({{0xFF, 0xE0, 0x00, 0x01}, sof0}), kBad},
        {"APP0 length runs past the end", Jpeg({{0xFF, 0xE0, 0xFF, 0xF0, 0, 0, 0, 0}}), kBad},
        {"SOF length runs past the end", Jpeg({{0xFF, 0xC0, 0x00, 0x11, 8, 1, 0xE0, 2, 0x80, 3}}), kBad},
        {"SOF shorter than a frame header", Jpeg({{0xFF, 0xC0, 0x00, 0x07, 8, 1, 0xE0, 2, 0x80}}), kBad},
        {"height 0 (given by DNL)", Jpeg({Segment(0xC0, Sof(0, 640))}), kBad},
        {"width 0", Jpeg({Segment(0xC0, Sof(480, 0))}), kBad},
        {"marker cut after FF", Jpeg({app0, {0xFF}}), kBad},
        {"length cut in half", Jpeg({app0, {0xFF, 0xC0, 0x00}}), kBad},
        {"all 0xFF", Bytes(64, 0xFF), kBad},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        uint16_t w = 0;
        uint16_t h = 0;
        EXPECT_EQ(JpegSize(row.data, &w, &h), row.result);
        EXPECT_EQ(w, row.width);
        EXPECT_EQ(h, row.height);
    }
    uint16_t w = 0;
    Bytes ok = Jpeg({sof0});
    EXPECT_EQ(JXParseJpegSize(ok.data(), -1, &w, &w), JX_ERR_CONTENT);
}

}   // namespace

// CJXMediaDesc: the video part from key frames (H.264, H.265, JPEG), the audio
// part from audio frames, heads, copies; and JXParseJpegSize on hostile input.
#include "JXH265Head.h"
#include "JXMediaDesc.h"
#include "JXPacket.h"

#include "test_media_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// One reference to a frame holding exactly these bytes.
struct PacketRef {
    CPacket* p = nullptr;
    PacketRef(uint8_t nType, uint8_t nCodec, const Bytes& data)
    {
        p = CPacket::Acquire(static_cast<int32_t>(data.size()) + CPacket::kFrameHead + 32);
        if (p == nullptr)
            return;
        p->FrameSetType(nType);
        p->FrameSetCodec(nCodec);
        if (!data.empty())
            memcpy(p->FrameGetData(), data.data(), data.size());
        p->FrameSetLength(static_cast<uint32_t>(data.size()));
    }
    ~PacketRef()
    {
        if (p != nullptr)
            p->Release();
    }
    PacketRef(const PacketRef&) = delete;
    PacketRef& operator=(const PacketRef&) = delete;
};

struct DescRef {
    CJXMediaDesc* d = CJXMediaDesc::Create(1);
    ~DescRef()
    {
        if (d != nullptr)
            d->Release();
    }
};

// The recorded parameter sets followed by the start of an IDR slice.
Bytes KeyFrame(const std::string& file, bool bH265)
{
    Bytes frame = LoadMedia(file);
    if (bH265)
        frame.insert(frame.end(), {0, 0, 0, 1, 0x26, 0x01, 0xAF, 0x06, 0xB8, 0x12, 0x34});
    else
        frame.insert(frame.end(), {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x21, 0xFF});
    return frame;
}

TEST(MediaDesc, KeyFramesOfEveryRecordedStream)
{
    const struct {
        const char* file;
        bool bH265;
        uint16_t width;
        uint16_t height;
    } streams[] = {
        {"h264_high_1920x1080.h264", false, 1920, 1080},
        {"h264_high_2592x1944.h264", false, 2592, 1944},
        {"h264_high_1280x720.h264", false, 1280, 720},
        {"h264_baseline_352x288.h264", false, 352, 288},
        {"h264_baseline_640x360.h264", false, 640, 360},
        {"h264_high_1366x768.h264", false, 1366, 768},
        {"h264_high444_1365x767.h264", false, 1365, 767},
        {"h264_interlaced_1920x1080.h264", false, 1920, 1080},
        {"h265_main_1920x1080.h265", true, 1920, 1080},
        {"h265_main_2592x1944.h265", true, 2592, 1944},
        {"h265_main_1366x766.h265", true, 1366, 766},
        {"h265_sublayers_1280x720.h265", true, 1280, 720},
    };
    // The stream's codec, or a private code of its range, is kept as it came.
    const uint8_t h264Codecs[] = {JX_CODEC_H264, 16, 31};
    const uint8_t h265Codecs[] = {JX_CODEC_H265, 32, 47};
    for (const auto& s : streams) {
        for (uint8_t nCodec : s.bH265 ? h265Codecs : h264Codecs) {
            PacketRef pkt(JX_FRAME_VIDEO_KEY, nCodec, KeyFrame(s.file, s.bH265));
            ASSERT_NE(pkt.p, nullptr);
            DescRef desc;
            ASSERT_EQ(desc.d->Setup(pkt.p), JX_OK) << s.file << " codec " << int(nCodec);
            ASSERT_NE(desc.d->m_Video, nullptr);
            EXPECT_EQ(desc.d->m_Video->nCodec, nCodec) << s.file;
            EXPECT_EQ(desc.d->m_Video->nWidth, s.width) << s.file;
            EXPECT_EQ(desc.d->m_Video->nHeight, s.height) << s.file;
            EXPECT_EQ(desc.d->m_Video->fFPS, 25.0f) << s.file;
            EXPECT_EQ(desc.d->m_Audio, nullptr);
        }
    }
}

TEST(MediaDesc, ThreeByteStartCodesAndUnitsBeforeTheSps)
{
    Bytes sps = FindNal(LoadMedia("h264_high_1280x720.h264"), false, 7);
    Bytes frame = {0, 0, 1, 0x09, 0xF0};                       // access unit delimiter
    frame.insert(frame.end(), {0, 0, 1, 0x06, 0x05, 0x01, 0x00, 0x80});   // SEI
    frame.insert(frame.end(), {0, 0, 1});
    frame.insert(frame.end(), sps.begin(), sps.end());
    frame.insert(frame.end(), {0, 0, 1, 0x65, 0x88});
    PacketRef pkt(JX_FRAME_VIDEO_KEY, JX_CODEC_H264, frame);
    DescRef desc;
    ASSERT_EQ(desc.d->Setup(pkt.p), JX_OK);
    EXPECT_EQ(desc.d->m_Video->nWidth, 1280);
    EXPECT_EQ(desc.d->m_Video->nHeight, 720);
}

// Only the frame's counted bytes are read, and only the units before the
// first slice are looked at.
TEST(MediaDesc, FramesThatTellNoSize)
{
    Bytes sps264 = KeyFrame("h264_high_1920x1080.h264", false);
    Bytes sps265 = KeyFrame("h265_main_1920x1080.h265", true);
    Bytes sliceFirst = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    sliceFirst.insert(sliceFirst.end(), sps264.begin(), sps264.end());
    Bytes h265SliceFirst = {0, 0, 0, 1, 0x26, 0x01, 0xAF};
    h265SliceFirst.insert(h265SliceFirst.end(), sps265.begin(), sps265.end());
    struct Case {
        const char* name;
        uint8_t type;
        uint8_t codec;
        Bytes data;
    } cases[] = {
        {"empty frame", JX_FRAME_VIDEO_KEY, JX_CODEC_H264, {}},
        {"no start code", JX_FRAME_VIDEO_KEY, JX_CODEC_H264, Bytes(300, 0x42)},
        {"start code at the very end", JX_FRAME_VIDEO_KEY, JX_CODEC_H264, {0x42, 0, 0, 1}},
        {"SPS header byte alone", JX_FRAME_VIDEO_KEY, JX_CODEC_H264, {0, 0, 0, 1, 0x67}},
        {"H.265 header byte alone", JX_FRAME_VIDEO_KEY, JX_CODEC_H265, {0, 0, 0, 1, 0x42}},
        {"slice before the SPS", JX_FRAME_VIDEO_KEY, JX_CODEC_H264, sliceFirst},
        {"H.265 slice before the SPS", JX_FRAME_VIDEO_KEY, JX_CODEC_H265, h265SliceFirst},
        {"H.264 sets read as H.265", JX_FRAME_VIDEO_KEY, JX_CODEC_H265, sps264},
        {"all 0xFF", JX_FRAME_VIDEO_KEY, JX_CODEC_H264, Bytes(100, 0xFF)},
        {"all zero", JX_FRAME_VIDEO_KEY, JX_CODEC_H265, Bytes(100, 0x00)},
        {"codec that is no video", JX_FRAME_VIDEO_KEY, JX_CODEC_PCMA, sps264},
        {"codec 48", JX_FRAME_VIDEO_KEY, 48, sps264},
        {"JPEG without frame header", JX_FRAME_JPEG, JX_CODEC_JPEG, {0xFF, 0xD8, 0xFF, 0xD9}},
    };
    for (const Case& c : cases) {
        PacketRef pkt(c.type, c.codec, c.data);
        DescRef desc;
        EXPECT_EQ(desc.d->Setup(pkt.p), JX_ERR_CONTENT) << c.name;
        EXPECT_EQ(desc.d->m_Video, nullptr) << c.name << ": a failed setup must leave the part empty";
    }
}

TEST(MediaDesc, ReadsOnlyTheCountedBytes)
{
    Bytes frame = KeyFrame("h264_high_1920x1080.h264", false);
    PacketRef pkt(JX_FRAME_VIDEO_KEY, JX_CODEC_H264, frame);
    // Count only the start code and the first bytes of the SPS: the rest is
    // still in the buffer but is not part of the frame.
    pkt.p->FrameSetLength(9);
    DescRef desc;
    EXPECT_EQ(desc.d->Setup(pkt.p), JX_ERR_CONTENT);
    pkt.p->FrameSetLength(static_cast<uint32_t>(frame.size()));
    EXPECT_EQ(desc.d->Setup(pkt.p), JX_OK);

    // A frame filling the whole payload area, start codes up to the last byte.
    CPacket* p = CPacket::Acquire(4096);
    ASSERT_NE(p, nullptr);
    int32_t nCap = p->FrameGetCapacity();
    uint8_t* pData = p->FrameGetData();
    for (int32_t i = 0; i < nCap; ++i)
        pData[i] = (i % 4 == 3) ? 0x67 : (i % 4 == 2 ? 1 : 0);
    p->FrameSetType(JX_FRAME_VIDEO_KEY);
    p->FrameSetCodec(JX_CODEC_H264);
    p->FrameSetLength(0xFFFFFFFFu);              // clamped to the payload area
    EXPECT_EQ(desc.d->Setup(p), JX_ERR_CONTENT);
    p->FrameSetCodec(JX_CODEC_H265);
    EXPECT_EQ(desc.d->Setup(p), JX_ERR_CONTENT);
    p->FrameSetType(JX_FRAME_JPEG);
    EXPECT_EQ(desc.d->Setup(p), JX_ERR_CONTENT);
    p->Release();
    // The part filled before stays as it was.
    ASSERT_NE(desc.d->m_Video, nullptr);
    EXPECT_EQ(desc.d->m_Video->nWidth, 1920);
}

TEST(MediaDesc, SizeAndRateStampedOnTheFrame)
{
    // No SPS in the frame, but the depacketizer put the head's size on it.
    PacketRef pkt(JX_FRAME_VIDEO_KEY, JX_CODEC_H264, {0, 0, 0, 1, 0x65, 0x88});
    pkt.p->FrameSetWidth(704);
    pkt.p->FrameSetHeight(576);
    pkt.p->FrameSetFPS(12.5f);
    DescRef desc;
    ASSERT_EQ(desc.d->Setup(pkt.p), JX_OK);
    EXPECT_EQ(desc.d->m_Video->nWidth, 704);
    EXPECT_EQ(desc.d->m_Video->nHeight, 576);
    EXPECT_EQ(desc.d->m_Video->fFPS, 12.5f);

    // The SPS wins over the stamped size; its timing over the estimate.
    PacketRef key(JX_FRAME_VIDEO_KEY, JX_CODEC_H264, KeyFrame("h264_high_1280x720.h264", false));
    key.p->FrameSetWidth(704);
    key.p->FrameSetHeight(576);
    key.p->FrameSetFPS(12.5f);
    ASSERT_EQ(desc.d->Setup(key.p), JX_OK);
    EXPECT_EQ(desc.d->m_Video->nWidth, 1280);
    EXPECT_EQ(desc.d->m_Video->fFPS, 25.0f);

    // JPEG has no timing of its own; a rate that is no rate is not taken.
    const float rates[] = {30.0f, 0.0f, -5.0f, 1e9f};
    const float expected[] = {30.0f, 0.0f, 0.0f, 0.0f};
    for (size_t i = 0; i < 4; ++i) {
        PacketRef jpg(JX_FRAME_JPEG, JX_CODEC_JPEG, LoadMedia("jpeg_640x480.jpg"));
        jpg.p->FrameSetFPS(rates[i]);
        ASSERT_EQ(desc.d->Setup(jpg.p), JX_OK);
        EXPECT_EQ(desc.d->m_Video->nCodec, JX_CODEC_JPEG);
        EXPECT_EQ(desc.d->m_Video->nWidth, 640);
        EXPECT_EQ(desc.d->m_Video->nHeight, 480);
        EXPECT_EQ(desc.d->m_Video->fFPS, expected[i]) << rates[i];
    }
}

TEST(MediaDesc, JpegPictures)
{
    const struct {
        const char* file;
        uint16_t width;
        uint16_t height;
    } pictures[] = {{"jpeg_640x480.jpg", 640, 480}, {"jpeg_1920x1080.jpg", 1920, 1080}};
    for (const auto& pic : pictures) {
        Bytes jpg = LoadMedia(pic.file);
        ASSERT_FALSE(jpg.empty()) << pic.file;
        // Frame type 4 says JPEG whatever the codec field holds.
        for (uint8_t nCodec : {uint8_t(JX_CODEC_JPEG), uint8_t(0)}) {
            PacketRef pkt(JX_FRAME_JPEG, nCodec, jpg);
            DescRef desc;
            ASSERT_EQ(desc.d->Setup(pkt.p), JX_OK) << pic.file;
            EXPECT_EQ(desc.d->m_Video->nCodec, JX_CODEC_JPEG);
            EXPECT_EQ(desc.d->m_Video->nWidth, pic.width);
            EXPECT_EQ(desc.d->m_Video->nHeight, pic.height);
        }
    }
}

TEST(MediaDesc, AudioFrames)
{
    DescRef desc;
    PacketRef alaw(JX_FRAME_AUDIO, JX_CODEC_PCMA, Bytes(160, 0xD5));
    ASSERT_EQ(desc.d->Setup(alaw.p), JX_OK);
    ASSERT_NE(desc.d->m_Audio, nullptr);
    EXPECT_EQ(desc.d->m_Audio->nCodec, JX_CODEC_PCMA);
    EXPECT_EQ(desc.d->m_Audio->nChannels, 1);
    EXPECT_EQ(desc.d->m_Audio->nRate, 8000u);
    EXPECT_EQ(desc.d->m_Video, nullptr);

    PacketRef ulaw(JX_FRAME_AUDIO, JX_CODEC_PCMU, Bytes(320, 0xFF));
    ulaw.p->FrameSetFreq(16000);
    ASSERT_EQ(desc.d->Setup(ulaw.p), JX_OK);
    EXPECT_EQ(desc.d->m_Audio->nCodec, JX_CODEC_PCMU);
    EXPECT_EQ(desc.d->m_Audio->nRate, 16000u);

    EXPECT_EQ(desc.d->SetupAudio(JX_CODEC_PCMA, 1, 8000), JX_OK);
    EXPECT_EQ(desc.d->m_Audio->nCodec, JX_CODEC_PCMA);
    EXPECT_EQ(desc.d->SetupAudio(JX_CODEC_PCMA, 0, 8000), JX_ERR_ARG);
    EXPECT_EQ(desc.d->SetupAudio(JX_CODEC_PCMA, 1, 0), JX_ERR_ARG);
    EXPECT_EQ(desc.d->m_Audio->nRate, 8000u);

    EXPECT_EQ(desc.d->Setup(nullptr), JX_ERR_ARG);
    PacketRef odd(7, JX_CODEC_PCMA, Bytes(10, 0));   // neither audio nor video
    EXPECT_EQ(desc.d->Setup(odd.p), JX_ERR_ARG);
}

TEST(MediaDesc, CloneIsIndependent)
{
    DescRef desc;
    CJXMediaDesc* pEmpty = desc.d->Clone();
    ASSERT_NE(pEmpty, nullptr);
    EXPECT_EQ(pEmpty->m_Video, nullptr);
    EXPECT_EQ(pEmpty->m_Audio, nullptr);
    pEmpty->Release();

    PacketRef key(JX_FRAME_VIDEO_KEY, JX_CODEC_H265, KeyFrame("h265_main_2592x1944.h265", true));
    ASSERT_EQ(desc.d->Setup(key.p), JX_OK);
    ASSERT_EQ(desc.d->SetupAudio(JX_CODEC_PCMU, 1, 8000), JX_OK);
    CJXMediaDesc* pCopy = desc.d->Clone();
    ASSERT_NE(pCopy, nullptr);
    ASSERT_NE(pCopy->m_Video, nullptr);
    ASSERT_NE(pCopy->m_Audio, nullptr);
    EXPECT_NE(pCopy->m_Video, desc.d->m_Video);
    EXPECT_NE(pCopy->m_Audio, desc.d->m_Audio);

    desc.d->m_Video->nWidth = 1;
    desc.d->m_Audio->nRate = 1;
    EXPECT_EQ(pCopy->m_Video->nCodec, JX_CODEC_H265);
    EXPECT_EQ(pCopy->m_Video->nWidth, 2592);
    EXPECT_EQ(pCopy->m_Video->nHeight, 1944);
    EXPECT_EQ(pCopy->m_Video->fFPS, 25.0f);
    EXPECT_EQ(pCopy->m_Audio->nCodec, JX_CODEC_PCMU);
    EXPECT_EQ(pCopy->m_Audio->nRate, 8000u);
    pCopy->Release();
}

// A head that is not a video head.
class CNoVideoHead : public CJXMediaHead {
public:
    int32_t GetCodec() const override { return JX_CODEC_H264; }
    int32_t SetNAL(uint16_t, const uint8_t*, int32_t) override { return 0; }
    int32_t WriteHead(uint8_t*, uint16_t) override { return 0; }
    int32_t GetHeadSize(uint16_t) override { return 0; }
    bool IsReady() override { return true; }
};

TEST(MediaDesc, SetVideoHead)
{
    DescRef desc;
    EXPECT_EQ(desc.d->SetVideoHead(nullptr), JX_ERR_ARG);
    CNoVideoHead other;
    EXPECT_EQ(desc.d->SetVideoHead(&other), JX_ERR_ARG);

    CJXH264Head h264;
    EXPECT_EQ(desc.d->SetVideoHead(&h264), JX_ERR_STATE);
    EXPECT_EQ(desc.d->m_Video, nullptr);
    Bytes sps = FindNal(LoadMedia("h264_baseline_640x360.h264"), false, 7);
    ASSERT_EQ(h264.SetNAL(sps[0], sps.data() + 1, static_cast<int32_t>(sps.size()) - 1), JX_OK);
    ASSERT_EQ(desc.d->SetVideoHead(&h264), JX_OK);
    ASSERT_NE(desc.d->m_Video, nullptr);
    EXPECT_EQ(desc.d->m_Video->nCodec, JX_CODEC_H264);
    EXPECT_EQ(desc.d->m_Video->nWidth, 640);
    EXPECT_EQ(desc.d->m_Video->nHeight, 360);
    EXPECT_EQ(desc.d->m_Video->fFPS, 25.0f);

    CJXH265Head h265;
    EXPECT_EQ(desc.d->SetVideoHead(&h265), JX_ERR_STATE);
    EXPECT_EQ(desc.d->m_Video->nWidth, 640) << "a head that is not ready changes nothing";
    Bytes sps265 = FindNal(LoadMedia("h265_main_640x360.h265"), true, 33);
    ASSERT_EQ(h265.SetNAL(static_cast<uint16_t>((sps265[0] << 8) | sps265[1]), sps265.data() + 2,
                          static_cast<int32_t>(sps265.size()) - 2),
              JX_OK);
    ASSERT_EQ(desc.d->SetVideoHead(&h265), JX_OK);
    EXPECT_EQ(desc.d->m_Video->nCodec, JX_CODEC_H265);
    EXPECT_EQ(desc.d->m_Video->nWidth, 640);
    EXPECT_EQ(desc.d->m_Video->nHeight, 360);
}

// ---------------------------------------------------------------------------
// JXParseJpegSize.

int32_t JpegSize(const Bytes& b, uint16_t* pW, uint16_t* pH)
{
    return JXParseJpegSize(b.data(), static_cast<int32_t>(b.size()), pW, pH);
}

// SOI, one segment of marker m with the given body, and more bytes behind it.
Bytes Segment(uint8_t nMarker, const Bytes& body)
{
    size_t n = body.size() + 2;
    Bytes out = {0xFF, nMarker, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Jpeg(std::initializer_list<Bytes> parts)
{
    Bytes out = {0xFF, 0xD8};
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
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
        Bytes jpg = LoadMedia(pic.file);
        ASSERT_FALSE(jpg.empty());
        bool bRead = false;
        for (size_t n = 0; n <= jpg.size(); ++n) {
            Bytes cut(jpg.begin(), jpg.begin() + static_cast<long>(n));
            uint16_t w = 0;
            uint16_t h = 0;
            int32_t nRet = JpegSize(cut, &w, &h);
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
    struct Case {
        const char* name;
        Bytes data;
        int32_t result;
        uint16_t width;
        uint16_t height;
    } cases[] = {
        {"SOF0 after APP0 and DQT", Jpeg({app0, dqt, sof0, sos}), JX_OK, 640, 480},
        {"SOF1", Jpeg({Segment(0xC1, Sof(1080, 1920))}), JX_OK, 1920, 1080},
        {"SOF2 progressive", Jpeg({app0, Segment(0xC2, Sof(1944, 2592))}), JX_OK, 2592, 1944},
        {"largest size", Jpeg({Segment(0xC0, Sof(65535, 65535))}), JX_OK, 65535, 65535},
        {"fill bytes before a marker", Jpeg({{0xFF, 0xFF, 0xFF}, app0, {0xFF}, sof0}), JX_OK, 640, 480},
        {"RST and TEM markers have no length", Jpeg({{0xFF, 0xD0, 0xFF, 0x01}, sof0}), JX_OK, 640, 480},
        {"DHT is no frame header", Jpeg({Segment(0xC4, Bytes(20, 1)), sof0}), JX_OK, 640, 480},
        {"DAC is no frame header", Jpeg({Segment(0xCC, {0, 0}), sof0}), JX_OK, 640, 480},
        {"no SOI", Bytes(sof0.begin(), sof0.end()), JX_ERR_CONTENT, 0, 0},
        {"SOI only", Jpeg({}), JX_ERR_CONTENT, 0, 0},
        {"scan before the frame header", Jpeg({app0, sos, sof0}), JX_ERR_CONTENT, 0, 0},
        {"end of image first", Jpeg({{0xFF, 0xD9}, sof0}), JX_ERR_CONTENT, 0, 0},
        {"stray byte between segments", Jpeg({app0, {0x00}, sof0}), JX_ERR_CONTENT, 0, 0},
        {"segment length 0", Jpeg({{0xFF, 0xE0, 0x00, 0x00}, sof0}), JX_ERR_CONTENT, 0, 0},
        {"segment length 1", Jpeg({{0xFF, 0xE0, 0x00, 0x01}, sof0}), JX_ERR_CONTENT, 0, 0},
        {"APP0 length runs past the end", Jpeg({{0xFF, 0xE0, 0xFF, 0xF0, 0, 0, 0, 0}}), JX_ERR_CONTENT, 0, 0},
        {"SOF length runs past the end", Jpeg({{0xFF, 0xC0, 0x00, 0x11, 8, 1, 0xE0, 2, 0x80, 3}}),
         JX_ERR_CONTENT, 0, 0},
        {"SOF shorter than a frame header", Jpeg({{0xFF, 0xC0, 0x00, 0x06, 8, 1, 0xE0, 2}}), JX_ERR_CONTENT, 0, 0},
        {"height 0 (given by DNL)", Jpeg({Segment(0xC0, Sof(0, 640))}), JX_ERR_CONTENT, 0, 0},
        {"width 0", Jpeg({Segment(0xC0, Sof(480, 0))}), JX_ERR_CONTENT, 0, 0},
        {"marker cut after FF", Jpeg({app0, {0xFF}}), JX_ERR_CONTENT, 0, 0},
        {"length cut in half", Jpeg({app0, {0xFF, 0xC0, 0x00}}), JX_ERR_CONTENT, 0, 0},
        {"all 0xFF", Bytes(64, 0xFF), JX_ERR_CONTENT, 0, 0},
    };
    for (const Case& c : cases) {
        uint16_t w = 0;
        uint16_t h = 0;
        EXPECT_EQ(JpegSize(c.data, &w, &h), c.result) << c.name;
        EXPECT_EQ(w, c.width) << c.name;
        EXPECT_EQ(h, c.height) << c.name;
    }
    uint16_t w = 0;
    Bytes ok = Jpeg({sof0});
    EXPECT_EQ(JXParseJpegSize(ok.data(), static_cast<int32_t>(ok.size()), &w, nullptr), JX_ERR_ARG);
    EXPECT_EQ(JXParseJpegSize(ok.data(), static_cast<int32_t>(ok.size()), nullptr, &w), JX_ERR_ARG);
    EXPECT_EQ(JXParseJpegSize(nullptr, 10, &w, &w), JX_ERR_ARG);
    EXPECT_EQ(JXParseJpegSize(ok.data(), -1, &w, &w), JX_ERR_CONTENT);
}

}  // namespace

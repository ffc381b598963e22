// JPEG depacketizer, decoded: every picture rebuilt from GStreamer's packets
// (and one cut into packets here with Q 50, whose tables the depacketizer
// computes) decodes with libjpeg to exactly the pixels of the source picture.
// Linux only: the Windows cross build has no libjpeg.
#include "mjpeg_replay.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct Decoded {
    bool ok = false;
    unsigned width = 0, height = 0;
    Bytes pixels;
};

struct ErrorJump {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

// Decodes a picture; out.ok is false when libjpeg fails or warns. Only plain
// C structures live in this frame, so the error jump skips no destructor.
void DecodeInto(const Bytes& jpeg, Decoded& out)
{
    jpeg_decompress_struct cinfo;
    ErrorJump err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        out.ok = false;
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    const size_t row = size_t(cinfo.output_width) * size_t(cinfo.output_components);
    out.pixels.assign(row * cinfo.output_height, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW line = out.pixels.data() + row * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &line, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out.ok = err.mgr.num_warnings == 0;   // a corrupt scan shows as a warning
}

void ExpectSamePixels(const Bytes& got, const Bytes& src, const std::string& what)
{
    Decoded a, b;
    DecodeInto(got, a);
    DecodeInto(src, b);
    ASSERT_TRUE(b.ok) << what << ": source";
    ASSERT_TRUE(a.ok) << what << ": rebuilt picture does not decode cleanly";
    EXPECT_EQ(a.width, b.width) << what;
    EXPECT_EQ(a.height, b.height) << what;
    EXPECT_TRUE(a.pixels == b.pixels) << what << ": pixels differ";
}

// The scan data of a source picture cut into RTP/JPEG packets of nFragment
// bytes: type 1, Q 50 (tables computed by the receiver), offsets in order.
std::vector<Bytes> CutWithQ50(const JpegParts& src, size_t nFragment)
{
    CTestRTP b;
    b.m_PT = uint8_t(CRTPMJPEG::kDefaultPayloadType);
    std::vector<Bytes> packets;
    for (size_t at = 0; at < src.scan.size(); at += nFragment) {
        const size_t n = std::min(nFragment, src.scan.size() - at);
        Bytes p = {0, uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at), 1, 50, uint8_t(src.width / 8),
                   uint8_t(src.height / 8)};
        p.insert(p.end(), src.scan.begin() + long(at), src.scan.begin() + long(at + n));
        packets.push_back(b.Next(p, at + n == src.scan.size()));
    }
    return packets;
}

TEST(RTPMJPEGDecode, RebuiltPicturesDecodeToTheSourcePixels)
{
    // Captures of pictures coded with the standard Huffman tables, the only
    // ones an RTP/JPEG receiver can name (jpeg_420 and jpeg_wide are coded
    // with tables of ffmpeg's own, which the payload format drops).
    const struct {
        const char* name;
        const char* setup;
    } rows[] = {
        {"jpeg_422", nullptr},
        {"jpeg_std_420", nullptr},
        {"jpeg_tcp_wide", "x-dimensions=2560,128"},
    };
    for (const auto& row : rows) {
        const std::vector<JpegParts> src = SplitJpeg(LoadDataFile(std::string("rtp/") + row.name + ".mjpeg"));
        const auto frames = ReplayJpeg(LoadCapture(std::string(row.name) + ".rtp"), row.setup);
        ASSERT_FALSE(src.empty()) << row.name;
        ASSERT_EQ(frames.size(), src.size()) << row.name;
        for (size_t i = 0; i < src.size(); ++i) {
            ExpectSamePixels(frames[i].m_Data, src[i].whole, std::string(row.name) + " #" + std::to_string(i));
        }
    }
    const std::vector<JpegParts> q50 = SplitJpeg(LoadDataFile("rtp/jpeg_q50.jpg"));
    ASSERT_EQ(q50.size(), 1u);
    const auto frames = ReplayJpeg(CutWithQ50(q50[0], 1000));
    ASSERT_EQ(frames.size(), 1u);
    ExpectSamePixels(frames[0].m_Data, q50[0].whole, "Q 50");
}

}   // namespace

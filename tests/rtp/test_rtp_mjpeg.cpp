// JPEG depacketizer: GStreamer's captures replayed and compared with their
// source pictures, loss and disorder over a capture, hostile payloads.
#include "mjpeg_replay.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<JpegParts> Source(const std::string& name)
{
    return SplitJpeg(LoadDataFile("rtp/" + name + ".mjpeg"));
}

// The frame is one whole picture (nothing behind its EOI) with the source's
// size, quantization tables and scan data.
void ExpectSamePicture(const CSunkFrame& f, const JpegParts& src, const std::string& what)
{
    SCOPED_TRACE(what);
    EXPECT_EQ(f.m_Type, JX_FRAME_JPEG);
    EXPECT_EQ(f.m_Codec, JX_CODEC_JPEG);
    EXPECT_TRUE(f.m_ZeroTail);
    const std::vector<JpegParts> got = SplitJpeg(f.m_Data);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].whole.size(), f.m_Data.size());
    EXPECT_EQ(std::vector<int>({got[0].width, got[0].height, f.m_Width, f.m_Height}),
              std::vector<int>({src.width, src.height, src.width, src.height}));
    EXPECT_TRUE(got[0].tables == src.tables) << "tables differ";
    EXPECT_TRUE(got[0].scan == src.scan) << "scan data differs";
}

TEST(RTPMJPEG, CapturesRebuildTheSourcePictures)
{
    const struct {
        const char* name;
        const char* setup;   // the size a server names when the header cannot hold it
    } rows[] = {
        {"jpeg_420", nullptr},                        // type 1, one table, one timestamp for all pictures
        {"jpeg_422", nullptr},                        // type 0, two tables
        {"jpeg_wide", "a=x-dimensions:2064,48"},      // GStreamer's attribute: the header says 0
        {"jpeg_std_420", nullptr},                    // a timestamp per picture
        {"jpeg_tcp_wide", "x-dimensions=2560,128"},   // 60000-byte payloads; the size as fmtp text
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<JpegParts> src = Source(row.name);
        ASSERT_FALSE(src.empty());
        const auto frames = ReplayJpeg(LoadCapture(std::string(row.name) + ".rtp"), row.setup);
        ASSERT_EQ(frames.size(), src.size());
        for (size_t i = 0; i < frames.size(); ++i)
            ExpectSamePicture(frames[i], src[i], "#" + std::to_string(i));
    }
}

// Loss and disorder over a capture with a timestamp per picture: a picture
// that lost any part is never delivered, the others are delivered whole.
TEST(RTPMJPEG, LossAndDisorderNeverDeliverABrokenPicture)
{
    enum EWhere { kFirst, kMiddle, kLast };
    constexpr long kTruncate = -100, kCutInHeader = 12 + 7;   // bytes cut off; bytes kept
    struct Step {
        CLoss::EOp op;
        int picture;
        EWhere where;
        long keep = 0;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<int> delivered;   // source pictures expected, in order
    } rows[] = {
        {"first fragment lost", {{CLoss::kDrop, 1, kFirst}}, {0, 2}},
        {"middle fragment lost", {{CLoss::kDrop, 1, kMiddle}}, {0, 2}},
        {"last fragment lost", {{CLoss::kDrop, 1, kLast}}, {0, 2}},
        {"end of one and start of the next lost", {{CLoss::kDrop, 1, kLast}, {CLoss::kDrop, 2, kFirst}}, {0}},
        {"end of the last picture lost", {{CLoss::kDrop, 2, kLast}}, {0, 1}},
        {"fragment duplicated", {{CLoss::kDuplicate, 1, kMiddle}}, {0, 2}},
        {"fragments swapped", {{CLoss::kSwapWithNext, 0, kMiddle}}, {1, 2}},
        {"fragment truncated", {{CLoss::kCut, 1, kMiddle, kTruncate}}, {0, 2}},
        {"fragment cut inside its header", {{CLoss::kCut, 2, kMiddle, kCutInHeader}}, {0, 1}},
    };
    const std::vector<Bytes> packets = LoadCapture("jpeg_std_420.rtp");
    const std::vector<JpegParts> src = Source("jpeg_std_420");
    ASSERT_FALSE(packets.empty());
    ASSERT_EQ(src.size(), 3u);
    constexpr size_t kRTPHead = 12;
    std::vector<size_t> starts;   // packet index of each picture's first fragment
    for (size_t i = 0; i < packets.size(); ++i) {
        const Bytes& p = packets[i];
        if (p[kRTPHead + 1] == 0 && p[kRTPHead + 2] == 0 && p[kRTPHead + 3] == 0) starts.push_back(i);
    }
    ASSERT_EQ(starts.size(), src.size());
    starts.push_back(packets.size());

    for (const auto& row : rows) {
        std::vector<CLoss> losses;
        for (const Step& s : row.steps) {
            const size_t first = starts[size_t(s.picture)], end = starts[size_t(s.picture) + 1];
            losses.push_back({s.op, s.where == kFirst ? first : s.where == kLast ? end - 1 : (first + end) / 2, s.keep});
        }
        const auto frames = ReplayJpeg(ApplyLosses(packets, losses));
        ASSERT_EQ(frames.size(), row.delivered.size()) << row.name;
        for (size_t i = 0; i < frames.size(); ++i) {
            ExpectSamePicture(frames[i], src[size_t(row.delivered[i])], row.name);
        }
    }
}

// RTP/JPEG payload: main header, then whatever the row puts behind it.
Bytes Jpg(uint32_t offset, uint8_t type, uint8_t q, uint8_t w8, uint8_t h8, const Bytes& rest)
{
    Bytes p = {0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), type, q, w8, h8};
    p.insert(p.end(), rest.begin(), rest.end());
    return p;
}
Bytes Tables(uint8_t precision, uint16_t length, size_t present)
{
    Bytes p = {0, precision, uint8_t(length >> 8), uint8_t(length)};
    p.resize(p.size() + present, 0x20);
    return p;
}
Bytes Scan(size_t n, uint8_t fill = 0x11)
{
    return Bytes(n, fill);
}
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(RTPMJPEG, HostilePayloads)
{
    struct Pkt {
        uint32_t ts;
        Bytes payload;
        bool mark;
    };
    const Bytes kTwoTables = Tables(0, 128, 128);
    const Bytes kRestart4 = HexBytes("00 04 ff ff");
    const struct {
        const char* name;
        std::vector<Pkt> script;
        size_t frames;
        uint16_t width = 0;            // of the first frame
        size_t scanBytes = 0;          // of the first frame
        const char* has = nullptr;     // hex the first frame holds
        const char* lacks = nullptr;   // hex it must not hold
    } rows[] = {
        // clang-format off
        {"odd table length refused, next picture afresh", {{1, Jpg(0, 1, 255, 80, 60, Tables(0, 63, 63) + Scan(50)), true}, {2, Jpg(0, 1, 255, 80, 60, Tables(0, 64, 64) + Scan(60, 0x22)), true}}, 1, 640, 60, "ff db 00 43 00 20 20", "ff db 00 43 01"},
        {"tables past the payload's end", {{1, Jpg(0, 1, 255, 80, 60, Tables(0, 128, 100)), true}}, 0},
        {"16-bit tables", {{1, Jpg(0, 1, 255, 80, 60, Tables(1, 128, 128) + Scan(9)), true}}, 0},
        {"shorter than the RTP/JPEG header", {{1, HexBytes("00 00 00 00 01 32 50"), true}}, 0},
        {"restart type without its header", {{1, Jpg(0, 65, 50, 80, 60, Scan(2)), true}}, 0},
        {"rest of a picture without its start", {{1, Jpg(100, 1, 50, 80, 60, Scan(40)), true}}, 0},
        {"fragment offset skips bytes", {{1, Jpg(0, 1, 50, 80, 60, Scan(100)), false}, {1, Jpg(150, 1, 50, 80, 60, Scan(40)), true}}, 0},
        {"payload of 65000 bytes", {{1, Jpg(0, 1, 255, 80, 60, kTwoTables + Scan(65000)), true}}, 1, 640, 65000, "ff db 00 43 01 20 20"},
        {"restart interval", {{1, Jpg(0, 65, 255, 80, 60, kRestart4 + kTwoTables + Scan(30)), true}}, 1, 640, 30, "ff dd 00 04 00 04"},
        {"restart interval 0: no DRI", {{1, Jpg(0, 64, 255, 80, 60, HexBytes("00 00 ff ff") + kTwoTables + Scan(30)), true}}, 1, 640, 30, "01 21 00 02 11 01", "ff dd"},
        {"Q 50: the base tables", {{1, Jpg(0, 1, 50, 80, 60, Scan(30)), true}}, 1, 640, 30, "ff db 00 43 00 10 0b 0c 0e"},
        {"Q 255 without tables: those of Q 99", {{1, Jpg(0, 1, 255, 80, 60, Tables(0, 0, 0) + Scan(30)), true}}, 1, 640, 30, "ff db 00 43 00 01 01 01 01"},
        {"two pictures under one timestamp", {{1, Jpg(0, 1, 50, 80, 60, Scan(30)), true}, {1, Jpg(0, 1, 50, 80, 60, Scan(20)), true}}, 2, 640, 30},
        {"end lost in a stream that marks its ends", {{1, Jpg(0, 1, 50, 80, 60, Scan(30)), true}, {2, Jpg(0, 1, 50, 80, 60, Scan(20)), false}, {3, Jpg(0, 1, 50, 80, 60, Scan(10)), true}}, 2, 640, 30},
        {"data ending in EOI gets no second", {{1, Jpg(0, 1, 50, 80, 60, Scan(30) + HexBytes("ff d9")), true}}, 1, 640, 30, nullptr, "ff d9 ff d9"},
        {"size byte 0 without a size from the SDP", {{1, Jpg(0, 1, 50, 0, 60, Scan(30)), true}}, 1, 2048, 30},
        // clang-format on
    };
    for (const auto& row : rows) {
        CTestRTP b;
        b.m_PT = uint8_t(CRTPMJPEG::kDefaultPayloadType);
        std::vector<Bytes> packets;
        for (const Pkt& p : row.script) {
            b.m_TS = p.ts;
            packets.push_back(b.Next(p.payload, p.mark));
        }
        SCOPED_TRACE(row.name);
        const auto frames = ReplayJpeg(packets);
        ASSERT_EQ(frames.size(), row.frames);
        if (frames.empty()) continue;
        const std::vector<JpegParts> got = SplitJpeg(frames[0].m_Data);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].whole.size(), frames[0].m_Data.size());
        EXPECT_EQ(std::vector<size_t>({got[0].width, size_t(frames[0].m_Width), got[0].scan.size()}),
                  std::vector<size_t>({row.width, row.width, row.scanBytes}));
        const Bytes& d = frames[0].m_Data;
        auto holds = [&d](const char* hex) {
            const Bytes b = HexBytes(hex);
            return std::search(d.begin(), d.end(), b.begin(), b.end()) != d.end();
        };
        EXPECT_TRUE(row.has == nullptr || holds(row.has));
        EXPECT_TRUE(row.lacks == nullptr || !holds(row.lacks));
    }
}

}   // namespace

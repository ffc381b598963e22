// JPEG test helpers shared by the capture tests and the decode check: split a
// JPEG file into its pictures and their parts, and replay RTP packets through
// a CRTPMJPEG, collecting every delivered picture.
#pragma once

#include "rtp_harness.h"
#include "rtpmjpeg.h"
#include "rtpparser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The parts of one baseline picture that RTP/JPEG carries.
struct JpegParts {
    Bytes whole;    // SOI to EOI
    Bytes tables;   // the quantization table of each component, in component order
    Bytes scan;     // entropy-coded data, EOI excluded
    uint16_t width = 0;
    uint16_t height = 0;
};

// Pictures of a JPEG byte stream, each read from its SOI; empty parts when a
// picture is malformed (the test's own comparison then fails).
inline std::vector<JpegParts> SplitJpeg(const Bytes& data)
{
    constexpr uint8_t kMarker = 0xFF, kSOI = 0xD8, kEOI = 0xD9, kDQT = 0xDB, kSOF0 = 0xC0, kSOS = 0xDA;
    constexpr size_t kTableBytes = 64;
    std::vector<JpegParts> pictures;
    size_t at = 0;
    while (at + 4 <= data.size() && data[at] == kMarker && data[at + 1] == kSOI) {
        JpegParts p;
        Bytes tables[4];
        std::vector<uint8_t> used;   // table id of each component
        size_t pos = at + 2;
        while (pos + 4 <= data.size() && data[pos] == kMarker && data[pos + 1] != kSOS) {
            const size_t len = (size_t(data[pos + 2]) << 8) | data[pos + 3];
            const uint8_t* seg = data.data() + pos + 4;
            if (pos + 2 + len > data.size()) return pictures;
            for (size_t t = 0; data[pos + 1] == kDQT && t + 1 + kTableBytes <= len - 2; t += 1 + kTableBytes) {
                tables[seg[t] & 3].assign(seg + t + 1, seg + t + 1 + kTableBytes);
            }
            if (data[pos + 1] == kSOF0) {
                p.height = uint16_t((seg[1] << 8) | seg[2]);
                p.width = uint16_t((seg[3] << 8) | seg[4]);
                for (size_t c = 0; c < seg[5] && 8 + 3 * c <= len - 2; ++c) used.push_back(seg[8 + 3 * c] & 3);
            }
            pos += 2 + len;
        }
        if (pos + 4 > data.size()) return pictures;
        const size_t scan = pos + 2 + ((size_t(data[pos + 2]) << 8) | data[pos + 3]);
        size_t end = scan;
        while (end + 1 < data.size() && !(data[end] == kMarker && data[end + 1] == kEOI)) ++end;
        if (end + 1 >= data.size()) return pictures;
        for (uint8_t t : used) p.tables.insert(p.tables.end(), tables[t].begin(), tables[t].end());
        p.scan.assign(data.begin() + long(scan), data.begin() + long(end));
        p.whole.assign(data.begin() + long(at), data.begin() + long(end + 2));
        pictures.push_back(std::move(p));
        at = end + 2;
    }
    return pictures;
}

// Feeds the packets to a new CRTPMJPEG (after Setup with pSetup, when given),
// then one packet of the next timestamp, which closes the last picture. Fails
// the test when the depacketizer's invariants break after any packet.
inline std::vector<CSunkFrame> ReplayJpeg(const std::vector<Bytes>& packets, const char* pSetup = nullptr)
{
    CFrameSink sink(CRTPMJPEG::kDefaultPayloadType);
    auto* pJpeg = sink.Use(new CRTPMJPEG(&sink));
    if (pSetup != nullptr) {
        EXPECT_EQ(pJpeg->Setup(pSetup), JX_OK) << pSetup;
    }
    sink.FeedAll(packets);
    CRTPParser last;
    if (packets.empty() || last.Setup(packets.back().data(), uint32_t(packets.back().size())) != JX_OK) {
        return sink.m_Frames;
    }
    CTestRTP next;
    next.m_PT = uint8_t(CRTPMJPEG::kDefaultPayloadType);
    next.m_SSRC = last.m_SSRC;
    next.m_Seq = uint16_t(last.m_SeqNo + 1);
    next.m_TS = last.m_TimeStamp + 3600;
    sink.Feed(next.Build(std::string(8, '\x01')));
    return sink.m_Frames;
}

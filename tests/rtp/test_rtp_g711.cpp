// G.711 depacketizers: GStreamer's captures replayed against the source
// samples, under any payload type number, and packet scripts of loss and
// duplication.
#include "rtp_harness.h"
#include "rtpg711.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The samples of a WAV file's data chunk.
Bytes WavSamples(const Bytes& wav)
{
    constexpr size_t kRiffHead = 12, kChunkHead = 8;
    for (size_t at = kRiffHead; at + kChunkHead <= wav.size();) {
        const size_t n = wav[at + 4] | (wav[at + 5] << 8) | (wav[at + 6] << 16) | (size_t(wav[at + 7]) << 24);
        if (memcmp(&wav[at], "data", 4) == 0 && at + kChunkHead + n <= wav.size()) {
            return Bytes(wav.begin() + long(at + kChunkHead), wav.begin() + long(at + kChunkHead + n));
        }
        at += kChunkHead + n + (n & 1);
    }
    return {};
}

// The law comes from the class the a=rtpmap: line chose, never from the
// payload type number: a dynamic number (97 mapped to PCMA) still delivers
// and describes A-law. Each frame holds the payloads of the packets listed;
// nothing closes the last one: every packet is a frame and goes out as it comes.
TEST(RTPG711, CapturesDeliverWholeFramesOfTheirLaw)
{
    const std::vector<std::vector<size_t>> kEach = {{0}, {1}, {2}, {3}, {4}, {5}};
    const struct {
        const char* name;
        bool muLaw;
        uint8_t payloadType;   // written into every packet and given to the stream
        std::vector<CLoss> losses;
        std::vector<std::vector<size_t>> frames;
    } rows[] = {
        {"g711_alaw", false, 8, {}, kEach},
        {"g711_mulaw", true, 0, {}, kEach},
        {"g711_alaw", false, 97, {}, kEach},
        {"g711_mulaw", true, 96, {}, kEach},
        {"g711_alaw", false, 8, {{CLoss::kDrop, 2}}, {{0}, {1}, {3}, {4}, {5}}},
        {"g711_alaw", false, 8, {{CLoss::kDuplicate, 2}}, kEach},   // its samples once
        {"g711_alaw", false, 8, {{CLoss::kStraySSRC, 3}}, {{0}, {1}, {2}, {4}, {5}}},   // refused
        {"g711_alaw", false, 8, {{CLoss::kTimestampOfPrevious, 3}}, kEach},
    };
    constexpr size_t kRTPHead = 12;
    for (const auto& row : rows) {
        const std::string what = std::string(row.name) + ", PT " + std::to_string(row.payloadType) + ", op " +
                                 std::to_string(row.losses.empty() ? -1 : row.losses[0].m_Op);
        std::vector<Bytes> packets = LoadCapture(std::string(row.name) + ".rtp");
        const Bytes samples = WavSamples(LoadDataFile(std::string("rtp/") + row.name + ".wav"));
        ASSERT_EQ(packets.size(), kEach.size()) << what;
        for (Bytes& p : packets)
            p[1] = uint8_t((p[1] & 0x80) | row.payloadType);
        CFrameSink sink(row.payloadType);
        CRTPPCMA* pG711 = row.muLaw ? sink.Use(new CRTPPCMU(&sink)) : sink.Use(new CRTPPCMA(&sink));
        sink.FeedAll(ApplyLosses(packets, row.losses));

        const uint8_t codec = row.muLaw ? JX_CODEC_PCMU : JX_CODEC_PCMA;
        ASSERT_EQ(sink.m_Frames.size(), row.frames.size()) << what;
        Bytes all;
        for (size_t f = 0; f < row.frames.size(); ++f) {
            Bytes expect;
            for (size_t i : row.frames[f]) expect.insert(expect.end(), packets[i].begin() + kRTPHead, packets[i].end());
            const CSunkFrame& got = sink.m_Frames[f];
            EXPECT_TRUE(got.m_Data == expect) << what << ", frame " << f;
            EXPECT_EQ(std::vector<int>({got.m_Codec, got.m_Type, int(got.m_Freq)}),
                      std::vector<int>({codec, JX_FRAME_AUDIO, 8000}))
                << what;
            all.insert(all.end(), got.m_Data.begin(), got.m_Data.end());
        }
        EXPECT_TRUE(!row.losses.empty() || all == samples) << what << ": not the source's samples";
        CJXMediaDesc* pDesc = CJXMediaDesc::Create();
        ASSERT_EQ(pG711->GetHead(pDesc), JX_OK);
        ASSERT_NE(pDesc->m_Audio, nullptr);
        EXPECT_EQ(pDesc->m_Audio->nCodec, codec) << what;
        EXPECT_EQ(pDesc->m_Audio->nRate, 8000u);
        EXPECT_EQ(pDesc->m_Audio->nChannels, 1);
        pDesc->Release();
    }
}

}   // namespace

// G.711 depacketizers: GStreamer's captures replayed against the source
// samples, under any payload type number, and packet scripts of loss and
// duplication.
#include "rtp_capture.h"
#include "rtpg711.h"
#include "rtpparser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

class CAudioSink : public CRTPSocket {
public:
    int OnRecvFrame(CPacket* p) override
    {
        EXPECT_EQ(p->FrameGetType(), JX_FRAME_AUDIO);
        EXPECT_EQ(p->FrameGetFreq(), 8000u);
        m_Codecs.push_back(p->FrameGetCodec());
        m_Frames.emplace_back(p->FrameGetData(), p->FrameGetData() + p->FrameGetLength());
        return 0;
    }
    std::vector<Bytes> m_Frames;
    std::vector<uint8_t> m_Codecs;
};

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

// Feeds the packets; nothing closes the last one: every packet is a frame
// and goes out as it comes.
void Replay(CRTPPCMA& g711, const std::vector<Bytes>& packets)
{
    CRTPParser rtp;
    for (const Bytes& p : packets) {
        if (rtp.Setup(p.data(), uint32_t(p.size())) == JX_OK) g711.Receive(rtp);
        EXPECT_EQ(g711.CheckInvariants(), JX_OK);
    }
}

// The law comes from the class the a=rtpmap: line chose, never from the
// payload type number: a dynamic number (97 mapped to PCMA) still delivers
// and describes A-law. Each frame holds the payloads of the packets listed.
TEST(RTPG711, CapturesDeliverWholeFramesOfTheirLaw)
{
    enum EOp { kNone, kDrop, kDuplicate, kStraySSRC, kSameTimestampAsPrevious };
    const std::vector<std::vector<size_t>> kEach = {{0}, {1}, {2}, {3}, {4}, {5}};
    const struct {
        const char* name;
        bool muLaw;
        uint8_t payloadType;   // written into every packet and given to the stream
        EOp op;
        size_t at;
        std::vector<std::vector<size_t>> frames;
    } rows[] = {
        {"g711_alaw", false, 8, kNone, 0, kEach},
        {"g711_mulaw", true, 0, kNone, 0, kEach},
        {"g711_alaw", false, 97, kNone, 0, kEach},
        {"g711_mulaw", true, 96, kNone, 0, kEach},
        {"g711_alaw", false, 8, kDrop, 2, {{0}, {1}, {3}, {4}, {5}}},
        {"g711_alaw", false, 8, kDuplicate, 2, kEach},   // its samples once
        {"g711_alaw", false, 8, kStraySSRC, 3, {{0}, {1}, {2}, {4}, {5}}},   // refused
        {"g711_alaw", false, 8, kSameTimestampAsPrevious, 3, kEach},
    };
    constexpr size_t kRTPHead = 12;
    for (const auto& row : rows) {
        const std::string what = std::string(row.name) + ", PT " + std::to_string(row.payloadType) + ", op " +
                                 std::to_string(row.op);
        const std::vector<Bytes> packets = LoadCapture(std::string(row.name) + ".rtp");
        const Bytes samples = WavSamples(LoadDataFile(std::string("rtp/") + row.name + ".wav"));
        ASSERT_EQ(packets.size(), kEach.size()) << what;
        std::vector<Bytes> script;
        for (size_t i = 0; i < packets.size(); ++i) {
            Bytes p = packets[i];
            p[1] = uint8_t((p[1] & 0x80) | row.payloadType);
            if (i == row.at && row.op == kDrop) continue;
            if (i == row.at && row.op == kStraySSRC) p[11] ^= 0x5A;
            if (i == row.at && row.op == kSameTimestampAsPrevious) std::copy(&packets[i - 1][4], &packets[i - 1][8], &p[4]);
            script.push_back(p);
            if (i == row.at && row.op == kDuplicate) script.push_back(p);
        }
        CAudioSink sink;
        auto* pG711 = row.muLaw ? new CRTPPCMU(&sink) : new CRTPPCMA(&sink);
        sink.m_Media = pG711;
        pG711->m_PayloadType = row.payloadType;
        Replay(*pG711, script);

        const uint8_t codec = row.muLaw ? JX_CODEC_PCMU : JX_CODEC_PCMA;
        ASSERT_EQ(sink.m_Frames.size(), row.frames.size()) << what;
        Bytes all;
        for (size_t f = 0; f < row.frames.size(); ++f) {
            Bytes expect;
            for (size_t i : row.frames[f]) expect.insert(expect.end(), packets[i].begin() + kRTPHead, packets[i].end());
            EXPECT_TRUE(sink.m_Frames[f] == expect) << what << ", frame " << f;
            EXPECT_EQ(sink.m_Codecs[f], codec) << what;
            all.insert(all.end(), sink.m_Frames[f].begin(), sink.m_Frames[f].end());
        }
        EXPECT_TRUE(row.op != kNone || all == samples) << what << ": not the source's samples";
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

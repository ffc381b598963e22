// AAC depacketizers: GStreamer's and ffmpeg's captures replayed against the
// clip's access units, set-up from a=fmtp: lines, and packet scripts of
// hostile and lost packets in both payload formats.
#include "rtp_harness.h"
#include "rtpaac.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

// The access units of an ADTS file: each frame without its 7-byte header (9
// with a CRC).
std::vector<Bytes> AdtsUnits(const Bytes& adts)
{
    std::vector<Bytes> units;
    for (size_t at = 0; at + 7 <= adts.size();) {
        const size_t nFrame = (size_t(adts[at + 3] & 3) << 11) | (size_t(adts[at + 4]) << 3) | (adts[at + 5] >> 5);
        const size_t nHead = (adts[at + 1] & 1) != 0 ? 7 : 9;
        if (adts[at] != 0xFF || nFrame < nHead || at + nFrame > adts.size()) return {};
        units.emplace_back(adts.begin() + long(at + nHead), adts.begin() + long(at + nFrame));
        at += nFrame;
    }
    return units;
}

// A depacketizer of either format, owned by the sink's stream.
CRTPAACMedia* Make(CFrameSink& sink, bool bLatm)
{
    return bLatm ? static_cast<CRTPAACMedia*>(sink.Use(new CRTPLATM(&sink))) : sink.Use(new CRTPAAC(&sink));
}

// Every frame is an AAC audio frame at the rate.
void ExpectAAC(const CFrameSink& sink, uint32_t nRate, const std::string& what)
{
    for (const CSunkFrame& f : sink.m_Frames) {
        EXPECT_EQ(std::vector<int>({f.m_Type, f.m_Codec, int(f.m_Freq)}),
                  std::vector<int>({JX_FRAME_AUDIO, JX_CODEC_AAC, int(nRate)}))
            << what;
    }
}

// Each capture's packets hold the clip's access units in order, one frame
// each, 1024 ticks apart, whatever the packets' grouping; the stream is
// chosen by its a=rtpmap: line, in any letter case.
TEST(RTPAAC, CapturesDeliverTheClipsAccessUnits)
{
    const struct {
        const char* name;
        const char* clip;
        size_t units;   // the clip's first units the capture holds
        bool latm;
        const char* rename;   // an encoding name written in place of the capture's, or null
        uint32_t rate;
        uint16_t channels;
        const char* config;   // the AudioSpecificConfig in the description
    } rows[] = {
        {"aac_hbr_16k", "aac_16k_mono", 17, false, nullptr, 16000, 1, "14 08"},
        {"aac_hbr_frag", "aac_16k_mono", 17, false, "mpeg4-generic", 16000, 1, "14 08"},
        {"aac_hbr_ff", "aac_16k_mono", 15, false, nullptr, 16000, 1, "14 08"},   // 3 and 4 units a packet
        {"aac_hbr_48k", "aac_48k_stereo", 25, false, nullptr, 48000, 2, "11 90"},
        {"aac_latm_16k", "aac_16k_mono", 17, true, nullptr, 16000, 1, "14 08"},
        {"aac_latm_frag", "aac_16k_mono", 17, true, "mp4a-latm", 16000, 1, "14 08"},
        {"aac_latm_ff", "aac_16k_mono", 17, true, nullptr, 16000, 1, "14 08"},
        {"aac_latm_48k", "aac_48k_stereo", 25, true, "Mp4a-Latm", 48000, 2, "11 90"},
    };
    for (const auto& row : rows) {
        const std::string what = row.name;
        const std::vector<Bytes> units = AdtsUnits(LoadDataFile(std::string("rtp/") + row.clip + ".aac"));
        const std::vector<Bytes> packets = LoadCapture(what + ".rtp");
        ASSERT_GE(units.size(), row.units) << what;
        ASSERT_FALSE(packets.empty()) << what;
        const Bytes sdpFile = LoadDataFile("rtp/" + what + ".sdp");
        std::istringstream sdp(std::string(sdpFile.begin(), sdpFile.end()));
        std::string rtpmap, fmtp;
        std::getline(sdp, rtpmap);
        std::getline(sdp, fmtp);
        if (row.rename != nullptr) rtpmap.replace(rtpmap.find(' ') + 1, strlen(row.rename), row.rename);

        CFrameSink sink(uint16_t(std::stoi(rtpmap.substr(strlen("a=rtpmap:")))));
        EXPECT_EQ(sink.ParseRTPMap(rtpmap.c_str()), 1) << what;
        EXPECT_EQ(sink.m_Encoding, JX_CODEC_AAC) << what;
        auto* pAAC = dynamic_cast<CRTPAACMedia*>(sink.m_Media);
        ASSERT_NE(pAAC, nullptr) << what;
        EXPECT_EQ(dynamic_cast<CRTPLATM*>(pAAC) != nullptr, row.latm) << what;
        EXPECT_EQ(sink.ParseFMTP(fmtp.c_str()), 1) << what;
        ASSERT_TRUE(pAAC->IsReady()) << what << ": " << fmtp;
        EXPECT_EQ(pAAC->m_Clock.GetRate(), row.rate) << what;
        sink.FeedAll(packets);
        ExpectAAC(sink, row.rate, what);

        ASSERT_EQ(sink.m_Frames.size(), row.units) << what;
        for (size_t i = 0; i < row.units; ++i) {
            EXPECT_TRUE(sink.m_Frames[i].m_Data == units[i]) << what << ", unit " << i;
            // GStreamer rounds each buffer's time to the clock on its own: a tick either way.
            const int64_t nTicks = int64_t(sink.m_Frames[i].m_RTPTime - sink.m_Frames[0].m_RTPTime);
            EXPECT_LE(std::abs(nTicks - int64_t(1024 * i)), 1) << what << ", unit " << i;
        }
        EXPECT_EQ(pAAC->m_FramesDropped, 0u) << what;
        CJXMediaDesc* pDesc = CJXMediaDesc::Create();
        ASSERT_EQ(sink.GetHead(pDesc), JX_OK) << what;
        ASSERT_NE(pDesc->m_Audio, nullptr);
        EXPECT_EQ(pDesc->m_Audio->nCodec, JX_CODEC_AAC) << what;
        EXPECT_EQ(pDesc->m_Audio->nRate, row.rate) << what;
        EXPECT_EQ(pDesc->m_Audio->nChannels, row.channels) << what;
        EXPECT_EQ(ToHex(pDesc->m_Audio->aConfig, pDesc->m_Audio->nConfigLen), ToHex(HexBytes(row.config))) << what;
        pDesc->Release();
    }
}

// What an a=fmtp: line sets up: the result, and for a usable one the rate,
// channels, frame length and the AudioSpecificConfig the description carries.
TEST(RTPAAC, SetupReadsTheConfig)
{
    const struct {
        bool latm;
        const char* fmtp;
        int result;
        uint32_t rate = 0, coreRate = 0;
        uint16_t channels = 0, frameSamples = 0;
        const char* config = "";
    } rows[] = {
        {false, "streamtype=5; mode=AAC-hbr; config=1210; SizeLength=13; IndexLength=3; IndexDeltaLength=3", JX_OK,
         44100, 44100, 2, 1024, "12 10"},
        {false, "mode=aac-hbr;config=1408", JX_OK, 16000, 16000, 1, 1024, "14 08"},   // lengths of the mode
        {false, "mode=AAC-lbr;config=140C", JX_OK, 16000, 16000, 1, 960, "14 0c"},    // 960-sample frames
        {false, "mode=AAC-hbr;config=2B118800", JX_OK, 48000, 24000, 2, 1024, "2b 11 88 00"},   // SBR
        {false, "mode=AAC-hbr;config=118004C8050001088000", JX_OK, 48000, 48000, 6, 1024,
         "11 80 04 c8 05 00 01 08 80 00"},   // 5.1 laid out by a PCE
        {false, "mode=AAC-hbr;config=140856E500", JX_OK, 16000, 16000, 1, 1024, "14 08 56 e5 00"},   // no SBR, said
        {false, "mode=AAC-hbr;config=131056E598", JX_OK, 48000, 24000, 2, 1024, "13 10 56 e5 98"},   // SBR, said after
        {false, "mode=CELP-cbr;config=1408", JX_ERR_UNSUPPORTED},
        {false, "mode=AAC-hbr;streamtype=4;config=1408", JX_ERR_UNSUPPORTED},
        {false, "mode=AAC-hbr;sizelength=13;ctsdeltalength=4;config=1408", JX_ERR_UNSUPPORTED},
        {false, "mode=AAC-hbr", JX_ERR_CONTENT},                   // no config
        {false, "mode=AAC-hbr;config=14", JX_ERR_CONTENT},         // cut short
        {false, "mode=AAC-hbr;config=14G8", JX_ERR_CONTENT},       // not hex
        {false, "mode=AAC-hbr;config=1408;sizelength=33", JX_ERR_CONTENT},
        {false, "mode=AAC-hbr;config=4408", JX_ERR_UNSUPPORTED},   // object type 8, CELP
        {true, "cpresent=0;config=40002810", JX_OK, 16000, 16000, 1, 1024, "14 08"},   // GStreamer's, cut short
        {true, "cpresent=0;config=400028103fc0", JX_OK, 16000, 16000, 1, 1024, "14 08"},
        {true, "cpresent=0;config=40002810adca00", JX_OK, 16000, 16000, 1, 1024, "14 08 56 e5 00"},   // avenc_aac's
        {true, "cpresent=0;config=8ff80001014081fe00", JX_OK, 16000, 16000, 1, 1024, "14 08"},   // version 1
        {true, "config=40002810", JX_ERR_UNSUPPORTED},   // cpresent is 1 unless given
        {true, "cpresent=1;config=40002810", JX_ERR_UNSUPPORTED},
        {true, "cpresent=0;config=400028104140", JX_ERR_UNSUPPORTED},   // fixed frame lengths
        {true, "cpresent=0;config=40102810", JX_ERR_UNSUPPORTED},       // two programs
        {true, "cpresent=0", JX_ERR_CONTENT},
        {true, "cpresent=0;config=4000", JX_ERR_CONTENT},
    };
    for (const auto& row : rows) {
        CFrameSink sink;
        CRTPAACMedia* pAAC = Make(sink, row.latm);
        EXPECT_EQ(pAAC->Setup(row.fmtp), row.result) << row.fmtp;
        EXPECT_EQ(pAAC->IsReady(), row.result == JX_OK) << row.fmtp;
        EXPECT_EQ(pAAC->CheckInvariants(), JX_OK) << row.fmtp;
        CJXMediaDesc* pDesc = CJXMediaDesc::Create();
        EXPECT_EQ(pAAC->GetHead(pDesc), row.result == JX_OK ? JX_OK : JX_ERR_STATE) << row.fmtp;
        if (row.result == JX_OK) {
            EXPECT_EQ(pDesc->m_Audio->nRate, row.rate) << row.fmtp;
            EXPECT_EQ(pDesc->m_Audio->nChannels, row.channels) << row.fmtp;
            EXPECT_EQ(ToHex(pDesc->m_Audio->aConfig, pDesc->m_Audio->nConfigLen), ToHex(HexBytes(row.config)));
            EXPECT_EQ(pAAC->m_Config.m_CoreRate, row.coreRate) << row.fmtp;
            EXPECT_EQ(pAAC->m_Config.m_FrameSamples, row.frameSamples) << row.fmtp;
        }
        pDesc->Release();
    }
}

// Hex of a script, its parts apart by "."; a part "n*hh" is n bytes hh.
Bytes ScriptHex(const std::string& text)
{
    Bytes out;
    for (const std::string& part : Words(text, '.')) {
        const size_t nStar = part.find('*');
        const Bytes b = nStar == std::string::npos ? HexBytes(part) : Bytes(std::stoul(part), HexBytes(part.substr(nStar + 1))[0]);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// Packet scripts: every packet's result, the frames and their timestamps, and
// the frames counted as dropped. mpeg4-generic rows use AAC-hbr (13-bit sizes,
// 3-bit indexes); LATM rows one unit an element. Tokens: "|" the next access
// unit (timestamp + 1024), "-" a packet lost, "seq=" its number; else a
// payload in hex, marked unless it ends in ","; "stray:" in front sends it
// under another SSRC without taking a sequence number. Frames: hex "@" the
// access units after the first packet's timestamp.
TEST(RTPAAC, PacketScripts)
{
    const struct {
        const char* what;
        bool latm;
        const char* script;
        const char* frames;
        uint64_t dropped;
    } rows[] = {
        {"one unit", false, "0010.0018.aabbcc", "aabbcc@0", 0},
        {"two units", false, "0020.0010.0010.aabb.ccdd", "aabb@0 ccdd@1", 0},
        {"index delta 2", false, "0020.0010.0012.aabb.ccdd", "aabb@0 ccdd@3", 0},
        {"AU-headers-length past the payload", false, "0040.0010!", "", 1},
        {"AU-headers-length 0", false, "0000.aabb!", "", 1},
        {"a size past the payload", false, "0010.0020.aabb! | 0010.0010.eeff", "eeff@1", 1},
        {"the second size past the payload", false, "0020.0010.0018.aabb.ccdd!", "", 1},
        {"bytes over", false, "0010.0010.aabbcc!", "", 1},
        {"fragments", false, "0010.0020.aabb, 0010.0020.ccdd", "aabbccdd@0", 0},
        {"fragments with a gap", false, "0010.0030.aabb, - 0010.0030.ccdd,! 0010.0030.eeff! | 0010.0010.1122", "1122@1", 1},
        {"last fragment lost", false, "0010.0030.aabb, - - | 0010.0010.1122", "1122@1", 1},
        {"first fragment lost", false, "0010.0030.ccdd, 0010.0030.eeff!", "", 1},
        {"a fragment of another size", false, "0010.0020.aabb, 0010.0028.ccdd!", "", 1},
        {"fragments past the size", false, "0010.0018.aabb, 0010.0018.ccdd!", "", 1},
        {"a dropped unit's packets refused up to its marked one", false,
         "0010.0030.aabb, - 0010.0030.ccdd,! 0010.0030.eeff! 0010.0010.1122", "1122@0", 1},
        {"a duplicate", false, "0010.0010.aabb seq=1000 0010.0010.aabb!", "aabb@0", 0},
        {"another SSRC between fragments", false, "0010.0020.aabb, stray:0010.0018.0a0b0c,! 0010.0020.ccdd", "aabbccdd@0", 0},
        {"LATM one unit", true, "03.aabbcc", "aabbcc@0", 0},
        {"LATM 300-byte unit", true, "ff.2d.300*a5", "300*a5@0", 0},
        {"LATM two elements", true, "02.aabb.01.cc", "aabb@0 cc@1", 0},
        {"LATM length past the payload", true, "05.aabb! | 01.ee", "ee@1", 1},
        {"LATM length cut after FF", true, "ff!", "", 1},
        {"LATM second element past the payload", true, "02.aabb.05!", "", 1},
        {"LATM fragments", true, "05.aabb, ccddee", "aabbccddee@0", 0},
        {"LATM fragments with a gap", true, "05.aabb, - cc,! ddee! | 01.ff", "ff@1", 1},
        {"LATM last fragment lost", true, "05.aabb, - | 01.ff", "ff@1", 1},
        {"LATM fragments short of the length", true, "05.aabb, cc!", "", 1},
        {"LATM without marker bits", true, "02.aabb, | 02.ccdd, | 01.ee", "aabb@0 ccdd@1 ee@2", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CFrameSink sink;
        CRTPAACMedia* pAAC = Make(sink, row.latm);
        pAAC->m_Clock.SetRate(16000);
        ASSERT_EQ(pAAC->Setup(row.latm ? "cpresent=0;config=40002810" : "mode=AAC-hbr;config=1408"), JX_OK);
        CTestRTP b;
        const uint32_t nFirst = b.m_TS;
        for (std::string tok : Words(row.script)) {
            if (BuilderToken(tok, b, 1024)) continue;
            const int32_t nExpect = TakeResultMark(tok);
            const bool bMark = tok.back() != ',';
            const bool bStray = tok.rfind("stray:", 0) == 0;
            CTestRTP use = b;
            use.m_SSRC ^= bStray ? 0x5A5A : 0;
            EXPECT_EQ(sink.Feed(use.Next(ScriptHex(tok.substr(bStray ? 6 : 0)), bMark)), nExpect) << tok;
            b.m_Seq = bStray ? b.m_Seq : use.m_Seq;
        }
        const std::vector<std::string> frames = Words(row.frames);
        ASSERT_EQ(sink.m_Frames.size(), frames.size());
        ExpectAAC(sink, 16000, row.what);
        for (size_t f = 0; f < frames.size(); ++f) {
            const size_t nAt = frames[f].find('@');
            EXPECT_EQ(ToHex(sink.m_Frames[f].m_Data), ToHex(ScriptHex(frames[f].substr(0, nAt)))) << f;
            EXPECT_EQ(sink.m_Frames[f].m_RTPTime - nFirst, 1024 * std::stoul(frames[f].substr(nAt + 1))) << f;
        }
        EXPECT_EQ(pAAC->m_FramesDropped, row.dropped);
    }
}

// The invariants see a state no packet may leave behind.
TEST(RTPAAC, InvariantsCatchBrokenState)
{
    const struct {
        const char* what;
        bool latm;
        void (*breakIt)(CRTPAACMedia&);
    } rows[] = {
        {"no channels", false, [](CRTPAACMedia& m) { m.m_Config.m_Channels = 0; }},
        {"a frame of 1000 samples", true, [](CRTPAACMedia& m) { m.m_Config.m_FrameSamples = 1000; }},
        {"a 33-bit size field", false, [](CRTPAACMedia& m) { static_cast<CRTPAAC&>(m).m_SizeLength = 33; }},
        {"no units an element", true, [](CRTPAACMedia& m) { static_cast<CRTPLATM&>(m).m_SubFrames = 0; }},
        {"bytes gathered with no fragment", true,
         [](CRTPAACMedia& m) { static_cast<CRTPLATM&>(m).m_Element.AppendDAT("x", 1); }},
    };
    for (const auto& row : rows) {
        CFrameSink sink;
        CRTPAACMedia* pAAC = Make(sink, row.latm);
        ASSERT_EQ(pAAC->Setup(row.latm ? "cpresent=0;config=40002810" : "mode=AAC-hbr;config=1408"), JX_OK);
        ASSERT_EQ(pAAC->CheckInvariants(), JX_OK) << row.what;
        row.breakIt(*pAAC);
        EXPECT_EQ(pAAC->CheckInvariants(), JX_ERR_STATE) << row.what;
    }
}

}   // namespace

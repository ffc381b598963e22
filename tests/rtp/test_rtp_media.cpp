// Depacketizer bases: packet scripts through the video and audio bases on the
// test clock (frame times, frame rate, marker trust, drops), the invariant
// check, CRTPFrame.
#include "rtpmedia.h"
#include "rtpparser.h"
#include "rtp_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>

namespace {

// A video depacketizer over the base: payloads appended as they are, NAL type 5
// of the first byte a key frame. It counts the bytes stored and forgets them in
// OnFrameReset; CheckInvariants compares: a reset that skipped the hook shows.
class CTestVideo : public CRTPMediaVideo {
public:
    static constexpr uint8_t kCodec = 18;
    static constexpr uint16_t kWidth = 640;
    static constexpr uint16_t kHeight = 480;

    explicit CTestVideo(CRTPSocket* pSocket) : CRTPMediaVideo(pSocket) { m_PayloadType = 96; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaVideo::OnRecvRTP(rtp);
        if (nResult != 0) return nResult;
        m_FrameType = m_FrameType != kNoType ? m_FrameType : (rtp.Payload()[0] & 0x1F) == 5 ? 1 : 0;
        return Append(rtp.Payload(), rtp.PayloadLength());
    }
    int32_t Append(const void* pData, int32_t nLen) { return Count(AppendFrame(pData, nLen), nLen); }
    // A unit given with its header of nHead bytes in front; 4 more for the start code.
    int32_t Nal(const Bytes& unit, int32_t nHead)
    {
        const int32_t nLen = static_cast<int32_t>(unit.size()) - nHead;
        return Count(AppendNAL(unit.data(), nHead, unit.data() + nHead, nLen), 4 + nHead + nLen);
    }
    int PackFrame() override
    {
        if (m_FrameType == kNoType || !CheckWaitKey()) return 0;
        const uint8_t nType = static_cast<uint8_t>(m_FrameMark != kNoType ? m_FrameMark : m_FrameType);
        return DeliverFrame(nType, kCodec, kWidth, kHeight, m_FrameType == 1 ? m_Prefix : nullptr, m_NalFlags);
    }
    int32_t CheckInvariants() const override
    {
        const int32_t nResult = CRTPMediaVideo::CheckInvariants();
        return nResult != JX_OK ? nResult : (m_Stored == m_Buffer.m_Length ? JX_OK : JX_ERR_STATE);
    }

    CJXMediaHead* m_Prefix = nullptr;   // parameter sets put in front of key frames
    int64_t m_Stored = 0;

protected:
    void OnFrameReset(bool /*bLost*/) override { m_Stored = 0; }
    int32_t Count(int32_t nResult, int32_t nLen)
    {
        m_Stored += nResult == JX_OK ? nLen : 0;
        return nResult;
    }
};

// Parameter sets 67 AA and 68 BB, less those flagged in-band; m_WriteError
// makes it write another size than it promised.
class CTestHead : public CJXVideoHead {
public:
    int32_t GetCodec() const override { return 1; }
    int32_t SetNAL(uint16_t, const uint8_t*, int32_t) override { return 0; }
    int32_t GetHeadSize(uint16_t nFlags) override
    {
        return (nFlags & JX_NAL_FLAG_SPS ? 0 : 6) + (nFlags & JX_NAL_FLAG_PPS ? 0 : 6);
    }
    int32_t WriteHead(uint8_t* pOut, uint16_t nFlags) override
    {
        const uint8_t kSets[] = {0, 0, 0, 1, 0x67, 0xAA, 0, 0, 0, 1, 0x68, 0xBB};
        memcpy(pOut, (nFlags & JX_NAL_FLAG_SPS) ? kSets + 6 : kSets, static_cast<size_t>(GetHeadSize(nFlags)));
        return GetHeadSize(nFlags) + m_WriteError;
    }
    bool IsReady() override { return true; }
    int32_t m_WriteError = 0;
};

class CTestAudio : public CRTPMediaAudio {
public:
    explicit CTestAudio(CRTPSocket* pSocket) : CRTPMediaAudio(pSocket) { m_PayloadType = 96; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaAudio::OnRecvRTP(rtp);
        return nResult != 0 ? nResult : AppendFrame(rtp.Payload(), rtp.PayloadLength());
    }
    int32_t Append(const void* pData, int32_t nLen) { return AppendFrame(pData, nLen); }
    int PackFrame() override
    {
        m_Frames.emplace_back(m_Buffer.m_Data, m_Buffer.m_Data + m_Buffer.m_Length);
        return 0;
    }
    int GetHead(CJXMediaDesc*) override { return 0; }
    std::vector<Bytes> m_Frames;
};

Bytes Pattern(size_t n, uint32_t nSeed, uint8_t nLead)
{
    Bytes b(n);
    for (auto& c : b)
        c = static_cast<uint8_t>((nSeed = nSeed * 1103515245u + 12345u) >> 16);
    b[0] = nLead;
    return b;
}

// A payload or a frame in a script: "@name" one of these, "hex:..." bytes in
// hex, else the text, a leading K or N standing for the first byte of a key
// (0x65) or non-key (0x41) frame.
Bytes Blob(const std::string& text)
{
    static const std::map<std::string, Bytes> blobs = {
        {"chunk", Pattern(60000, 3, 0x41)},
        {"2M", Pattern(2 << 20, 7, 0x65)},
        {"ee", ToBytes("\x65" + std::string(1499, '\xEE'))},         // goes back to the pool dirty
        {"aa", ToBytes("\x41" + std::string(999, 'a'))},             // the next frame, of that size class
        {"over", Bytes(CRTPMediaVideo::kMaxFrameBytes - 4, 0x11)},   // with its start code, 2 bytes over behind 2
        {"a60k", Bytes(60000, 'a')},
        {"a120k", Bytes(120000, 'a')},
    };
    if (text[0] == '@') return blobs.at(text.substr(1));
    if (text.rfind("hex:", 0) == 0) return HexBytes(text.substr(4));
    Bytes b = ToBytes(text);
    b[0] = b[0] == 'K' ? 0x65 : b[0] == 'N' ? 0x41 : b[0];
    return b;
}

// One row: a packet script and what must come of it, on the test clock. Script
// tokens, apart by blanks: "|" the next frame (timestamp + 3600, or "|3000"),
// the clock moving on as far; "jump=" the timestamp alone, "wait=" the clock
// alone (ms), "ts=" the timestamp set; "frames=" as many frames handed on so
// far; "-" one packet lost; "seq=", "ssrc=", "pt=" the builder's fields; "mark=", "flags=" the
// frame's, as a payload format sets them; "clear=" ClearBuffer; "nalN:" a NAL
// unit with an N-byte header through AppendNAL; "null=n" AppendFrame(nullptr, n);
// anything else a packet (a payload as Blob reads it; "^" marker set, "*n" n
// times, "/n" in pieces of n bytes). A trailing "!" expects JX_ERR_CONTENT,
// "?" JX_ERR_ARG, of the packet or call. Options: "audio"; "ssrc=" as named
// by SETUP; "head=1" parameter sets in front of key frames, "head=2" a head
// that breaks its size; "types=", "fps=", "at=" (ms after the first frame's
// time, "-" unchecked) each frame's, comma-separated; "dropped=" the frames
// counted as dropped at the end; "hold" the stream keeps every frame's packet,
// whose bytes must still be the frame's at the end.
struct Scenario {
    const char* pName;
    const char* pScript;
    const char* pFrames;      // every frame handed on, as Blob reads it
    const char* pLogs = "";   // a piece of every log line, in order, apart by '|'
    const char* pOptions = "";
};

// clang-format off
const Scenario kScenarios[] = {
    {"a new timestamp closes the frame, not the marker", "Kone,^ two, three | Nnext", "Kone,two,three", "", "types=1 fps=25"},
    {"nothing before the first key frame", "Np1 | Np2 | Ki1 | Np3 | Np4", "Ki1 Np3", "", "types=1,0"},
    {"the sequence number wraps inside a frame", "seq=65534 Ka b c d | N", "Kabcd"},
    {"a gap inside a frame drops it, a key frame awaited", "Kk | seq=10 Na - c! | Nlost | Kback | N", "Kk Kback", "SN Error: cur-sn = 12, prev-sn = 10\n", "dropped=2"},
    {"the rest of a frame dropped on a loss is refused, key slices too", "Kk | Kslice1, - Kslice3,! Kslice4! | Kwhole | N", "Kk Kwhole", "SN Error"},
    {"a frame that stored nothing passes no type on", "Kk | Na - c! pt=100 Kfec! null=0! pt=96 | Np | N", "Kk", "SN Error"},
    {"a gap while the buffer is empty is not reported", "Kk | seq=10 Na seq=12 c! seq=20 x!", "Kk", "SN Error: cur-sn = 12, prev-sn = 10\n"},
    {"a gap between frames is not looked for", "seq=1 Ka b | seq=5 Nc | N", "Kab Nc"},
    {"the SSRC is learned, another refused, logged once an attempt", "Ka ssrc=0x55667788 x! | Ky! ssrc=0x11223344 | Kb | N", "Kb", "video SSRC Error: curr-ssrc = 0x55667788, prev-ssrc = 0x11223344\n"},
    // An encoder that restarts goes on with another SSRC: followed at its
    // fourth packet in sequence, from its next key frame, its times anew.
    {"a new source is followed at its key frame", "Ka | Nb | ssrc=0x55667788 seq=5000 Kc! | Nd! | Ne! | Kf | Ng | N", "Ka Kf Ng", "video SSRC Error: curr-ssrc = 0x55667788, prev-ssrc = 0x11223344\n|video source changed to SSRC 0x55667788", "types=1,1,0 dropped=1"},
    {"a new source taken mid-frame: the rest of that frame refused", "Ka | Nb | ssrc=0x55667788 seq=5000 Kc! Kd! Ke! Kf! Kg! | Nh | Ki | N", "Ka Ki", "video SSRC Error|video source changed"},
    {"a new source out of sequence counts again", "Ka | Nz | ssrc=0x55667788 seq=7000 Kb! | Kc! seq=7005 | Kd! | Ke! | Kf! | Kg | N", "Ka Kg", "video SSRC Error|video source changed"},
    {"stray packets among the source's never take it over", "Ka ssrc=0x55667788 seq=7000 x! ssrc=0x11223344 seq=1001 Kb! ssrc=0x55667788 seq=7001 x! ssrc=0x11223344 seq=1002 Kc! ssrc=0x55667788 seq=7002 x! ssrc=0x11223344 seq=1003 Kd! ssrc=0x55667788 seq=7003 x! ssrc=0x11223344 seq=1004 Ke! | Kf | N", "Kf", "video SSRC Error|video SSRC Error|video SSRC Error|video SSRC Error"},
    {"a source SETUP named that never comes is left for the one that does", "Ka! | Nb! | Nc! | Kd | N", "Kd", "prev-ssrc = 0xaabbccdd\n|video source changed to SSRC 0x11223344", "ssrc=0xAABBCCDD"},
    {"a new source's frame times start at its arrival", "K0 |3600 N1 |3600 ssrc=0x55667788 ts=12345 Ka! |3600 Nb! |3600 Nc! |3600 K2 |3600 N3 |3600 N", "K0 K2 N3", "video SSRC Error|video source changed", "at=0,200,240"},
    {"audio follows a new source at its fourth packet", "aa |160 bb ssrc=0x01010101 seq=300 cc! |160 dd! |160 ee! |160 ff |160 gg", "aa ff", "audio SSRC Error: curr-ssrc = 0x01010101, prev-ssrc = 0x11223344\n|audio source changed to SSRC 0x01010101", "audio"},
    {"a preset SSRC refuses another's first packet", "Ka! ssrc=0xAABBCCDD | Kb | N", "Kb", "video SSRC Error: curr-ssrc = 0x11223344, prev-ssrc = 0xaabbccdd\n", "ssrc=0xAABBCCDD"},
    {"SSRC 0 is learned once like any other", "ssrc=0 Ka | ssrc=0x55667788 Kx! ssrc=0 | Kb | N", "Kb", "video SSRC Error: curr-ssrc = 0x55667788, prev-ssrc = 0x00000000\n"},
    {"a foreign payload type is taken unchecked, unrecorded", "Ka pt=97 ssrc=0x99999999 |12345 seq=1050 F pt=96 ssrc=0x11223344 |-12345 seq=1001 b | N", "KaFb"},
    {"key frames get the sets in front, less those brought", "Kidr | Np | Kidr2 flags=0x100 | N", "hex:0000000167aa0000000168bb65696472 Np hex:0000000168bb6569647232", "", "types=1,0,1 head=1"},
    {"a head writing another size than promised: nothing", "Kx | N", "", "CRTPMediaVideo::DeliverFrame(", "head=2"},
    {"a mark is carried; a recycled packet ends in zeros", "@ee | @aa mark=9 | N", "@ee @aa", "", "types=1,9"},
    {"a key frame of two megabytes", "@2M/1400 | N", "@2M"},
    // Frames are gathered in the packet they go out in: one a receiver keeps
    // is never written again, and a dropped frame's packet carries the next.
    {"frames a receiver keeps are not touched by those gathered after", "Kk | @2M/1400 | @ee | @aa | Nend | N", "Kk @2M @ee @aa Nend", "", "hold"},
    {"a dropped frame's packet carries the next, none of its bytes", "Kk | @chunk/1400 - Nx! | Kback | N", "Kk Kback", "SN Error", "dropped=1"},
    {"a frame over the cap: dropped, logged once, key awaited", "Kk | @chunk*139 @chunk*4! | @chunk*139 @chunk*4! | Nwaiting | Kafter | N", "Kk Kafter", "Frame over 8388608 bytes dropped"},
    {"a NAL unit: start code, 1- or 2-byte header, the rest", "Kk nal1:hex:656162 nal2:hex:260163 nal3:hex:65616263? nal0:hex:61? | N", "hex:656b0000000165616200000001260163"},
    {"a NAL unit past the cap is not stored in part", "Kk | Ka nal1:@over! b! | N", "Kk", "Frame over"},
    {"a missing payload is refused without harm", "Ka null=1? null=0 b | N", "Kab"},
    {"ClearBuffer; after a loss it waits for a key frame", "Kk | Na clear=0 b | Nc clear=1 d | Ne | Kf | N", "Kk b Kf", "", "types=1,0,1"},
    // Times are the RTP distance from the first frame, in whole ms; the rate is
    // the lower median of the spacings so far.
    {"frame times from RTP time, the rate the median spacing", "K0 |3600 N1 |3000 N2 |3000 N3 |3000 K4 |3000 N5 |3000 N", "K0 N1 N2 N3 K4 N5", "", "types=1,0,0,0,1,0 fps=25,25,30,30,30,30 at=0,40,73,106,140,173"},
    {"whole frames lost: the next carries its true time", "K0 |3600 N1 - - |10800 N2 |3600 N3 | N", "K0 N1 N2 N3", "", "fps=25,25,25,25 at=0,40,160,200 dropped=0"},
    {"a 3 s silence is a 3 s gap, nothing slowed", "K0 |3600 N1 |270000 N2 |3600 N3 |3600 N4 | N", "K0 N1 N2 N3 N4", "", "fps=25,25,25,25,25 at=0,40,3040,3080,3120 dropped=0"},
    {"late arrival moves no frame time", "K0 |3600 N1 wait=300 |3600 N2 |3600 N3 wait=700 | N", "K0 N1 N2 N3", "", "at=0,40,80,120"},
    {"a variable rate, 25 to 5 to 25 fps", "K0 |3600 N1 |3600 N2 |18000 N3 |18000 N4 |18000 N5 |18000 N6 |3600 N7 |3600 N8 |3600 N9 |3600 N", "K0 N1 N2 N3 N4 N5 N6 N7 N8 N9", "", "fps=25,25,25,25,25,5,5,5,25,25 at=0,40,80,280,480,680,880,920,960,1000"},
    {"the timestamp wraps", "ts=0xFFFFE000 K0 |3600 N1 |3600 N2 |3600 N", "K0 N1 N2", "", "at=0,40,80"},
    {"a camera clock jump re-anchors at arrival", "K0 |3600 N1 jump=900000 |3600 N2 |3600 N3 | N", "K0 N1 N2 N3", "frame times re-anchored at arrival: RTP time was 10000 ms off", "at=0,40,80,120"},
    {"a jump back never takes times back", "K0 |3600 N1 |3600 N2 jump=-180000 |3600 N3 |3600 N", "K0 N1 N2 N3", "re-anchored at arrival: RTP time was -2000 ms off", "at=0,40,80,120"},
    // Eight frames closed by marker and timestamp alike win trust: the ninth
    // goes out at its marked packet, not when the next begins.
    {"marker trust won", "Ka b^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | frames=7 Nc d^ frames=9 | Ne f^ frames=10", "Kab Ncd Ncd Ncd Ncd Ncd Ncd Ncd Ncd Nef"},
    {"marker trust lost: framed by timestamp again, logged once", "Ka b^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ frames=9 | Ng h^ i frames=10 | Nj k^ frames=11 | N", "Kab Ncd Ncd Ncd Ncd Ncd Ncd Ncd Ncd Ngh i Njk", "Marker bits disagree with timestamps"},
    {"a marked packet before a loss wins no trust", "Ka b^ | Nc d^ | Nc d^ - | Nc d^ - | Nc d^ | Nc d^ | Nc d^ | Nc d^ | Nc d^ frames=8 | N", "Kab Ncd Ncd Ncd Ncd Ncd Ncd Ncd Ncd"},
    // Audio: a gap clears the frame and the packet starts it afresh; a stray
    // SSRC clears it; a foreign payload type is taken unchecked.
    {"audio order checks", "seq=65535 aa bb |160 cc - dd ssrc=0x01010101 zz! ssrc=0x11223344 ee |160 ff pt=0 |99 gg pt=96 |-99 |160 hh", "aabb ee ffgg", "SN Error: cur-sn = 3, prev-sn = 1\n|audio SSRC Error: curr-ssrc = 0x01010101, prev-ssrc = 0x11223344\n", "audio"},
    {"an audio frame over the cap: dropped, the next starts anew", "@a60k*17 @a60k! @a60k*2 null=0 null=1? |160 x", "@a120k", "", "audio"},
};
// clang-format on

constexpr uint64_t kTestClockStartMs = 5000000;

void RunToken(std::string tok, CTestRTP& b, CRTPMedia& media, CTestVideo* pVideo, CFrameSink& sink)
{
    const int32_t nExpect = TakeResultMark(tok);
    int64_t nStep = 0;
    if (BuilderToken(tok, b, 3600, &nStep)) {
        CJXTime::AdvanceTestClock(static_cast<uint64_t>(std::max<int64_t>(0, nStep * 1000 / media.m_Clock.GetRate())));
        return;
    }
    const size_t nEq = tok.find('=');
    const std::string key = tok.substr(0, nEq), value = nEq == std::string::npos ? "" : tok.substr(nEq + 1);
    const uint32_t n = static_cast<uint32_t>(strtoul(value.c_str(), nullptr, 0));
    if (key == "wait") {
        CJXTime::AdvanceTestClock(n);
    } else if (key == "frames") {
        EXPECT_EQ(sink.m_Frames.size(), n);
    } else if (key == "mark") {
        pVideo->m_FrameMark = static_cast<uint16_t>(n);
    } else if (key == "flags") {
        pVideo->m_NalFlags = static_cast<uint16_t>(n);
    } else if (key == "clear") {
        pVideo->ClearBuffer(static_cast<int>(n));
    } else if (key == "null") {
        auto* pAudio = dynamic_cast<CTestAudio*>(&media);
        EXPECT_EQ(pAudio ? pAudio->Append(nullptr, int32_t(n)) : pVideo->Append(nullptr, int32_t(n)), nExpect);
    } else if (tok.rfind("nal", 0) == 0) {
        EXPECT_EQ(pVideo->Nal(Blob(tok.substr(5)), tok[3] - '0'), nExpect);
    } else {
        const size_t nOp = std::min(tok.find_first_of("*/^"), tok.size());
        const Bytes payload = Blob(tok.substr(0, nOp));
        const char cOp = nOp < tok.size() ? tok[nOp] : '\0';
        const size_t nArg = cOp == '*' || cOp == '/' ? strtoul(tok.c_str() + nOp + 1, nullptr, 10) : 1;
        const size_t nPiece = cOp == '/' ? nArg : payload.size();
        for (size_t i = 0; i < (cOp == '/' ? 1 : nArg); ++i) {
            for (size_t nPos = 0; nPos < payload.size(); nPos += nPiece) {
                const Bytes pkt = b.Next(payload.data() + nPos, std::min(nPiece, payload.size() - nPos), cOp == '^');
                EXPECT_EQ(sink.Feed(pkt), nExpect) << "seq " << b.m_Seq - 1;
            }
        }
    }
}

// The value of an option ("" when absent), commas as blanks.
std::string Option(const Scenario& s, const std::string& key)
{
    for (std::string w : Words(s.pOptions)) {
        if (w != key && w.rfind(key + "=", 0) != 0) continue;
        std::replace(w.begin(), w.end(), ',', ' ');
        return w == key ? key : w.substr(key.size() + 1);
    }
    return "";
}

void RunScenario(const Scenario& s)
{
    const bool bAudio = Option(s, "audio") == "audio";
    const int nHead = atoi(Option(s, "head").c_str());
    CTestHead head;
    head.m_WriteError = nHead == 2 ? 1 : 0;
    CRTPLogCapture log;
    CJXTime::UseTestClock(kTestClockStartMs);
    CFrameSink sink;
    CTestVideo* pVideo = bAudio ? nullptr : sink.Use(new CTestVideo(&sink));
    CTestAudio* pAudio = bAudio ? sink.Use(new CTestAudio(&sink)) : nullptr;
    CRTPMedia* pMedia = bAudio ? static_cast<CRTPMedia*>(pAudio) : pVideo;
    pMedia->m_SSRC = static_cast<uint32_t>(strtoul(Option(s, "ssrc").c_str(), nullptr, 0));
    if (pVideo != nullptr) pVideo->m_Prefix = nHead != 0 ? &head : nullptr;
    sink.m_Hold = Option(s, "hold") == "hold";
    CTestRTP b;
    for (const std::string& tok : Words(s.pScript)) {
        SCOPED_TRACE(tok);
        RunToken(tok, b, *pMedia, pVideo, sink);
        ASSERT_EQ(pMedia->CheckInvariants(), JX_OK);
    }
    std::vector<Bytes> got = bAudio ? pAudio->m_Frames : std::vector<Bytes>();
    for (const CSunkFrame& f : sink.m_Frames) {
        got.push_back(f.m_Data);
        EXPECT_TRUE(f.m_ZeroTail);
        // codec and size as given, and only the depacketizer's reference
        EXPECT_EQ(std::vector<int>({f.m_Codec, f.m_Width, f.m_Height, f.m_Refs}),
                  std::vector<int>({CTestVideo::kCodec, CTestVideo::kWidth, CTestVideo::kHeight, 1}));
    }
    const std::vector<std::string> frames = Words(s.pFrames), offsets = Words(Option(s, "at"));
    ASSERT_EQ(got.size(), frames.size());
    std::string types, fps;   // as the options write them, when given
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i] == Blob(frames[i]))
            << i << ": " << ToHex(got[i].data(), std::min<size_t>(got[i].size(), 24));
        if (bAudio) continue;
        const CSunkFrame& f = sink.m_Frames[i];
        char sz[16];
        snprintf(sz, sizeof(sz), i ? " %g" : "%g", double(f.m_FPS));
        fps += sz;
        types += (i ? " " : "") + std::to_string(f.m_Type);
        if (i < offsets.size() && offsets[i] != "-") {
            EXPECT_EQ(f.m_Ms - sink.m_Frames[0].m_Ms, std::stoll(offsets[i])) << i;
        }
    }
    for (size_t i = 0; i < sink.m_Held.size(); ++i) {
        const uint8_t* pHeld = sink.m_Held[i]->FrameGetData();
        EXPECT_TRUE(Bytes(pHeld, pHeld + sink.m_Held[i]->FrameGetLength()) == sink.m_Frames[i].m_Data) << "held " << i;
    }
    if (!Option(s, "dropped").empty()) {
        EXPECT_EQ(pMedia->m_FramesDropped, std::stoull(Option(s, "dropped")));
    }
    CJXTime::UseRealClock();
    EXPECT_EQ(Option(s, "types").empty() ? "" : types, Option(s, "types"));
    EXPECT_EQ(Option(s, "fps").empty() ? "" : fps, Option(s, "fps"));
    const std::vector<std::string> lines = log.Lines();
    std::istringstream in(s.pLogs);
    size_t n = 0;
    for (std::string piece; std::getline(in, piece, '|'); ++n)
        EXPECT_TRUE(n < lines.size() && lines[n].find(piece) != std::string::npos) << piece;
    EXPECT_EQ(lines.size(), n);
}

TEST(RTPMedia, PacketScripts)
{
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.pName);
        RunScenario(s);
    }
}

// Every eighth frame a key frame twice as long, behind parameter sets: it
// outgrows the packet sized from the frames before it and moves, into a
// packet the pool gives back each time.
TEST(RTPMedia, SteadyStreamAllocatesNothingPerPacketOrFrame)
{
    constexpr int kPackets = 31, kKeyEvery = 8;
    CFrameSink sink;
    auto* pVideo = sink.Use(new CTestVideo(&sink));
    CTestHead head;
    pVideo->m_Prefix = &head;
    CTestRTP b;
    Bytes chunk(1400, 'v');
    uint64_t nAllocAfterWarmUp = 0;
    uint32_t nMovesAfterWarmUp = 0;
    for (int nFrame = 0; nFrame < 40; ++nFrame) {
        const bool bKey = nFrame % kKeyEvery == 0;
        for (int i = 0; i < (bKey ? 2 * kPackets : kPackets); ++i) {
            chunk[0] = i != 0 ? 'v' : bKey ? 0x65 : 0x41;
            sink.OnRecvRTP(b.Next(chunk).data(), 1412);
        }
        b.m_TS += 3600;
        nAllocAfterWarmUp = nFrame == 2 * kKeyEvery ? CPacket::GetAllocCount() : nAllocAfterWarmUp;
        nMovesAfterWarmUp = nFrame == 2 * kKeyEvery ? pVideo->m_Buffer.m_Moves : nMovesAfterWarmUp;
    }
    EXPECT_EQ(sink.m_Frames.size(), 39u);
    EXPECT_EQ(CPacket::GetAllocCount(), nAllocAfterWarmUp);
    EXPECT_EQ(pVideo->m_Buffer.m_Moves - nMovesAfterWarmUp, 2u);   // the key frames 24 and 32
    EXPECT_EQ(sink.m_Frames[32].m_Data.size(), size_t(12 + 2 * kPackets * 1400));
}

// The stream's reception statistics start again with a new source: its
// sequence numbers and timestamps continue nothing of the old one's.
TEST(RTPMedia, NewSourceStartsTheStatisticsAgain)
{
    CRTPLogCapture log;
    CJXTime::UseTestClock(kTestClockStartMs);
    CFrameSink sink;
    sink.Use(new CTestVideo(&sink));
    CTestRTP b;
    for (int i = 0; i < 14; ++i) {
        if (i == 6) {   // the encoder restarts: another SSRC, numbers and clock
            b.m_SSRC = 0x55667788;
            b.m_Seq = 1200;   // near enough to the old numbers to pass for a loss
            b.m_TS = 7;
        }
        sink.OnRecvRTP(b.Next(i % 2 == 0 ? "K" : "N").data(), 13);
        b.m_TS += 3600;
        CJXTime::AdvanceTestClock(40);
    }
    CJXTime::UseRealClock();
    EXPECT_EQ(sink.m_Media->m_SourceSwitches, 1u);
    EXPECT_EQ(sink.m_RecvStats.ExtendedMax(), 1207u);
    EXPECT_EQ(sink.m_RecvStats.CumulativeLost(), 0);
    EXPECT_EQ(sink.m_RecvStats.Jitter(), 0u);
    EXPECT_EQ(sink.m_Counters->m_PacketsLost.load(), 0u);
    EXPECT_EQ(sink.m_Counters->m_PacketsReceived.load(), 11u);   // 6 + 5: three refused
}

// Each row breaks one rule from outside, as a faulty payload format could: the
// check must see it, or the fuzz target's oracle would be blind.
TEST(RTPMedia, CheckInvariantsSeesBrokenState)
{
    using FBreak = std::function<void(CTestVideo&)>;
    const FBreak rows[] = {
        [](CTestVideo& v) { v.m_WaitKey = 2; },
        [](CTestVideo& v) { v.m_FrameType = 7; },
        [](CTestVideo& v) { v.m_FrameMark = 11; },
        [](CTestVideo& v) { v.m_NalFlags = 0x0800; },
        [](CTestVideo& v) { v.m_NalFlags = CRTPMediaVideo::kNalFragmentOpen; },   // on an empty frame
        [](CTestVideo& v) { v.m_FrameCount = 1; },                                // no rate
        [](CTestVideo& v) { v.m_FrameRate = std::nan(""); },
        [](CTestVideo& v) { v.m_Stored = v.m_Buffer.m_Length = v.m_Buffer.m_Size + 1; },
        [](CTestVideo& v) { v.m_Stored = 1; },   // the stand-in's own rule
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        CRTPLogCapture log;
        CRTPSocket stream;
        auto* pVideo = new CTestVideo(&stream);
        stream.m_Media = pVideo;
        ASSERT_EQ(pVideo->CheckInvariants(), JX_OK);
        rows[i](*pVideo);
        EXPECT_EQ(pVideo->CheckInvariants(), JX_ERR_STATE) << "row " << i;
        pVideo->m_Buffer.m_Length = 0;
    }
    CRTPLogCapture log;
    CRTPSocket stream;
    auto* pAudio = new CTestAudio(&stream);
    stream.m_Media = pAudio;
    pAudio->m_Buffer.m_Length = -1;
    EXPECT_EQ(pAudio->CheckInvariants(), JX_ERR_STATE);
    pAudio->m_Buffer.m_Length = 0;
}

class CCountingFrame : public CRTPFrame {
public:
    explicit CCountingFrame(int* pFreed) : m_Freed(pFreed) {}
    void OnDataFree(void* pItem) override
    {
        ++*m_Freed;
        delete static_cast<int*>(pItem);
    }
    void SetCount(uint16_t n) { m_RefCount = n; }
    int* m_Freed;
};

// The last Release frees the items through the subclass; the count neither
// wraps at the top nor goes below 0.
TEST(RTPFrame, ReferenceCount)
{
    int nFreed = 0;
    auto* pFrame = new CCountingFrame(&nFreed);
    pFrame->Add(new int(1));
    pFrame->Add(new int(2));
    pFrame->SetCount(0xFFFE);
    EXPECT_EQ(pFrame->Acquire(), 0xFFFF);
    EXPECT_EQ(pFrame->Acquire(), JX_ERR_STATE);
    pFrame->SetCount(0);
    EXPECT_EQ(pFrame->Release(), 0);   // nothing happens
    pFrame->SetCount(1);
    EXPECT_EQ(pFrame->Acquire(), 2);
    EXPECT_EQ(pFrame->Release(), 1);
    EXPECT_EQ(nFreed, 0);
    EXPECT_EQ(pFrame->Release(), 0);   // deleted here
    EXPECT_EQ(nFreed, 2);
}

}   // namespace

// Audio and video RTP clocks that start at unrelated offsets (the audio one
// about to wrap), each frame arriving with its own delay: once both streams
// have a sender report, a flash and a beep made at the same camera instant get
// the same time, and the first stream to map through the camera's clock keeps
// the times it had.
TEST(RTPClock, SenderReportsLineUpAudioAndVideo)
{
    const uint64_t kNtpStart = (3900000000ULL << 32);   // camera time 0
    const uint64_t kNtpSecond = 1ULL << 32;
    const uint32_t kVideoBase = 1000000, kAudioBase = 4294960000u;
    CRTPSessionClock session;
    CRTPClock video(90000), audio(8000);
    video.SetSession(&session);
    audio.SetSession(&session);
    video.SetVideo(true);
    session.m_HasVideo = true;
    video.OnSenderReport(kVideoBase, 0);   // no wall clock in it: ignored
    EXPECT_FALSE(video.HasSenderReport());
    // Camera time 0: the video frame arrives at 10000 ms, the audio one 30 ms later.
    EXPECT_EQ(video.FrameTime(kVideoBase, 10000), 10000);
    EXPECT_EQ(audio.FrameTime(kAudioBase, 10030), 10030);
    // Without reports the two are as far apart as their first arrivals.
    EXPECT_EQ(video.FrameTime(kVideoBase + 90000, 11000), 11000);
    EXPECT_EQ(audio.FrameTime(kAudioBase + 8000, 11030), 11030);
    video.OnSenderReport(kVideoBase + 90000, kNtpStart + kNtpSecond);
    audio.OnSenderReport(kAudioBase + 8000, kNtpStart + kNtpSecond);
    // The audio's report alone moves nothing: the video leads.
    EXPECT_EQ(audio.FrameTime(kAudioBase + 12000, 11540), 11530);
    // Camera time 2 s: video keeps its line, audio moves onto it.
    const int64_t nFlash = video.FrameTime(kVideoBase + 180000, 12005);
    const int64_t nBeep = audio.FrameTime(kAudioBase + 16000, 12041);
    EXPECT_EQ(nFlash, 12000);
    EXPECT_EQ(nBeep, nFlash);
    // Half a second on, still together; a report's fraction of a second counts.
    audio.OnSenderReport(kAudioBase + 20000, kNtpStart + 2 * kNtpSecond + kNtpSecond / 2);
    EXPECT_EQ(audio.FrameTime(kAudioBase + 20000, 12520), 12500);
    EXPECT_EQ(video.FrameTime(kVideoBase + 225000, 12510), 12500);
    EXPECT_EQ(video.GetReanchors() + audio.GetReanchors(), 0u);
}

// The description's video part comes from the parameter-set head, once there is one.
TEST(RTPMedia, VideoHeadFillsTheDescription)
{
    CRTPSocket stream;
    auto* pVideo = new CTestVideo(&stream);
    stream.m_Media = pVideo;
    CJXMediaDesc* pDesc = CJXMediaDesc::Create();
    ASSERT_NE(pDesc, nullptr);
    EXPECT_EQ(pVideo->GetHead(pDesc), JX_ERR_STATE);
    CTestHead head;
    head.m_Width = 1280;
    pVideo->m_Head = &head;
    EXPECT_EQ(pVideo->GetHead(pDesc), JX_OK);
    EXPECT_EQ(pDesc->m_Video != nullptr ? pDesc->m_Video->nWidth : 0, 1280);
    pVideo->m_Head = nullptr;
    pDesc->Release();
}

// Reading the DESCRIBE answer: which streams a description gives, their
// control URLs and encodings, and the first SETUP it leads to.
#include "rtp_capture.h"
#include "rtsp_test_util.h"

#include <functional>
#include <string>

namespace {

const char kUrl[] = "rtsp://127.0.0.1:554/cam";
const char kH264[] = "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
const char kSdpType[] = "Content-Type: application/sdp\r\n";

std::string Text(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The client after DESCRIBE was answered with the description and head lines.
struct CDescribed {
    COfflineClient m_Client;
    int32_t m_Result = 0;
    CDescribed(const std::string& sdp, const char* pUrl, const std::string& headers) : m_Client(pUrl)
    {
        m_Client->SendDescribe();
        const std::string head = "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\n" + headers;
        m_Result = m_Client.Feed(head + "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp);
    }
};

struct CStreamWant {
    const char* m_Url;   // null: no such stream
    uint8_t m_Encoding;
    uint16_t m_PayloadType;
};
const CStreamWant kNone = {nullptr, 0, 0};

void ExpectStream(const CRTPSocket* pStream, const CStreamWant& want, const char* pKind)
{
    SCOPED_TRACE(pKind);
    if (want.m_Url == nullptr) {
        EXPECT_EQ(pStream, nullptr);
        return;
    }
    ASSERT_NE(pStream, nullptr);
    EXPECT_STREQ(pStream->m_ControlUrl, want.m_Url);
    EXPECT_EQ(pStream->m_Encoding, want.m_Encoding);
    EXPECT_EQ(pStream->m_PayloadType, want.m_PayloadType);
}

}   // namespace

TEST(RtspSdp, DescriptionsToStreamsAndFirstSetup)
{
    const CStreamWant kH264At = {kUrl, JX_CODEC_H264, 96};
    const char* kTrack = "rtsp://127.0.0.1:554/cam/track";
    const std::string kTcp = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
    const std::string kTcpAudio = "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n";
    const std::string kLongName(6000, 't');   // longer than any line the base's reader keeps
    const std::string kLongUrl = std::string(kUrl) + "/" + kLongName;
    const std::string kCam = kSdpType;
    const std::string kBase = kCam + "Content-Base:  rtsp://h/other/ \r\n";
    const std::string kLocation = kCam + "Content-Location: rtsp://h/loc/\r\n";
    const struct {
        const char* m_Name;
        std::string m_Sdp;
        const char* m_Url;
        std::string m_Headers;
        int32_t m_Result;
        CStreamWant m_Video;
        CStreamWant m_Audio;
        std::string m_Sent;   // in the SETUP that follows
        std::function<void(CRTSPClient&)> m_Check;
    } kRows[] = {
        // clang-format off
        // The answer's type and body.
        {"upper-case type", "v=0\r\n" + std::string(kH264), kUrl, "Content-Type: APPLICATION/SDP\r\n", 0, kH264At, kNone, kTcp, nullptr},
        {"no type", "v=0\r\n" + std::string(kH264), kUrl, "", 0, kH264At, kNone, kTcp, nullptr},
        {"type with parameters", "v=0\r\n" + std::string(kH264), kUrl, "Content-Type: application/sdp; charset=utf-8\r\n", 0, kH264At, kNone, kTcp, nullptr},
        {"text type", "v=0\r\n" + std::string(kH264), kUrl, "Content-Type: text/plain\r\n", JX_ERR_CONTENT, kNone, kNone, "", nullptr},
        {"longer type", "v=0\r\n" + std::string(kH264), kUrl, "Content-Type: application/sdpx\r\n", JX_ERR_CONTENT, kNone, kNone, "", nullptr},
        {"no body", "", kUrl, kCam, JX_ERR_ARG, kNone, kNone, "", nullptr},
        {"no media line", "v=0\r\na=control:*\r\n", kUrl, kCam, JX_ERR_CONTENT, kNone, kNone, "", nullptr},
        // Control URLs: relative ones joined to the session's or the request's URL.
        {"relative", std::string(kH264) + "a=control:trackID=1\r\n", "rtsp://h/s", kCam, 0, {"rtsp://h/s/trackID=1", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"leading slash", std::string(kH264) + "a=control:/t1\r\n", "rtsp://h/s", kCam, 0, {"rtsp://h/s/t1", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"absolute", std::string(kH264) + "a=control:rtsp://h/s/t2\r\n", "rtsp://h/s", kCam, 0, {"rtsp://h/s/t2", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"session control", "a=control:rtsp://h/s/\r\n" + std::string(kH264) + "a=control:t3\r\n", "rtsp://h/s", kCam, 0, {"rtsp://h/s/t3", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"session control star", "a=control:*\r\n" + std::string(kH264) + "a=control:t4\r\n", "rtsp://h/s", kCam, 0, {"rtsp://h/s/t4", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"empty control", std::string(kH264) + "a=control:\r\n", "rtsp://h/s", kCam, 0, {"rtsp://h/s/", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"request URL ends in slash", std::string(kH264) + "a=control:t5\r\n", "rtsp://h/s/", kCam, 0, {"rtsp://h/s/t5", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"no credentials joined", std::string(kH264) + "a=control:t6\r\n", "rtsp://u:p@h/s", kCam, 0, {"rtsp://h/s/t6", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"control longer than a kept line", std::string(kH264) + "a=control:" + kLongName + "\r\n", kUrl, kCam, 0, {kLongUrl.c_str(), JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        // The answer's Content-Base, then Content-Location, is the base of
        // relative controls; an absolute session control still wins.
        {"content base", "a=control:*\r\n" + std::string(kH264) + "a=control:trackID=1\r\n", "rtsp://h/s", kBase, 0, {"rtsp://h/other/trackID=1", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"content location", std::string(kH264) + "a=control:trackID=1\r\n", "rtsp://h/s", kLocation, 0, {"rtsp://h/loc/trackID=1", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"content base over location", std::string(kH264) + "a=control:t\r\n", "rtsp://h/s", kBase + "Content-Location: rtsp://h/loc/\r\n", 0, {"rtsp://h/other/t", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"content base, no control", kH264, "rtsp://h/s", kBase, 0, {"rtsp://h/other/", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"absolute session control over content base", "a=control:rtsp://h/agg/\r\n" + std::string(kH264) + "a=control:t\r\n", "rtsp://h/s", kBase, 0, {"rtsp://h/agg/t", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"relative content base ignored", std::string(kH264) + "a=control:t\r\n", "rtsp://h/s", kCam + "Content-Base: other/\r\n", 0, {"rtsp://h/s/t", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        // No control attribute: the aggregate URL (RFC 2326 C.1.1).
        {"no control", kH264, "rtsp://h/s", kCam, 0, {"rtsp://h/s", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"aggregate control", "a=control:rtsp://h/agg\r\n" + std::string(kH264), "rtsp://h/s", kCam, 0, {"rtsp://h/agg", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"star aggregate", "a=control:*\r\n" + std::string(kH264), "rtsp://h/s", kCam, 0, {"rtsp://h/s", JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"capital A is no attribute", "A=control:x\r\n" + std::string(kH264), kUrl, kCam, 0, kH264At, kNone, kTcp, nullptr},
        // A control URL with a blank would break the request line.
        {"blank in control", std::string(kH264) + "a=control:track 1\r\n", kUrl, kCam, JX_ERR_CONTENT, kNone, kNone, "", nullptr},
        {"blank behind session control", "a=control:rtsp://h/s/ \r\n" + std::string(kH264), kUrl, kCam, JX_ERR_CONTENT, kNone, kNone, "", nullptr},
        // Media sections and encodings.
        {"h264", "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1\r\na=control:track\r\n", kUrl, kCam, 0, {kTrack, JX_CODEC_H264, 96}, kNone, kTcp, nullptr},
        {"h265", "m=video 0 RTP/AVP 98\r\na=rtpmap:98 H265/90000\r\na=control:track\r\n", kUrl, kCam, 0, {kTrack, JX_CODEC_H265, 98}, kNone, kTcp, nullptr},
        {"jpeg", "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:track\r\n", kUrl, kCam, 0, {kTrack, JX_CODEC_JPEG, 26}, kNone, kTcp, nullptr},
        {"pcma", "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:track\r\n", kUrl, kCam, 0, kNone, {kTrack, JX_CODEC_PCMA, 8}, kTcpAudio, nullptr},
        {"pcmu with channels", "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000/1\r\na=control:rtsp://127.0.0.1:554/cam/audio\r\n", kUrl, kCam, 0, kNone, {"rtsp://127.0.0.1:554/cam/audio", JX_CODEC_PCMU, 0}, kTcpAudio, nullptr},
        {"first of two types", "m=video 0 RTP/AVP 96 97\r\na=rtpmap:97 H265/90000\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, 0, kH264At, kNone, kTcp, nullptr},
        {"two video sections: the first",
         "v=0\r\nm=application 0 RTP/AVP 107\r\na=control:trackID=0\r\n"
         "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:trackID=1\r\n"
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=2\r\n"
         "m=video 0 RTP/AVP 97\r\na=rtpmap:97 H265/90000\r\na=control:trackID=3\r\n",
         kUrl, kCam, 0, {"rtsp://127.0.0.1:554/cam/trackID=2", JX_CODEC_H264, 96}, {"rtsp://127.0.0.1:554/cam/trackID=1", JX_CODEC_PCMA, 8}, kTcp, nullptr},
        // Sections that give no stream.
        {"static type without rtpmap", "m=audio 0 RTP/AVP 0\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        {"lower-case encoding", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 h264/90000\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        {"rtpmap of another type", "m=video 0 RTP/AVP 96\r\na=rtpmap:97 H264/90000\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        {"secure profile", "m=video 0 RTP/SAVP 96\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        {"tcp profile", "m=video 0 RTP/AVP/TCP 96\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        {"unknown encoding", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 VP8/90000\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        {"data section only", "v=0\r\nm=application 0 RTP/AVP 107\r\n", kUrl, kCam, 0, kNone, kNone, "", nullptr},
        // Connection addresses: multicast asks for multicast; the media level's wins.
        {"multicast", "v=0\r\nc=IN IP4 239.0.0.1/16\r\nm=video 5000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, 0, kH264At, kNone, "Transport: RTP/AVP;multicast\r\n",
         [](CRTSPClient& c) { EXPECT_STREQ(c.m_Connect, "239.0.0.1"); }},
        {"multicast group at media level with a TTL, as GStreamer writes it", "v=0\r\n" + std::string(kH264) + "c=IN IP4 239.255.42.1/1\r\n", kUrl, kCam, 0, kH264At, kNone, "Transport: RTP/AVP;multicast\r\n",
         [](CRTSPClient& c) { EXPECT_STREQ(c.m_Connect, "239.255.42.1"); }},
        {"multicast group, rtspu asks for unicast", "v=0\r\nc=IN IP4 239.0.0.1/16\r\n" + std::string(kH264), "rtspu://127.0.0.1:554/cam", kCam, JX_ERR_UNSUPPORTED, kNone, kNone, "", nullptr},
        {"rtspm asks for multicast", kH264, "rtspm://127.0.0.1:554/cam", kCam, 0, kH264At, kNone, "Transport: RTP/AVP;multicast\r\n",
         [](CRTSPClient& c) { EXPECT_STREQ(c.GetRequestUrl(), kUrl); }},
        {"unicast address", "v=0\nc=IN IP4 10.0.0.5\nm=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n", kUrl, kCam, 0, kH264At, kNone, kTcp,
         [](CRTSPClient& c) { EXPECT_STREQ(c.m_Connect, "10.0.0.5"); }},
        {"media level replaces", "c=IN IP4 239.0.0.5\r\n" + std::string(kH264) + "c=IN IP4 10.0.0.6\r\n", kUrl, kCam, 0, kH264At, kNone, kTcp,
         [](CRTSPClient& c) { EXPECT_STREQ(c.m_Connect, "10.0.0.6"); }},
        {"ipv6 and two spaces ignored", "c=IN IP6 ::1\r\nc=IN  IP4 1.2.3.4\r\n" + std::string(kH264), kUrl, kCam, 0, kH264At, kNone, kTcp,
         [](CRTSPClient& c) { EXPECT_EQ(c.m_Connect, nullptr); }},
        // Private frame marks.
        {"frame marks", std::string(kH264) + "a=JXFrame:VI=5;PB=6;codec=18\r\n", kUrl, kCam, 0, kH264At, kNone, kTcp,
         [](CRTSPClient& c) {
             EXPECT_EQ(c.m_Video->m_VI, 5);
             EXPECT_EQ(c.m_Video->m_PB, 6);
             EXPECT_EQ(c.m_Video->m_Codec, 18);
             EXPECT_EQ(c.m_Video->m_MarkEnabled, 1);
         }},
        {"codec mark only", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\na=jxframe:codec=33\r\n", kUrl, kCam, 0, {kUrl, JX_CODEC_H265, 96}, kNone, kTcp,
         [](CRTSPClient& c) {
             EXPECT_EQ(c.m_Video->m_Codec, 33);
             EXPECT_EQ(c.m_Video->m_MarkEnabled, 0);
         }},
        // clang-format on
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Name);
        CDescribed d(row.m_Sdp, row.m_Url, row.m_Headers);
        EXPECT_EQ(d.m_Result, row.m_Result);
        const std::string sent = d.m_Client.Sent();
        if (row.m_Result != 0) {
            EXPECT_EQ(sent, "");   // no request from a description refused
            continue;
        }
        ExpectStream(d.m_Client->m_Video, row.m_Video, "video");
        ExpectStream(d.m_Client->m_Audio, row.m_Audio, "audio");
        const CStreamWant& first = row.m_Video.m_Url ? row.m_Video : row.m_Audio;
        if (first.m_Url == nullptr) {
            EXPECT_EQ(d.m_Client->m_Pending, CRTSPClient::kPendingNone);
            EXPECT_EQ(sent, "");   // nothing to set up
            continue;
        }
        EXPECT_EQ(d.m_Client->m_Pending, CRTSPClient::kPendingSetup);
        EXPECT_EQ(sent.rfind(std::string("SETUP ") + first.m_Url + " RTSP/1.0\r\nCSeq: 2\r\n", 0), 0u) << sent;
        EXPECT_NE(sent.find(row.m_Sent), std::string::npos) << sent;
        if (row.m_Check) row.m_Check(*d.m_Client);
    }
}

// A camera whose resolution is changed sends new parameter sets: the next key
// frame carries them, and the media description is read anew from it.
TEST(RtspSdp, NewParameterSetsRenewTheDescription)
{
    COfflineClient c;
    c.PlayTo(kSdpVideoOnly);
    CTestRTP rtp;
    std::vector<std::string> packets;   // SPS, PPS, IDR slice of each size
    for (const char* pClip : {"media/h264_baseline_352x288.h264", "media/h264_baseline_640x360.h264"}) {
        const Bytes clip = LoadDataFile(pClip);   // 00 00 00 01 SPS 00 00 00 01 PPS
        ASSERT_GT(clip.size(), 8u) << pClip;
        const std::string sets(clip.begin() + 4, clip.end());
        const size_t nPps = sets.find(std::string("\0\0\0\1", 4));
        ASSERT_NE(nPps, std::string::npos);
        packets.push_back(InterleavedFrame(0, rtp.Next(sets.substr(0, nPps))));
        packets.push_back(InterleavedFrame(0, rtp.Next(sets.substr(nPps + 4))));
        packets.push_back(InterleavedFrame(0, rtp.Next(std::string("\x65\x88\x80\x40", 4), true)));
        rtp.m_TS += 3600;
    }
    packets.push_back(InterleavedFrame(0, rtp.Next(std::string("\x41\x9a\x02", 3), true)));
    // A frame is complete when the next timestamp begins: the fourth packet
    // closes the first key frame, the last one the second.
    const struct {
        size_t m_From, m_To;
        uint16_t m_Width, m_Height;
    } kSteps[] = {{0, 4, 352, 288}, {4, 7, 640, 360}};
    for (const auto& step : kSteps) {
        std::string bytes;
        for (size_t i = step.m_From; i < step.m_To; ++i)
            bytes += packets[i];
        ASSERT_EQ(c.Feed(bytes), 0);
        CJXMediaDesc* pDesc = nullptr;
        ASSERT_EQ(c->GetMediaDesc(pDesc), 0);
        ASSERT_NE(pDesc->m_Video, nullptr);
        EXPECT_EQ(pDesc->m_Video->nWidth, step.m_Width);
        EXPECT_EQ(pDesc->m_Video->nHeight, step.m_Height);
        pDesc->Release();
    }
}

// Descriptions as GStreamer's RTSP server and VLC write them (tests/data/sdp), and
// hostile ones: the streams they give and the SETUP of the first.
TEST(RtspSdp, DescriptionsFromARealServerAndHostileOnes)
{
    const std::string kBig = "v=0\r\n" + std::string(kH264) + std::string(64 * 1024, 'x') + "\r\na=control:t\r\n";
    const struct {
        const char* m_Name;
        std::string m_Sdp;
        uint8_t m_Video;   // JX_CODEC_* of the video stream, 0 none
        uint8_t m_Audio;
        const char* m_FirstSetup;   // a path behind the stream URL's host, or a whole URL
    } kRows[] = {
        {"gstreamer h264", Text(LoadDataFile("sdp/gstreamer_h264.sdp")), JX_CODEC_H264, 0, "/cam/stream=0"},
        {"gstreamer h265", Text(LoadDataFile("sdp/gstreamer_h265.sdp")), JX_CODEC_H265, 0, "/cam/stream=0"},
        {"gstreamer jpeg", Text(LoadDataFile("sdp/gstreamer_jpeg.sdp")), JX_CODEC_JPEG, 0, "/cam/stream=0"},
        {"gstreamer pcma", Text(LoadDataFile("sdp/gstreamer_pcma.sdp")), 0, JX_CODEC_PCMA, "/cam/stream=0"},
        {"gstreamer pcmu", Text(LoadDataFile("sdp/gstreamer_pcmu.sdp")), 0, JX_CODEC_PCMU, "/cam/stream=0"},
        {"gstreamer h264 and pcmu", Text(LoadDataFile("sdp/gstreamer_h264_pcmu.sdp")), JX_CODEC_H264, JX_CODEC_PCMU, "/cam/stream=0"},
        {"vlc h264 and pcmu, absolute controls", Text(LoadDataFile("sdp/vlc_h264_pcmu.sdp")), JX_CODEC_H264, JX_CODEC_PCMU, "rtsp://127.0.0.1:18700/s/trackID=0"},
        {"no v= line", kH264, JX_CODEC_H264, 0, "/cam"},
        {"a 64 KB line inside", kBig, JX_CODEC_H264, 0, "/cam/t"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Name);
        ASSERT_GT(row.m_Sdp.size(), 20u);
        CDescribed d(row.m_Sdp, kUrl, kSdpType);
        ASSERT_EQ(d.m_Result, 0);
        EXPECT_EQ(d.m_Client->m_Video ? d.m_Client->m_Video->m_Encoding : 0, row.m_Video);
        EXPECT_EQ(d.m_Client->m_Audio ? d.m_Client->m_Audio->m_Encoding : 0, row.m_Audio);
        const std::string first = row.m_FirstSetup[0] == '/' ? std::string("rtsp://127.0.0.1:554") + row.m_FirstSetup : row.m_FirstSetup;
        const std::string setup = "SETUP " + first + " RTSP/1.0\r\n";
        EXPECT_EQ(d.m_Client.Sent().rfind(setup, 0), 0u) << d.m_Client.Sent();
    }
}

// Reading the DESCRIBE answer: which streams a description gives, their
// control URLs and encodings, and the first SETUP it leads to.
#include "rtp_capture.h"
#include "rtsp_test_util.h"

#include <string>

namespace {

const char kUrl[] = "rtsp://127.0.0.1:554/cam";
const std::string kH264 = "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
const char kSdpType[] = "Content-Type: application/sdp\r\n";

// The client's state after the description, as the rows write it:
// "video; audio; transport of the first SETUP", each stream "control CODEC/pt"
// or "-"; then "; c=" the connection address and "; jx=VI,PB,codec,enabled".
std::string Summary(COfflineClient& c)
{
    static const char* const kCodecs[] = {"?", "H264", "H265", "JPEG", "PCMA", "PCMU"};
    auto stream = [](const CRTPSocket* p) {
        if (p == nullptr) return std::string("-");
        return std::string(p->m_ControlUrl) + " " + kCodecs[p->m_Encoding < 6 ? p->m_Encoding : 0] + "/" +
               std::to_string(p->m_PayloadType);
    };
    const std::string sent = c.Sent();
    const size_t at = sent.find("Transport: ");
    std::string transport = at == std::string::npos ? "-" : sent.substr(at + 11, sent.find("\r\n", at) - at - 11);
    transport = transport == "RTP/AVP/TCP;unicast;interleaved=0-1"   ? "tcp0"
                : transport == "RTP/AVP/TCP;unicast;interleaved=2-3" ? "tcp2"
                : transport == "RTP/AVP;multicast"                   ? "mc"
                                                                     : transport;
    std::string out = stream(c->m_Video) + "; " + stream(c->m_Audio) + "; " + transport;
    if (c->m_Connect != nullptr) out += std::string("; c=") + c->m_Connect;
    const CRTPSocket* v = c->m_Video;
    if (v != nullptr && (v->m_MarkEnabled || v->m_Codec)) {
        out += "; jx=" + std::to_string(v->m_VI) + "," + std::to_string(v->m_PB) + "," + std::to_string(v->m_Codec) +
               "," + std::to_string(v->m_MarkEnabled);
    }
    return out;
}

std::string Data(const char* pName)
{
    const Bytes b = LoadDataFile(std::string("sdp/") + pName);
    return std::string(b.begin(), b.end());
}

}   // namespace

// Each description answered to DESCRIBE with the head lines given: the result,
// the streams, and the first SETUP (its URL the first stream's control, CSeq 2).
TEST(RtspSdp, DescriptionsToStreamsAndFirstSetup)
{
    const std::string kAt = std::string(kUrl) + " H264/96; -; tcp0";
    const std::string kLongName(6000, 't');   // longer than any line the base's reader keeps
    const std::string kCam = kSdpType, kBase = kCam + "Content-Base:  rtsp://h/other/ \r\n";
    const std::string kLoc = "Content-Location: rtsp://h/loc/\r\n";
    const std::string kTrack = std::string(kUrl) + "/track", kGst = std::string(kUrl) + "/stream=0";
    const struct {
        const char* m_Name;
        std::string m_Sdp;
        const char* m_Url;
        std::string m_Headers;
        int32_t m_Result;
        std::string m_Want;   // as Summary writes it, when the result is 0
    } kRows[] = {
        // clang-format off
        // The answer's type and body.
        {"upper-case type", "v=0\r\n" + kH264, kUrl, "Content-Type: APPLICATION/SDP\r\n", 0, kAt},
        {"no type", "v=0\r\n" + kH264, kUrl, "", 0, kAt},
        {"type with parameters", "v=0\r\n" + kH264, kUrl, "Content-Type: application/sdp; charset=utf-8\r\n", 0, kAt},
        {"text type", "v=0\r\n" + kH264, kUrl, "Content-Type: text/plain\r\n", JX_ERR_CONTENT, ""},
        {"longer type", "v=0\r\n" + kH264, kUrl, "Content-Type: application/sdpx\r\n", JX_ERR_CONTENT, ""},
        {"no body", "", kUrl, kCam, JX_ERR_ARG, ""},
        {"no media line", "v=0\r\na=control:*\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"no v= line", kH264, kUrl, kCam, 0, kAt},
        {"a 64 KB line inside", "v=0\r\n" + kH264 + std::string(64 * 1024, 'x') + "\r\na=control:t\r\n", kUrl, kCam, 0, kUrl + std::string("/t H264/96; -; tcp0")},
        // Control URLs: relative ones joined to the session's or the request's URL.
        {"relative", kH264 + "a=control:trackID=1\r\n", "rtsp://h/s", kCam, 0, "rtsp://h/s/trackID=1 H264/96; -; tcp0"},
        {"leading slash", kH264 + "a=control:/t1\r\n", "rtsp://h/s", kCam, 0, "rtsp://h/s/t1 H264/96; -; tcp0"},
        {"absolute", kH264 + "a=control:rtsp://h/s/t2\r\n", "rtsp://h/s", kCam, 0, "rtsp://h/s/t2 H264/96; -; tcp0"},
        {"session control", "a=control:rtsp://h/s/\r\n" + kH264 + "a=control:t3\r\n", "rtsp://h/s", kCam, 0, "rtsp://h/s/t3 H264/96; -; tcp0"},
        {"session control star", "a=control:*\r\n" + kH264 + "a=control:t4\r\n", "rtsp://h/s", kCam, 0, "rtsp://h/s/t4 H264/96; -; tcp0"},
        {"empty control", kH264 + "a=control:\r\n", "rtsp://h/s", kCam, 0, "rtsp://h/s/ H264/96; -; tcp0"},
        {"request URL ends in slash", kH264 + "a=control:t5\r\n", "rtsp://h/s/", kCam, 0, "rtsp://h/s/t5 H264/96; -; tcp0"},
        {"no credentials joined", kH264 + "a=control:t6\r\n", "rtsp://u:p@h/s", kCam, 0, "rtsp://h/s/t6 H264/96; -; tcp0"},
        {"control longer than a kept line", kH264 + "a=control:" + kLongName + "\r\n", kUrl, kCam, 0, kUrl + ("/" + kLongName) + " H264/96; -; tcp0"},
        // Content-Base, then Content-Location, is the base of relative controls;
        // an absolute session control still wins.
        {"content base", "a=control:*\r\n" + kH264 + "a=control:trackID=1\r\n", "rtsp://h/s", kBase, 0, "rtsp://h/other/trackID=1 H264/96; -; tcp0"},
        {"content location", kH264 + "a=control:trackID=1\r\n", "rtsp://h/s", kCam + kLoc, 0, "rtsp://h/loc/trackID=1 H264/96; -; tcp0"},
        {"content base over location", kH264 + "a=control:t\r\n", "rtsp://h/s", kBase + kLoc, 0, "rtsp://h/other/t H264/96; -; tcp0"},
        {"content base, no control", kH264, "rtsp://h/s", kBase, 0, "rtsp://h/other/ H264/96; -; tcp0"},
        {"absolute session control over content base", "a=control:rtsp://h/agg/\r\n" + kH264 + "a=control:t\r\n", "rtsp://h/s", kBase, 0, "rtsp://h/agg/t H264/96; -; tcp0"},
        {"relative content base ignored", kH264 + "a=control:t\r\n", "rtsp://h/s", kCam + "Content-Base: other/\r\n", 0, "rtsp://h/s/t H264/96; -; tcp0"},
        // No control attribute: the aggregate URL (RFC 2326 C.1.1).
        {"no control", kH264, "rtsp://h/s", kCam, 0, "rtsp://h/s H264/96; -; tcp0"},
        {"aggregate control", "a=control:rtsp://h/agg\r\n" + kH264, "rtsp://h/s", kCam, 0, "rtsp://h/agg H264/96; -; tcp0"},
        {"star aggregate", "a=control:*\r\n" + kH264, "rtsp://h/s", kCam, 0, "rtsp://h/s H264/96; -; tcp0"},
        {"capital A is no attribute", "A=control:x\r\n" + kH264, kUrl, kCam, 0, kAt},
        // A control URL with a blank would break the request line.
        {"blank in control", kH264 + "a=control:track 1\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"blank behind session control", "a=control:rtsp://h/s/ \r\n" + kH264, kUrl, kCam, JX_ERR_CONTENT, ""},
        // Media sections and encodings.
        {"h264", "v=0\r\n" + kH264 + "a=fmtp:96 packetization-mode=1\r\na=control:track\r\n", kUrl, kCam, 0, kTrack + " H264/96; -; tcp0"},
        {"h265", "m=video 0 RTP/AVP 98\r\na=rtpmap:98 H265/90000\r\na=control:track\r\n", kUrl, kCam, 0, kTrack + " H265/98; -; tcp0"},
        {"jpeg", "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:track\r\n", kUrl, kCam, 0, kTrack + " JPEG/26; -; tcp0"},
        {"pcma", "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:track\r\n", kUrl, kCam, 0, "-; " + kTrack + " PCMA/8; tcp2"},
        {"pcmu with channels", "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000/1\r\na=control:" + kTrack + "\r\n", kUrl, kCam, 0, "-; " + kTrack + " PCMU/0; tcp2"},
        {"first of two types", "m=video 0 RTP/AVP 96 97\r\na=rtpmap:97 H265/90000\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, 0, kAt},
        {"two video sections: the first",
         "v=0\r\nm=application 0 RTP/AVP 107\r\na=control:trackID=0\r\nm=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:trackID=1\r\n"
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=2\r\nm=video 0 RTP/AVP 97\r\na=rtpmap:97 H265/90000\r\na=control:trackID=3\r\n",
         kUrl, kCam, 0, kUrl + std::string("/trackID=2 H264/96; ") + kUrl + "/trackID=1 PCMA/8; tcp0"},
        // Sections that give no stream: the attempt fails at once.
        {"static type without rtpmap", "m=audio 0 RTP/AVP 0\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"lower-case encoding", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 h264/90000\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"rtpmap of another type", "m=video 0 RTP/AVP 96\r\na=rtpmap:97 H264/90000\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"secure profile", "m=video 0 RTP/SAVP 96\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"tcp profile", "m=video 0 RTP/AVP/TCP 96\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"unknown encoding", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 VP8/90000\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        {"data section only", "v=0\r\nm=application 0 RTP/AVP 107\r\n", kUrl, kCam, JX_ERR_CONTENT, ""},
        // Connection addresses: multicast asks for multicast; the media level's wins.
        {"multicast", "v=0\r\nc=IN IP4 239.0.0.1/16\r\nm=video 5000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", kUrl, kCam, 0, kUrl + std::string(" H264/96; -; mc; c=239.0.0.1")},
        {"multicast group at media level with a TTL, as GStreamer writes it", "v=0\r\n" + kH264 + "c=IN IP4 239.255.42.1/1\r\n", kUrl, kCam, 0, kUrl + std::string(" H264/96; -; mc; c=239.255.42.1")},
        {"multicast group, rtspu asks for unicast", "v=0\r\nc=IN IP4 239.0.0.1/16\r\n" + kH264, "rtspu://127.0.0.1:554/cam", kCam, JX_ERR_UNSUPPORTED, ""},
        {"rtspm asks for multicast", kH264, "rtspm://127.0.0.1:554/cam", kCam, 0, kUrl + std::string(" H264/96; -; mc")},
        {"unicast address", "v=0\nc=IN IP4 10.0.0.5\nm=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n", kUrl, kCam, 0, kAt + "; c=10.0.0.5"},
        {"media level replaces", "c=IN IP4 239.0.0.5\r\n" + kH264 + "c=IN IP4 10.0.0.6\r\n", kUrl, kCam, 0, kAt + "; c=10.0.0.6"},
        {"ipv6 and two spaces ignored", "c=IN IP6 ::1\r\nc=IN  IP4 1.2.3.4\r\n" + kH264, kUrl, kCam, 0, kAt},
        // Private frame marks.
        {"frame marks", kH264 + "a=JXFrame:VI=5;PB=6;codec=18\r\n", kUrl, kCam, 0, kAt + "; jx=5,6,18,1"},
        {"codec mark only", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\na=jxframe:codec=33\r\n", kUrl, kCam, 0, kUrl + std::string(" H265/96; -; tcp0; jx=0,0,33,0")},
        // As GStreamer's RTSP server and VLC write them (tests/data/sdp).
        {"gstreamer h264", Data("gstreamer_h264.sdp"), kUrl, kCam, 0, kGst + " H264/96; -; tcp0; c=0.0.0.0"},
        {"gstreamer h265", Data("gstreamer_h265.sdp"), kUrl, kCam, 0, kGst + " H265/96; -; tcp0; c=0.0.0.0"},
        {"gstreamer jpeg", Data("gstreamer_jpeg.sdp"), kUrl, kCam, 0, kGst + " JPEG/26; -; tcp0; c=0.0.0.0"},
        {"gstreamer pcma", Data("gstreamer_pcma.sdp"), kUrl, kCam, 0, "-; " + kGst + " PCMA/8; tcp2; c=0.0.0.0"},
        {"gstreamer pcmu", Data("gstreamer_pcmu.sdp"), kUrl, kCam, 0, "-; " + kGst + " PCMU/0; tcp2; c=0.0.0.0"},
        {"gstreamer h264 and pcmu", Data("gstreamer_h264_pcmu.sdp"), kUrl, kCam, 0, kGst + " H264/96; " + kUrl + "/stream=1 PCMU/0; tcp0; c=0.0.0.0"},
        {"vlc h264 and pcmu, absolute controls", Data("vlc_h264_pcmu.sdp"), kUrl, kCam, 0, "rtsp://127.0.0.1:18700/s/trackID=0 H264/96; rtsp://127.0.0.1:18700/s/trackID=1 PCMU/0; tcp0; c=0.0.0.0"},
        // clang-format on
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Name);
        COfflineClient c(row.m_Url);
        ASSERT_EQ(c->SendDescribe(), 0);
        const std::string head = "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\n" + row.m_Headers;
        EXPECT_EQ(c.Feed(head + "Content-Length: " + std::to_string(row.m_Sdp.size()) + "\r\n\r\n" + row.m_Sdp),
                  row.m_Result);
        if (row.m_Result != 0) {
            EXPECT_EQ(c.Sent(), "");   // no request from a description refused
            continue;
        }
        EXPECT_EQ(Summary(c), row.m_Want);
        const CRTPSocket* pFirst = c->m_Video != nullptr ? c->m_Video : c->m_Audio;
        EXPECT_EQ(c->m_Pending, pFirst != nullptr ? CRTSPClient::kPendingSetup : CRTSPClient::kPendingNone);
        const std::string setup =
            pFirst ? std::string("SETUP ") + pFirst->m_ControlUrl + " RTSP/1.0\r\nCSeq: 2\r\n" : "";
        EXPECT_EQ(c.Sent().substr(0, setup.size()), setup);
        EXPECT_EQ(pFirst == nullptr, c.Sent().empty());
    }
}

// A camera whose resolution is changed sends new parameter sets: the next key
// frame carries them, and the media description is read anew from it.
TEST(RtspSdp, NewParameterSetsRenewTheDescription)
{
    COfflineClient c;
    c.PlayTo(kSdpVideoOnly);
    CTestRTP rtp;
    std::string packets[7];   // SPS, PPS, IDR slice of each size, then a P slice
    for (int i = 0; i < 2; ++i) {
        const Bytes clip =
            LoadDataFile(i == 0 ? "media/h264_baseline_352x288.h264" : "media/h264_baseline_640x360.h264");
        ASSERT_GT(clip.size(), 8u);   // 00 00 00 01 SPS 00 00 00 01 PPS
        const std::string sets(clip.begin() + 4, clip.end());
        const size_t nPps = sets.find(std::string("\0\0\0\1", 4));
        ASSERT_NE(nPps, std::string::npos);
        packets[3 * i] = InterleavedFrame(0, rtp.Next(sets.substr(0, nPps)));
        packets[3 * i + 1] = InterleavedFrame(0, rtp.Next(sets.substr(nPps + 4)));
        packets[3 * i + 2] = InterleavedFrame(0, rtp.Next(std::string("\x65\x88\x80\x40", 4), true));
        rtp.m_TS += 3600;
    }
    packets[6] = InterleavedFrame(0, rtp.Next(std::string("\x41\x9a\x02", 3), true));
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

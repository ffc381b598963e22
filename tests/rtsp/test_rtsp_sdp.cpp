// Reading the DESCRIBE body: the SDP line reader, the session level (connection
// address, session control), and each media section (kind, payload type,
// control URL, encoding, private frame marks), then the Transport answer.
#include "rtsp_test_util.h"
#include "sdpparser.h"

#include <string>

namespace {

const char kUrl[] = "rtsp://127.0.0.1:554/cam";

// A command holding a complete 200 answer with the body.
void Answer(CRTSPCommand& cmd, const std::string& body, const std::string& contentType = "application/sdp")
{
    std::string text = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n";
    if (!contentType.empty()) text += "Content-Type: " + contentType + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ASSERT_EQ(cmd.ParseResponse(text.data(), int32_t(text.size())), int32_t(text.size()));
    ASSERT_TRUE(cmd.IsCompleted());
}

// The client after reading the description (DESCRIBE answered with it).
struct CDescribed {
    COfflineClient m_Client;
    int32_t m_Result = 0;
    explicit CDescribed(const std::string& sdp, const char* pUrl = kUrl) : m_Client(pUrl)
    {
        m_Client->SendDescribe();
        m_Result = m_Client.Feed(SdpReply(sdp));
    }
};

} // namespace

TEST(RtspSdp, ContentTypeAndBody)
{
    struct Case {
        const char* m_Type;
        const char* m_Body;
        int32_t m_Result;
    };
    const Case cases[] = {
        {"application/sdp", "v=0\r\n", 0},
        {"APPLICATION/SDP", "v=0\r\n", 0},
        {"", "v=0\r\n", 0},                                   // no Content-Type: accepted
        {"application/sdp; charset=utf-8", "v=0\r\n", 0},     // parameters do not change the type
        {"text/plain", "v=0\r\n", JX_ERR_CONTENT},
        {"application/sdpx", "v=0\r\n", JX_ERR_CONTENT},
        {"application/sdp", "", JX_ERR_ARG},                  // no body
    };
    for (const Case& c : cases) {
        CRTSPCommand cmd;
        Answer(cmd, c.m_Body, c.m_Type);
        CSDPParser parser;
        EXPECT_EQ(parser.Setup(cmd), c.m_Result) << c.m_Type;
        if (c.m_Result == 0) {
            EXPECT_EQ(parser.m_Text, cmd.m_Body.m_Data);   // read in place, not copied
            EXPECT_STREQ(parser.ParseNext(), "v=0");
        }
    }
}

TEST(RtspSdp, SessionLevelConnectionAndControl)
{
    struct Case {
        const char* m_Name;
        std::string m_Sdp;
        int32_t m_Result;
        const char* m_Connect;   // null: none
        const char* m_Control;
    };
    const Case cases[] = {
        {"multicast ttl dropped", "v=0\r\nc=IN IP4 239.1.2.3/16\r\nm=video 0 RTP/AVP 96\r\n", 0, "239.1.2.3", nullptr},
        {"plain", "v=0\nc=IN IP4 10.0.0.5\nm=video 0 RTP/AVP 96\n", 0, "10.0.0.5", nullptr},
        {"media level replaces", "c=IN IP4 10.0.0.5\r\nm=video 0 RTP/AVP 96\r\nc=IN IP4 10.0.0.6\r\n", 0, "10.0.0.6", nullptr},
        {"ipv6 and two spaces ignored", "c=IN IP6 ::1\r\nc=IN  IP4 1.2.3.4\r\nm=audio 0 RTP/AVP 0\r\n", 0, nullptr, nullptr},
        {"control star", "a=control:*\r\nm=video 0 RTP/AVP 96\r\n", 0, nullptr, "*"},
        {"control kept as is", "a=control:rtsp://h/s/ \r\nm=video 0 RTP/AVP 96\r\n", 0, nullptr, "rtsp://h/s/ "},
        {"media control is not session control", "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n", 0, nullptr, nullptr},
        {"capital A skipped", "A=control:x\r\nm=video 0 RTP/AVP 96\r\n", 0, nullptr, nullptr},
        {"no media line", "v=0\r\na=control:*\r\n", JX_ERR_CONTENT, nullptr, "*"},
        {"data section only", "v=0\r\nm=application 0 RTP/AVP 107\r\n", 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        CRTSPCommand cmd;
        Answer(cmd, c.m_Sdp);
        CSDPParser parser;
        ASSERT_EQ(parser.Setup(cmd), 0);
        CRTSPClient client;
        EXPECT_EQ(client.ParseSDPHead(parser), c.m_Result) << c.m_Name;
        if (c.m_Result == 0) {
            EXPECT_EQ(std::string(parser.m_Line).substr(0, 2), "m=") << c.m_Name;
        }
        if (c.m_Connect) {
            EXPECT_STREQ(client.m_Connect, c.m_Connect) << c.m_Name;
        } else {
            EXPECT_EQ(client.m_Connect, nullptr) << c.m_Name;
        }
        if (c.m_Control) {
            EXPECT_STREQ(client.m_Control, c.m_Control) << c.m_Name;
        } else {
            EXPECT_EQ(client.m_Control, nullptr) << c.m_Name;
        }
    }
}

TEST(RtspSdp, ControlUrlsOfMediaSections)
{
    struct Case {
        const char* m_Url;
        const char* m_SessionControl;   // null: none
        const char* m_MediaControl;
        const char* m_Expected;
    };
    const Case cases[] = {
        {"rtsp://h/s", nullptr, "trackID=1", "rtsp://h/s/trackID=1"},
        {"rtsp://h/s", nullptr, "/t1", "rtsp://h/s/t1"},
        {"rtsp://h/s", nullptr, "rtsp://h/s/t2", "rtsp://h/s/t2"},
        {"rtsp://h/s", "rtsp://h/s/", "t3", "rtsp://h/s/t3"},
        {"rtsp://h/s", "*", "t4", "rtsp://h/s/t4"},
        {"rtsp://h/s", nullptr, "", "rtsp://h/s/"},
        {"rtsp://h/s/", nullptr, "t5", "rtsp://h/s/t5"},
        {"rtsp://u:p@h/s", nullptr, "t6", "rtsp://h/s/t6"},   // no credentials in the joined URL
        // No control attribute: the aggregate URL (RFC 2326 C.1.1).
        {"rtsp://h/s", nullptr, nullptr, "rtsp://h/s"},
        {"rtsp://h/s", "rtsp://h/agg", nullptr, "rtsp://h/agg"},
        {"rtsp://h/s", "*", nullptr, "rtsp://h/s"},
    };
    for (const Case& c : cases) {
        std::string sdp = "v=0\r\n";
        if (c.m_SessionControl) sdp += std::string("a=control:") + c.m_SessionControl + "\r\n";
        sdp += "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
        if (c.m_MediaControl) sdp += "a=control:" + std::string(c.m_MediaControl) + "\r\n";
        CDescribed d(sdp, c.m_Url);
        ASSERT_NE(d.m_Client->m_Video, nullptr) << c.m_Expected;
        EXPECT_STREQ(d.m_Client->m_Video->m_ControlUrl, c.m_Expected) << c.m_Expected;
        EXPECT_EQ(d.m_Client.Sent().rfind(std::string("SETUP ") + c.m_Expected + " RTSP/1.0\r\n", 0), 0u) << d.m_Client.Sent();
    }
}

TEST(RtspSdp, MediaSectionsAndEncodings)
{
    struct Case {
        const char* m_Name;
        const char* m_Section;
        bool m_Video;            // becomes the video stream
        bool m_Audio;
        uint8_t m_Encoding;
        uint16_t m_PayloadType;
    };
    const Case cases[] = {
        {"h264", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1\r\n", true, false, JX_CODEC_H264, 96},
        {"h265", "m=video 0 RTP/AVP 98\r\na=rtpmap:98 H265/90000\r\n", true, false, JX_CODEC_H265, 98},
        {"jpeg", "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\n", true, false, JX_CODEC_JPEG, 26},
        {"pcma", "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n", false, true, JX_CODEC_PCMA, 8},
        {"pcmu", "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000/1\r\n", false, true, JX_CODEC_PCMU, 0},
        {"static type without rtpmap", "m=audio 0 RTP/AVP 0\r\n", false, false, 0, 0},
        {"lower-case encoding", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 h264/90000\r\n", false, false, 0, 0},
        {"rtpmap of another type", "m=video 0 RTP/AVP 96\r\na=rtpmap:97 H264/90000\r\n", false, false, 0, 0},
        {"first of two types", "m=video 0 RTP/AVP 96 97\r\na=rtpmap:97 H265/90000\r\na=rtpmap:96 H264/90000\r\n", true, false, JX_CODEC_H264, 96},
        {"secure profile", "m=video 0 RTP/SAVP 96\r\na=rtpmap:96 H264/90000\r\n", false, false, 0, 0},
        {"tcp profile", "m=video 0 RTP/AVP/TCP 96\r\na=rtpmap:96 H264/90000\r\n", false, false, 0, 0},
        {"unknown encoding", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 VP8/90000\r\n", false, false, 0, 0},
    };
    for (const Case& c : cases) {
        CDescribed d(std::string("v=0\r\n") + c.m_Section + "a=control:track\r\n");
        EXPECT_EQ(d.m_Result, 0) << c.m_Name;
        CRTPSocket* pStream = c.m_Video ? d.m_Client->m_Video : d.m_Client->m_Audio;
        EXPECT_EQ(d.m_Client->m_Video != nullptr, c.m_Video) << c.m_Name;
        EXPECT_EQ(d.m_Client->m_Audio != nullptr, c.m_Audio) << c.m_Name;
        if (c.m_Video || c.m_Audio) {
            ASSERT_NE(pStream, nullptr);
            EXPECT_EQ(pStream->m_Encoding, c.m_Encoding) << c.m_Name;
            EXPECT_EQ(pStream->m_PayloadType, c.m_PayloadType) << c.m_Name;
            EXPECT_EQ(d.m_Client->m_Pending, CRTSPClient::kPendingSetup) << c.m_Name;
        } else {
            EXPECT_EQ(d.m_Client->m_Pending, CRTSPClient::kPendingNone) << c.m_Name;   // nothing to set up
        }
    }
}

TEST(RtspSdp, PrivateFrameMarks)
{
    CDescribed d("v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=JXFrame:VI=5;PB=6;codec=18\r\n");
    ASSERT_NE(d.m_Client->m_Video, nullptr);
    CRTPSocket& v = *d.m_Client->m_Video;
    EXPECT_EQ(v.m_VI, 5);
    EXPECT_EQ(v.m_PB, 6);
    EXPECT_EQ(v.m_Codec, 18);
    EXPECT_EQ(v.m_MarkEnabled, 1);

    CDescribed e("v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\na=jxframe:codec=33\r\n");
    ASSERT_NE(e.m_Client->m_Video, nullptr);
    EXPECT_EQ(e.m_Client->m_Video->m_Codec, 33);
    EXPECT_EQ(e.m_Client->m_Video->m_MarkEnabled, 0);
}

TEST(RtspSdp, MulticastConnectionAsksForMulticast)
{
    CDescribed d("v=0\r\nc=IN IP4 239.0.0.1/16\r\nm=video 5000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    EXPECT_EQ(d.m_Client->m_Transport, 4);
    EXPECT_NE(d.m_Client.Sent().find("Transport: RTP/AVP;multicast\r\n"), std::string::npos) << d.m_Client.Sent();
    CDescribed u("v=0\r\nc=IN IP4 10.0.0.1\r\nm=video 5000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    EXPECT_EQ(u.m_Client->m_Transport, 2);
}

TEST(RtspSdp, TransportAnswers)
{
    struct Case {
        const char* m_Transport;   // null: no header
        uint32_t m_Mode;
        uint16_t m_Rtp;
        uint16_t m_Rtcp;
        const char* m_Address;
    };
    const Case cases[] = {
        {"RTP/AVP/TCP;unicast;interleaved=2-3", 2, 2, 3, ""},
        {"RTP/AVP/TCP;unicast", 2, 0, 1, ""},
        {"rtp/avp/tcp;interleaved=4-5", 2, 4, 5, ""},
        {"RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971;ssrc=1A2B3C4D", 1, 6970, 6971, "127.0.0.1"},
        {"RTP/AVP;unicast;server_port=6970", 1, 6970, 6971, "127.0.0.1"},
        {"RTP/AVP;multicast;destination=239.0.0.1;port=5000-5001;ttl=16", 4, 5000, 5001, "239.0.0.1"},
        {"multicast;RTP/AVP", 1, 0, 1, "127.0.0.1"},
        {"RTP/AVP/UDP;unicast;server_port=6970-6971", 0, 6970, 6971, ""},
        {"RTP/AVP;multicast;destination=239.100.200.201.extra.long.name", 4, 0, 1, "239.100.200.201"},
        {nullptr, 0, 0, 1, ""},
    };
    for (const Case& c : cases) {
        CDescribed d(kSdpVideoOnly);
        ASSERT_NE(d.m_Client->m_Video, nullptr);
        std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 1\r\n";
        if (c.m_Transport) reply += std::string("Transport: ") + c.m_Transport + "\r\n";
        ASSERT_EQ(d.m_Client.Feed(reply + "\r\n"), 0);
        const CRTPSocket& v = *d.m_Client->m_Video;
        const char* pName = c.m_Transport ? c.m_Transport : "(none)";
        EXPECT_EQ(v.m_State, 4u) << pName;
        EXPECT_EQ(v.m_Transport, c.m_Mode) << pName;
        EXPECT_EQ(v.m_PeerRtpPort, c.m_Rtp) << pName;
        EXPECT_EQ(v.m_PeerRtcpPort, c.m_Rtcp) << pName;
        EXPECT_STREQ(v.m_Address, c.m_Address) << pName;
    }
}

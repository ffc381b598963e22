// Transports: unicast UDP against a scripted server on loopback (passes on the
// test's thread), and SETUP answers read offline.
#include "rtsp_test_util.h"
#include "scripted_server.h"
#include "test_rtp.h"

#include <cstdio>
#include <string>

namespace {

sockaddr_in Loopback(uint16_t nPort, const char* pHost = "127.0.0.1")
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    inet_pton(AF_INET, pHost, &addr.sin_addr);
    return addr;
}

// The server's side of one datagram port, on 127.0.0.1.
class CUdpPeer {
public:
    explicit CUdpPeer(const char* pHost = "127.0.0.1", uint16_t nPort = 0)
    {
        JXNetStartup();
        m_Socket = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr = Loopback(nPort, pHost);
        int32_t nLen = sizeof(addr);
        JXSocketBind(m_Socket, reinterpret_cast<sockaddr*>(&addr), nLen);
        JXSocketGetName(m_Socket, reinterpret_cast<sockaddr*>(&addr), &nLen);
        m_Port = ntohs(addr.sin_port);
    }
    ~CUdpPeer()
    {
        JXSocketClose(m_Socket);
        JXNetCleanup();
    }
    bool SendTo(uint16_t nPort, const Bytes& packet) const
    {
        sockaddr_in to = Loopback(nPort);
        const int32_t n = int32_t(packet.size());
        return JXSocketSendTo(m_Socket, packet.data(), n, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == n;
    }
    // One datagram within the bound: its length (negative: none), and its sender.
    int32_t Recv(uint8_t* pBuf, int32_t nSize, sockaddr_in* pFrom = nullptr) const
    {
        CJXFdSet ready;
        ready.Add(m_Socket);
        if (JXSelect(&ready, nullptr, kWaitBoundMs) != 1) return JX_ERR_TIMEOUT;
        int32_t nFrom = sizeof(sockaddr_in);
        return JXSocketRecvFrom(m_Socket, pBuf, nSize, reinterpret_cast<sockaddr*>(pFrom), pFrom ? &nFrom : nullptr);
    }
    JXSOCKET m_Socket = JX_INVALID_SOCKET;
    uint16_t m_Port = 0;
};

// A local port is free again: bound and released at once.
bool CanBind(uint16_t nPort)
{
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr = Loopback(nPort);
    const bool bFree = JXSocketBind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == JX_OK;
    JXSocketClose(s);
    return bFree;
}

// A server that plays one video stream over unicast UDP with this SETUP answer; url is what the requests name.
void ScriptUdpPlay(CScriptedServer& srv, const std::string& url, const std::string& transport)
{
    srv.Script()
        .Accept()
        .Expect("DESCRIBE", ExpectUrl(url))
        .Reply(SdpReply(kSdpVideoOnly))
        .Expect("SETUP", ExpectUrl(url + "/trackID=1"))
        .Reply(SetupReply("7", transport))
        .Expect("PLAY", ExpectUrl(url))
        .Reply(OkReply("Session: 7\r\n"))
        .Drain();
}

}   // namespace

TEST(RtspTransport, UnicastUdpFromAServerNamedByHostName)
{
    CUdpPeer rtp, rtcp;
    CScriptedServer srv;
    const std::string url = "rtsp://localhost:" + std::to_string(srv.GetPort()) + "/cam";
    const std::string serverPorts = std::to_string(rtp.m_Port) + "-" + std::to_string(rtcp.m_Port);
    ScriptUdpPlay(srv, url, "RTP/AVP;unicast;client_port=9-10;server_port=" + serverPorts);
    // rtspu:// asks for unicast UDP; the requests name rtsp://.
    CPassClient c("rtspu://localhost:" + std::to_string(srv.GetPort()) + "/cam");
    ASSERT_EQ(c.m_Open, JX_OK);
    ASSERT_TRUE(c.RunUntilPlaying()) << srv.Errors();
    CRTPSocket& video = *c.m_Client.m_Video;

    // The SETUP offered an even RTP port and the one above it, both bound.
    std::string transport;
    for (const CScriptRequest& request : srv.Requests())
        if (request.m_Method == "SETUP") transport = request.Header("Transport");
    unsigned int nRtp = 0, nRtcp = 0;
    ASSERT_EQ(sscanf(transport.c_str(), "RTP/AVP;unicast;client_port=%u-%u", &nRtp, &nRtcp), 2) << transport;
    EXPECT_EQ(nRtp % 2, 0u);
    EXPECT_EQ(nRtcp, nRtp + 1);
    EXPECT_EQ(video.m_LocalRtpPort, nRtp);
    EXPECT_FALSE(CanBind(uint16_t(nRtp)));
    // Connected to the address "localhost" reached, not to the name read as a number.
    EXPECT_STREQ(video.m_Address, "127.0.0.1");
    EXPECT_EQ(video.m_ServerIP, Loopback(0).sin_addr.s_addr);

    delete video.m_Media;
    video.m_Media = new CStubMedia(&video);
    video.m_Media->m_SSRC = CTestRTP().m_SSRC;   // as a depacketizer learns it
    CTestRTP packets;
    ASSERT_TRUE(rtp.SendTo(uint16_t(nRtp), packets.Next("K1")));
    packets.m_PT = 8;   // another payload type on this stream's port
    ASSERT_TRUE(rtp.SendTo(uint16_t(nRtp), packets.Next("A1")));
    packets.m_PT = 96;
    ASSERT_TRUE(rtp.SendTo(uint16_t(nRtp), packets.Next("K2")));
    ASSERT_TRUE(rtcp.SendTo(uint16_t(nRtcp), HexBytes("80 c8 00 06 11 22 33 44")));
    ASSERT_TRUE(c.RunUntil([&] { return video.m_RecvRTP == 3 && video.m_RecvRTCP == 1; }));
    // Another local address with the server's port: never a frame.
    CUdpPeer stranger("127.0.0.2", rtp.m_Port);
    if (stranger.m_Port == rtp.m_Port) {   // a system without 127.0.0.2 skips this step
        ASSERT_TRUE(stranger.SendTo(uint16_t(nRtp), packets.Next("K3")));
    }
    ASSERT_TRUE(rtp.SendTo(uint16_t(nRtp), packets.Next("K4")));
    ASSERT_TRUE(c.RunUntil([&] { return video.m_RecvRTP >= 4; }));
    EXPECT_EQ(video.m_RecvRTP, 4u);
    EXPECT_EQ(c.m_Recorder.Frames(), 3);
    EXPECT_EQ(video.m_DroppedForeign, 1u);
    EXPECT_EQ(video.m_Datagrams.m_DroppedSender, 0u);

    // Datagrams out of order and twice: each frame once, none lost.
    const uint64_t nReordered = video.m_Reorder.m_Reordered;
    const Bytes k5 = packets.Next("K5"), k6 = packets.Next("K6");
    for (const Bytes* pPacket : {&k6, &k6, &k5})
        ASSERT_TRUE(rtp.SendTo(uint16_t(nRtp), *pPacket));
    ASSERT_TRUE(c.RunUntil([&] { return video.m_RecvRTP >= 6; }));
    EXPECT_EQ(c.m_Recorder.Frames(), 5);
    EXPECT_EQ(video.m_Reorder.m_Reordered, nReordered + 1);
    EXPECT_EQ(video.m_Reorder.m_Dropped, 1u);

    // A receiver report about the source goes to the server's RTCP port.
    c.m_Client.SendReceiverReports();
    uint8_t report[256];
    ASSERT_GE(rtcp.Recv(report, sizeof(report)), 32);
    EXPECT_EQ(ToHex(report, 4), "81 c9 00 07");
    EXPECT_EQ(ToHex(report + 8, 4), "11 22 33 44");

    // The end of the session releases both ports.
    c.m_Client.OnStop();
    EXPECT_TRUE(CanBind(uint16_t(nRtp)));
    EXPECT_TRUE(CanBind(uint16_t(nRtcp)));
}

// A SETUP answer whose source= names another address than the server's:
// media come from there as well as from the server, from nowhere else.
TEST(RtspTransport, UnicastUdpFromTheSourceTheAnswerNames)
{
    CUdpPeer source("127.0.0.2"), server, rtcp, stranger("127.0.0.3");
    if (source.m_Port == 0 || stranger.m_Port == 0) GTEST_SKIP() << "127.0.0.2 or 127.0.0.3 cannot be bound here";
    // The system must tell senders on loopback apart (wine reports 127.0.0.1 for all).
    ASSERT_TRUE(stranger.SendTo(server.m_Port, Bytes{1}));
    sockaddr_in from = {};
    uint8_t probe[4];
    ASSERT_EQ(server.Recv(probe, sizeof(probe), &from), 1);
    if (from.sin_addr.s_addr != Loopback(0, "127.0.0.3").sin_addr.s_addr) {
        GTEST_SKIP() << "this system does not report the sender's own loopback address";
    }
    CScriptedServer srv;
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(srv.GetPort()) + "/cam";
    const std::string serverPorts = std::to_string(source.m_Port) + "-" + std::to_string(rtcp.m_Port);
    ScriptUdpPlay(srv, url, "RTP/AVP;unicast;client_port=9-10;source=127.0.0.2;server_port=" + serverPorts);
    CPassClient c("rtspu://127.0.0.1:" + std::to_string(srv.GetPort()) + "/cam");
    ASSERT_EQ(c.m_Open, JX_OK);
    ASSERT_TRUE(c.RunUntilPlaying()) << srv.Errors();
    CRTPSocket& video = *c.m_Client.m_Video;
    EXPECT_EQ(video.m_SourceIP, Loopback(0, "127.0.0.2").sin_addr.s_addr);
    delete video.m_Media;
    video.m_Media = new CStubMedia(&video);
    const uint16_t nRtp = video.m_LocalRtpPort;
    CTestRTP packets;
    ASSERT_TRUE(source.SendTo(nRtp, packets.Next("K1")));
    ASSERT_TRUE(stranger.SendTo(nRtp, packets.Next("K2")));   // from neither: dropped
    ASSERT_TRUE(server.SendTo(nRtp, packets.Next("K3")));     // the server's address, another port
    ASSERT_TRUE(c.RunUntil([&] { return video.m_RecvRTP >= 2 && video.m_Datagrams.m_DroppedSender >= 1; })) << video.m_RecvRTP << " " << video.m_Datagrams.m_DroppedSender << " " << video.m_Reorder.Held();
    EXPECT_EQ(video.m_RecvRTP, 2u);
    EXPECT_EQ(video.m_Datagrams.m_DroppedSender, 1u);
    EXPECT_EQ(c.m_Recorder.Frames(), 2);
    c.m_Client.OnStop();
}

// source= read as a dotted IPv4 address, never as a name, within its room.
TEST(RtspTransport, SourceReadOnlyAsAnAddress)
{
    const struct {
        const char* m_Transport;
        const char* m_Source;   // null: none taken
    } kRows[] = {
        {"RTP/AVP;unicast;source=10.0.0.1;server_port=6970-6971", "10.0.0.1"},
        {"RTP/AVP;unicast; source=192.168.100.200 ;server_port=6970", "192.168.100.200"},
        {"RTP/AVP;unicast;source=camera.local;server_port=6970", nullptr},
        {"RTP/AVP;unicast;source=10.0.0.1.5", nullptr},
        {"RTP/AVP;unicast;source=256.0.0.1", nullptr},
        {"RTP/AVP;unicast;source=", nullptr},
        {"RTP/AVP;unicast;source=0010.000.000.0001", nullptr},   // past the room of an address
        {"RTP/AVP;unicast;source=10.0.0.1;source=camera", nullptr},   // the last one counts
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Transport);
        CRTSPTransport answer;
        answer.Read(row.m_Transport);
        EXPECT_EQ(answer.m_SourceIP, row.m_Source ? Loopback(0, row.m_Source).sin_addr.s_addr : 0u);
    }
}

// What one transport of a SETUP request offers a server: the client's ports,
// and whether it names its channels or leaves them to the server.
TEST(RtspTransport, RequestOffers)
{
    const struct {
        const char* m_Transport;
        uint32_t m_Mode;
        bool m_HasChannels;
        uint32_t m_ClientFirst, m_ClientSecond;
    } kRows[] = {
        {"RTP/AVP;unicast;client_port=5000-5001", CRTSPTransport::kModeUDP, false, 5000, 5001},
        {"RTP/AVP/UDP;unicast;client_port=5000", CRTSPTransport::kModeUDP, false, 5000, 5001},
        {"RTP/AVP;unicast;client_port=99999-100000", CRTSPTransport::kModeUDP, false, 0, 0},
        {"RTP/AVP;unicast;client_port=65535", CRTSPTransport::kModeUDP, false, 0, 0},   // no room for RTCP
        {"RTP/AVP;unicast;client_port=x", CRTSPTransport::kModeUDP, false, 0, 0},
        {"RTP/AVP/TCP;unicast;interleaved=4-5", CRTSPTransport::kModeInterleaved, true, 0, 0},
        {"RTP/AVP/TCP;unicast", CRTSPTransport::kModeInterleaved, false, 0, 0},
        {"RTP/AVP;multicast;port=5000-5001", CRTSPTransport::kModeMulticast, false, 0, 0},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Transport);
        CRTSPTransport offer;
        offer.Read(row.m_Transport);
        EXPECT_EQ(offer.m_Mode, row.m_Mode);
        EXPECT_EQ(offer.m_HasChannels, row.m_HasChannels);
        EXPECT_EQ(offer.m_ClientFirst, row.m_ClientFirst);
        if (row.m_ClientFirst != 0) {
            EXPECT_EQ(offer.m_ClientSecond, row.m_ClientSecond);
        }
        EXPECT_TRUE(offer.m_Usable);   // the client's ports never make an answer unusable
    }
}

// A server that refuses unicast UDP fails the attempt with a report; no
// other transport is asked for behind the user's back.
TEST(RtspTransport, RefusedUdpFailsTheAttempt)
{
    CScriptedServer srv;
    srv.Script()
        .Accept()
        .Expect("DESCRIBE")
        .Reply(SdpReply(kSdpVideoOnly))
        .Expect("SETUP",
                [](const CScriptRequest& r) {
                    const std::string transport = r.Header("Transport");
                    return transport.rfind("RTP/AVP;unicast;client_port=", 0) == 0 ? "" : "Transport: " + transport;
                })
        .Reply("RTSP/1.0 461 Unsupported Transport\r\nCSeq: {CSeq}\r\n\r\n")
        .ExpectClosed();
    CPassClient c("rtspu://127.0.0.1:" + std::to_string(srv.GetPort()) + "/cam");
    ASSERT_TRUE(c.RunUntil([&] { return c.m_Recorder.Count() >= 1; }));
    ASSERT_TRUE(srv.WaitDone(kWaitBoundMs));
    EXPECT_EQ(srv.Errors(), "");
    EXPECT_LT(c.m_Recorder.Reports()[0].m_Error, 0);
    c.m_Client.OnStop();
}

// Offline SETUP answers: the transport, channels or ports and address they
// give, and the reception they must not open. An answer the stream could
// receive nothing by fails the SETUP at once.
TEST(RtspTransport, SetupAnswers)
{
    const struct {
        const char* m_Transport;   // null: no header
        uint32_t m_Mode;
        uint16_t m_Rtp;
        uint16_t m_Rtcp;
        uint32_t m_SSRC;
        const char* m_Address;
        int32_t m_Result = 0;
    } kRows[] = {
        {"RTP/AVP/TCP;unicast;interleaved=2-3", 2, 2, 3, 0, ""},
        {"RTP/AVP/TCP;unicast", 2, 0, 1, 0, ""},
        {"rtp/avp/tcp;interleaved=4-5;ssrc=1A2B3C4D", 2, 4, 5, 0x1A2B3C4D, ""},
        {"RTP/AVP/TCP;interleaved=5", 2, 5, 6, 0, ""},
        {" RTP/AVP/TCP ;\tinterleaved=2-3 ; ssrc=0000ABCD ", 2, 2, 3, 0xABCD, ""},
        {"RTP/AVP/UDP;unicast;server_port=6970-6971;ssrc=A4C5503B;mode=play", 1, 6970, 6971, 0xA4C5503B, "", JX_ERR_CONTENT},
        {nullptr, 0, 0, 1, 0, ""},
        // Unicast UDP answers read offline, where no server address is known:
        // the ports are kept, nothing is connected.
        {"RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971;ssrc=00000001", 1, 6970, 6971, 1, "", JX_ERR_CONTENT},
        {"RTP/AVP;unicast;server_port=6970", 1, 6970, 6971, 0, "", JX_ERR_CONTENT},
        {"RTP/AVP;unicast;source=10.0.0.1;server_port=6970-6971;ssrc=1a2b3c4d", 1, 6970, 6971, 0x1A2B3C4D, "", JX_ERR_CONTENT},
        {"multicast;RTP/AVP", 1, 0, 1, 0, "", JX_ERR_CONTENT},
        // Channels the connection cannot carry route nothing.
        {"RTP/AVP/TCP;interleaved=256-257", 2, 0xFFFF, 0xFFFF, 0, "", JX_ERR_CONTENT},
        {"RTP/AVP/TCP;interleaved=0-1x", 2, 0xFFFF, 0xFFFF, 0, "", JX_ERR_CONTENT},
        // Multicast ports of 0 or out of range, no group or one that is not
        // a multicast address, or one cut to its room: no socket is opened.
        {"RTP/AVP;multicast;destination=239.0.0.1;port=0-1", 4, 0, 1, 0, "239.0.0.1", JX_ERR_CONTENT},
        {"RTP/AVP;multicast;destination=239.0.0.1;port=70000-70001", 4, 0, 1, 0, "239.0.0.1", JX_ERR_CONTENT},
        {"RTP/AVP;multicast;port=5000-5001", 4, 5000, 5001, 0, "", JX_ERR_CONTENT},
        {"RTP/AVP;multicast;destination=10.0.0.1;port=5000-5001", 4, 5000, 5001, 0, "10.0.0.1", JX_ERR_CONTENT},
        {"RTP/AVP;multicast;port=5000-5001;destination=239.100.200.201.longer.than.any.room.for.it.at.all.here", 4,
         5000, 5001, 0, "239.100.200.201", JX_ERR_CONTENT},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Transport ? row.m_Transport : "(none)");
        COfflineClient c("rtsp://127.0.0.1/cam");
        ASSERT_EQ(c->SendDescribe(), 0);
        ASSERT_EQ(c.Feed(SdpReply(kSdpVideoOnly)), 0);
        std::string reply = "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\nSession: 1\r\n";
        if (row.m_Transport) reply += std::string("Transport: ") + row.m_Transport + "\r\n";
        ASSERT_EQ(c.Feed(reply + "\r\n"), row.m_Result);
        const CRTPSocket& v = *c->m_Video;
        EXPECT_EQ(v.m_State, CRTPSocket::kStateSetupAnswered);
        EXPECT_EQ(v.m_Transport, row.m_Mode);
        EXPECT_EQ(v.m_PeerRtpPort, row.m_Rtp);
        EXPECT_EQ(v.m_PeerRtcpPort, row.m_Rtcp);
        EXPECT_EQ(v.m_Media ? v.m_Media->m_SSRC : row.m_SSRC, row.m_SSRC);
        EXPECT_STREQ(v.m_Address, row.m_Address);
        EXPECT_EQ(v.m_Datagrams.m_RtpSocket, JX_INVALID_SOCKET);
        EXPECT_EQ(v.m_Datagrams.m_RtcpSocket, JX_INVALID_SOCKET);
    }
    // rtspu:// needs the server's IPv4 address for unicast UDP: an offline
    // client (or one on IPv6) has none, and the attempt fails instead of asking
    // for another transport. The SETUP it could not write leaves the CSeq and
    // the send buffer as they were: no half request goes out.
    COfflineClient u("rtspu://127.0.0.1/cam");
    ASSERT_EQ(u->SendDescribe(), 0);
    const uint16_t nCSeq = u->m_CSeq;
    EXPECT_EQ(u.Feed(SdpReply(kSdpVideoOnly)), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(u.Sent(), "");
    EXPECT_EQ(u->m_CSeq, nCSeq);
    u->GetSendBuf() = "waiting";
    EXPECT_NE(u->SendSetup(u->m_Video), 0);
    EXPECT_EQ(u.Sent(), "waiting");
}

// A server that answers both SETUPs with the same channels: audio packets
// reach the audio stream by their payload type, never the video frames.
TEST(RtspTransport, OneChannelForBothStreamsSplitsByPayloadType)
{
    COfflineClient c;
    ASSERT_EQ(c->SendDescribe(), 0);
    ASSERT_EQ(c.Feed(SdpReply(kSdpVideoAudio)), 0);
    ASSERT_EQ(c.Feed(SetupReply("1", "RTP/AVP/TCP;unicast;interleaved=0-1")), 0);
    ASSERT_EQ(c.Feed(SetupReply("1", "RTP/AVP/TCP;unicast;interleaved=0-1")), 0);
    ASSERT_EQ(c.Feed(OkReply("Session: 1\r\n")), 0);
    for (CRTPSocket* pStream : {c->m_Video, c->m_Audio}) {
        delete pStream->m_Media;
        pStream->m_Media = new CStubMedia(pStream);
    }
    CTestRTP video, audio, other;
    audio.m_PT = 8;
    other.m_PT = 100;
    std::string bytes;
    for (const Bytes& packet : {video.Next("K1"), audio.Next("A1"), other.Next("K9"), audio.Next("A2")})
        bytes += InterleavedFrame(0, packet);
    ASSERT_EQ(c.Feed(bytes), 0);
    EXPECT_EQ(c->m_Video->m_RecvRTP, 2u);
    EXPECT_EQ(c->m_Video->m_DroppedForeign, 1u);
    EXPECT_EQ(c->m_Audio->m_RecvRTP, 2u);
    EXPECT_EQ(c->m_Audio->m_DroppedForeign, 0u);
    EXPECT_EQ(c.m_Recorder.Frames(), 3);
}

TEST(RtspTransport, Str2IPKeepsTheFirstOctetLowest)
{
    EXPECT_EQ(CRTPSocket::Str2IP("192.168.1.20"), 0x1401A8C0u);
    EXPECT_EQ(CRTPSocket::Str2IP("10.0.0.1"), 0x0100000Au);
    EXPECT_EQ(CRTPSocket::Str2IP("camera.local"), 0u);
}

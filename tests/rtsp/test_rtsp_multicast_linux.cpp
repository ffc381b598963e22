// Multicast reception end to end. Joining a group talks to the network, so
// these tests run only inside a network namespace of their own, where the
// loopback interface carries multicast: CTest starts them through unshare
// (see tests/CMakeLists.txt) with JX_TEST_NETNS set; elsewhere they skip.
#include "rtsp_test_util.h"
#include "scripted_server.h"
#include "test_rtp.h"

#include <cstdlib>
#include <string>

namespace {

const char kGroup[] = "239.1.2.3";
constexpr uint16_t kRtpPort = 41000;

// Sends to the group from 127.0.0.1, the address the control connection uses.
bool SendToGroup(const Bytes& packet)
{
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from = {};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &from.sin_addr);
    JXSocketBind(s, reinterpret_cast<sockaddr*>(&from), sizeof(from));
    JXSocketSetOpt(s, IPPROTO_IP, IP_MULTICAST_IF, &from.sin_addr, sizeof(from.sin_addr));
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kRtpPort);
    inet_pton(AF_INET, kGroup, &to.sin_addr);
    const int32_t n = int32_t(packet.size());
    const bool bSent = JXSocketSendTo(s, packet.data(), n, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == n;
    JXSocketClose(s);
    return bSent;
}

}   // namespace

TEST(RtspMulticast, DescriptionWithAGroupJoinsItAndLeavesAtTheEnd)
{
    if (getenv("JX_TEST_NETNS") == nullptr) GTEST_SKIP() << "runs only in its own network namespace";
    const std::string sdp = "v=0\r\nc=IN IP4 239.1.2.3/16\r\nt=0 0\r\n" + std::string(kSdpVideoOnly).substr(5);
    const std::string ports = std::to_string(kRtpPort) + "-" + std::to_string(kRtpPort + 1);
    CScriptedServer srv;
    srv.Script()
        .Accept()
        .Expect("DESCRIBE")
        .Reply(SdpReply(sdp))
        .Expect("SETUP", ExpectHeader("Transport", "RTP/AVP;multicast"))
        .Reply(SetupReply("5", std::string("RTP/AVP;multicast;destination=") + kGroup + ";port=" + ports + ";ttl=1"))
        .Expect("PLAY")
        .Reply(OkReply("Session: 5\r\n"))
        .Drain();
    CPassClient c(srv.Url("/cam"));
    ASSERT_TRUE(c.RunUntilPlaying()) << srv.Errors();
    CRTPSocket& video = *c.m_Client.m_Video;
    EXPECT_EQ(video.m_Transport, uint32_t(CRTPSocket::kTransportMulticast));
    EXPECT_STREQ(video.m_Address, kGroup);
    ASSERT_NE(video.m_Datagrams.m_RtpSocket, JX_INVALID_SOCKET);
    ASSERT_NE(video.m_Datagrams.m_RtcpSocket, JX_INVALID_SOCKET);

    delete video.m_Media;
    video.m_Media = new CStubMedia(&video);
    CTestRTP packets;
    ASSERT_TRUE(SendToGroup(packets.Next("K1")));
    ASSERT_TRUE(SendToGroup(packets.Next("K2")));
    ASSERT_TRUE(c.RunUntil([&] { return c.m_Recorder.Frames() == 2; }));

    CRTPLogCapture log;
    c.m_Client.OnStop();
    EXPECT_EQ(log.Count("Drop multicast membership success!\n"), 2);
}

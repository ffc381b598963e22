// Datagrams on loopback through the platform layer: bind, getsockname,
// sendto/recvfrom, connected UDP, readiness through JXSelect with a full set,
// and the error codes both platforms must map alike.
#include "JXNet.h"
#include "JXTime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWaitMs = 2000;
// The set's capacity as a local constant: gtest takes its arguments by
// reference, and a DLL built by mingw-w64 does not export the constexpr
// members of its classes unless it takes their address itself.
constexpr int32_t kSetMax = CJXFdSet::kMax;

struct Endpoint {
    int32_t nFamily;
    const char* pHost;
};

// A loopback address of the family with the given port.
sockaddr_storage MakeAddr(const Endpoint& ep, uint16_t nPort, int32_t& nLen)
{
    sockaddr_storage addr;
    memset(&addr, 0, sizeof(addr));
    if (ep.nFamily == AF_INET6) {
        sockaddr_in6* p6 = reinterpret_cast<sockaddr_in6*>(&addr);
        p6->sin6_family = AF_INET6;
        p6->sin6_port = htons(nPort);
        inet_pton(AF_INET6, ep.pHost, &p6->sin6_addr);
        nLen = static_cast<int32_t>(sizeof(sockaddr_in6));
    } else {
        sockaddr_in* p4 = reinterpret_cast<sockaddr_in*>(&addr);
        p4->sin_family = AF_INET;
        p4->sin_port = htons(nPort);
        inet_pton(AF_INET, ep.pHost, &p4->sin_addr);
        nLen = static_cast<int32_t>(sizeof(sockaddr_in));
    }
    return addr;
}

uint16_t PortOf(const sockaddr_storage& addr)
{
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
}

// A non-blocking datagram socket bound to loopback, port chosen by the system.
class CUdpSocket {
public:
    explicit CUdpSocket(const Endpoint& ep) : m_Endpoint(ep)
    {
        m_Socket = JXSocketCreate(ep.nFamily, SOCK_DGRAM, IPPROTO_UDP);
        if (m_Socket == JX_INVALID_SOCKET)
            return;
        int32_t nLen = 0;
        sockaddr_storage addr = MakeAddr(ep, 0, nLen);
        if (JXSocketBind(m_Socket, reinterpret_cast<sockaddr*>(&addr), nLen) != JX_OK ||
            JXSocketSetBlocking(m_Socket, 0) != JX_OK) {
            Close();
            return;
        }
        sockaddr_storage bound;
        int32_t nBound = static_cast<int32_t>(sizeof(bound));
        if (JXSocketGetName(m_Socket, reinterpret_cast<sockaddr*>(&bound), &nBound) != JX_OK) {
            Close();
            return;
        }
        m_Port = PortOf(bound);
    }
    ~CUdpSocket() { Close(); }
    CUdpSocket(const CUdpSocket&) = delete;
    CUdpSocket& operator=(const CUdpSocket&) = delete;

    void Close()
    {
        if (m_Socket != JX_INVALID_SOCKET)
            JXSocketClose(m_Socket);
        m_Socket = JX_INVALID_SOCKET;
    }
    bool IsValid() const { return m_Socket != JX_INVALID_SOCKET && m_Port != 0; }
    JXSOCKET Get() const { return m_Socket; }
    uint16_t Port() const { return m_Port; }

    int32_t SendTo(const std::string& data, uint16_t nPort) const
    {
        int32_t nLen = 0;
        sockaddr_storage to = MakeAddr(m_Endpoint, nPort, nLen);
        return JXSocketSendTo(m_Socket, data.data(), static_cast<int32_t>(data.size()),
                              reinterpret_cast<sockaddr*>(&to), nLen);
    }
    int32_t Connect(uint16_t nPort) const
    {
        int32_t nLen = 0;
        sockaddr_storage to = MakeAddr(m_Endpoint, nPort, nLen);
        return JXSocketConnect(m_Socket, reinterpret_cast<sockaddr*>(&to), nLen);
    }

private:
    Endpoint m_Endpoint;
    JXSOCKET m_Socket = JX_INVALID_SOCKET;
    uint16_t m_Port = 0;
};

bool WaitReadable(JXSOCKET s, int32_t nMs = kWaitMs)
{
    CJXFdSet read;
    read.Add(s);
    return JXSelect(&read, nullptr, nMs) == 1 && read.IsSet(s);
}

std::string Pattern(size_t n)
{
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return data;
}

class NetUdp : public ::testing::TestWithParam<Endpoint> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(JXNetStartup(), JX_OK);
        m_Started = true;
        JXSOCKET probe = JXSocketCreate(GetParam().nFamily, SOCK_DGRAM, IPPROTO_UDP);
        if (probe == JX_INVALID_SOCKET)
            GTEST_SKIP() << "no sockets of this family here";
        int32_t nLen = 0;
        sockaddr_storage addr = MakeAddr(GetParam(), 0, nLen);
        int32_t rc = JXSocketBind(probe, reinterpret_cast<sockaddr*>(&addr), nLen);
        JXSocketClose(probe);
        if (rc != JX_OK)
            GTEST_SKIP() << GetParam().pHost << " is not configured here";
    }
    void TearDown() override
    {
        if (m_Started)
            JXNetCleanup();
    }

private:
    bool m_Started = false;
};

TEST_P(NetUdp, DatagramsArriveWholeWithTheSenderAddress)
{
    CUdpSocket a(GetParam());
    CUdpSocket b(GetParam());
    ASSERT_TRUE(a.IsValid());
    ASSERT_TRUE(b.IsValid());
    ASSERT_NE(a.Port(), b.Port());

    // An empty datagram reads as 0 bytes, which for UDP is not a close.
    for (size_t nSize : {size_t(1), size_t(12), size_t(1472), size_t(8000), size_t(0)}) {
        SCOPED_TRACE(nSize);
        std::string data = Pattern(nSize);
        ASSERT_EQ(a.SendTo(data, b.Port()), static_cast<int32_t>(nSize));
        ASSERT_TRUE(WaitReadable(b.Get()));
        std::vector<char> buf(nSize + 64, 'x');
        sockaddr_storage from;
        int32_t nFrom = static_cast<int32_t>(sizeof(from));
        int32_t n = JXSocketRecvFrom(b.Get(), buf.data(), static_cast<int32_t>(buf.size()),
                                     reinterpret_cast<sockaddr*>(&from), &nFrom);
        ASSERT_EQ(n, static_cast<int32_t>(nSize));
        EXPECT_EQ(std::string(buf.data(), nSize), data);
        EXPECT_EQ(from.ss_family, GetParam().nFamily);
        EXPECT_EQ(PortOf(from), a.Port());
    }
}

TEST_P(NetUdp, EmptySocketWouldBlockAndBadHandlesFail)
{
    CUdpSocket a(GetParam());
    ASSERT_TRUE(a.IsValid());
    char buf[16];
    sockaddr_storage from;
    int32_t nFrom = static_cast<int32_t>(sizeof(from));
    EXPECT_EQ(JXSocketRecvFrom(a.Get(), buf, sizeof(buf), reinterpret_cast<sockaddr*>(&from), &nFrom), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_WOULDBLOCK);
    EXPECT_NE(JXSocketLastErrorRaw(), 0);
    EXPECT_EQ(JXSocketRecv(a.Get(), buf, sizeof(buf)), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_WOULDBLOCK);
    EXPECT_FALSE(WaitReadable(a.Get(), 0));

    // The invalid handle fails at once, with the same code on both platforms.
    int32_t nLen = 0;
    sockaddr_storage to = MakeAddr(GetParam(), a.Port(), nLen);
    EXPECT_EQ(JXSocketSendTo(JX_INVALID_SOCKET, "x", 1, reinterpret_cast<sockaddr*>(&to), nLen), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_OTHER);
    EXPECT_EQ(JXSocketRecvFrom(JX_INVALID_SOCKET, buf, sizeof(buf), nullptr, nullptr), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_OTHER);
    EXPECT_EQ(JXSocketSetBlocking(JX_INVALID_SOCKET, 0), JX_ERR_FAIL);
    EXPECT_EQ(JXSocketBind(a.Get(), nullptr, 0), JX_ERR_ARG);
}

TEST_P(NetUdp, ConnectedSocketTalksOnlyToItsPeer)
{
    CUdpSocket a(GetParam());
    CUdpSocket b(GetParam());
    CUdpSocket stranger(GetParam());
    ASSERT_TRUE(a.IsValid() && b.IsValid() && stranger.IsValid());
    ASSERT_EQ(a.Connect(b.Port()), JX_OK);

    // A datagram from another port is not delivered to a connected socket.
    ASSERT_EQ(stranger.SendTo("stranger", a.Port()), 8);
    ASSERT_EQ(b.SendTo("peer", a.Port()), 4);
    ASSERT_TRUE(WaitReadable(a.Get()));
    char buf[64];
    ASSERT_EQ(JXSocketRecv(a.Get(), buf, sizeof(buf)), 4);
    EXPECT_EQ(std::string(buf, 4), "peer");
    EXPECT_FALSE(WaitReadable(a.Get(), 100));

    ASSERT_EQ(JXSocketSend(a.Get(), "back", 4), 4);
    ASSERT_TRUE(WaitReadable(b.Get()));
    sockaddr_storage from;
    int32_t nFrom = static_cast<int32_t>(sizeof(from));
    ASSERT_EQ(JXSocketRecvFrom(b.Get(), buf, sizeof(buf), reinterpret_cast<sockaddr*>(&from), &nFrom), 4);
    EXPECT_EQ(std::string(buf, 4), "back");
    EXPECT_EQ(PortOf(from), a.Port());
}

TEST_P(NetUdp, SendingToAClosedPortDoesNotBreakReception)
{
    // Windows reports the ICMP "port unreachable" of an earlier datagram as a
    // failure of the next recvfrom unless the platform layer turns that off.
    CUdpSocket a(GetParam());
    CUdpSocket b(GetParam());
    ASSERT_TRUE(a.IsValid() && b.IsValid());
    uint16_t nClosedPort = 0;
    {
        CUdpSocket gone(GetParam());
        ASSERT_TRUE(gone.IsValid());
        nClosedPort = gone.Port();
    }
    ASSERT_EQ(a.SendTo("lost", nClosedPort), 4);
    ASSERT_EQ(b.SendTo("kept", a.Port()), 4);
    ASSERT_TRUE(WaitReadable(a.Get()));
    char buf[16];
    sockaddr_storage from;
    int32_t nFrom = static_cast<int32_t>(sizeof(from));
    int32_t n = JXSocketRecvFrom(a.Get(), buf, sizeof(buf), reinterpret_cast<sockaddr*>(&from), &nFrom);
    ASSERT_EQ(n, 4) << "error " << JXSocketLastErrorRaw();
    EXPECT_EQ(std::string(buf, 4), "kept");
}

TEST_P(NetUdp, SelectOverAFullSetReportsOnlyTheReadySocket)
{
    // Windows' fd_set is a counted array of handles (no limit on their value);
    // the set holds exactly kMax sockets and refuses one more.
    std::vector<std::unique_ptr<CUdpSocket>> sockets;
    CJXFdSet read;
    for (int32_t i = 0; i < kSetMax; ++i) {
        sockets.emplace_back(new CUdpSocket(GetParam()));
        ASSERT_TRUE(sockets.back()->IsValid()) << i;
        ASSERT_TRUE(read.Add(sockets.back()->Get())) << i;
    }
    CUdpSocket extra(GetParam());
    ASSERT_TRUE(extra.IsValid());
    EXPECT_FALSE(read.Add(extra.Get()));
    EXPECT_EQ(read.GetCount(), kSetMax);

    CJXFdSet idle = read;
    EXPECT_EQ(JXSelect(&idle, nullptr, 0), 0);

    for (int32_t nTarget : {kSetMax - 1, 0, kSetMax / 2}) {
        SCOPED_TRACE(nTarget);
        const CUdpSocket& target = *sockets[static_cast<size_t>(nTarget)];
        ASSERT_EQ(extra.SendTo("ping", target.Port()), 4);
        CJXFdSet ready = read;
        ASSERT_EQ(JXSelect(&ready, nullptr, kWaitMs), 1);
        for (int32_t i = 0; i < kSetMax; ++i)
            EXPECT_EQ(ready.IsSet(sockets[static_cast<size_t>(i)]->Get()), i == nTarget) << i;
        char buf[8];
        EXPECT_EQ(JXSocketRecvFrom(target.Get(), buf, sizeof(buf), nullptr, nullptr), 4);
    }
}

TEST_P(NetUdp, ReceiveBufferOptionRoundTrips)
{
    CUdpSocket a(GetParam());
    ASSERT_TRUE(a.IsValid());
    const int32_t kSize = 64 * 1024;
    ASSERT_EQ(JXSocketSetOptInt(a.Get(), SOL_SOCKET, SO_RCVBUF, kSize), JX_OK);
    int32_t nValue = 0;
    ASSERT_EQ(JXSocketGetOptInt(a.Get(), SOL_SOCKET, SO_RCVBUF, &nValue), JX_OK);
    EXPECT_GE(nValue, kSize);   // Linux reports twice the value, Windows the value
    EXPECT_EQ(JXSocketGetOptInt(a.Get(), SOL_SOCKET, SO_RCVBUF, nullptr), JX_ERR_ARG);
    EXPECT_EQ(JXSocketSetOptInt(JX_INVALID_SOCKET, SOL_SOCKET, SO_RCVBUF, kSize), JX_ERR_FAIL);
}

INSTANTIATE_TEST_SUITE_P(Loopback, NetUdp,
                         ::testing::Values(Endpoint{AF_INET, "127.0.0.1"}, Endpoint{AF_INET6, "::1"}),
                         [](const ::testing::TestParamInfo<Endpoint>& info) {
                             return std::string(info.param.nFamily == AF_INET6 ? "IPv6" : "IPv4");
                         });

} // namespace

// Datagrams on loopback through the platform layer, a full select set, and error codes alike on both platforms.
#include "JXNet.h"

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

// A loopback address of the family with the given port; nLen its length.
sockaddr_storage MakeAddr(const Endpoint& ep, uint16_t nPort, int32_t& nLen)
{
    sockaddr_storage addr;
    memset(&addr, 0, sizeof(addr));
    sockaddr_in6* p6 = reinterpret_cast<sockaddr_in6*>(&addr);
    sockaddr_in* p4 = reinterpret_cast<sockaddr_in*>(&addr);
    const bool b6 = ep.nFamily == AF_INET6;
    addr.ss_family = static_cast<decltype(addr.ss_family)>(ep.nFamily);
    *(b6 ? &p6->sin6_port : &p4->sin_port) = htons(nPort);
    inet_pton(ep.nFamily, ep.pHost, b6 ? static_cast<void*>(&p6->sin6_addr) : static_cast<void*>(&p4->sin_addr));
    nLen = static_cast<int32_t>(b6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    return addr;
}

uint16_t PortOf(const sockaddr_storage& addr)
{
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
}

// A non-blocking datagram socket bound to loopback (m_Port 0 when anything failed).
struct CUdpSocket {
    explicit CUdpSocket(const Endpoint& ep) : m_Endpoint(ep)
    {
        m_Socket = JXSocketCreate(ep.nFamily, SOCK_DGRAM, IPPROTO_UDP);
        int32_t nLen = 0;
        sockaddr_storage addr = MakeAddr(ep, 0, nLen);
        sockaddr* pAddr = reinterpret_cast<sockaddr*>(&addr);
        int32_t nBound = static_cast<int32_t>(sizeof(addr));
        if (m_Socket != JX_INVALID_SOCKET && JXSocketBind(m_Socket, pAddr, nLen) == JX_OK &&
            JXSocketSetBlocking(m_Socket, 0) == JX_OK && JXSocketGetName(m_Socket, pAddr, &nBound) == JX_OK)
            m_Port = PortOf(addr);
    }
    ~CUdpSocket()
    {
        if (m_Socket != JX_INVALID_SOCKET) JXSocketClose(m_Socket);
    }
    int32_t SendTo(const std::string& data, uint16_t nPort) const
    {
        int32_t nLen = 0;
        sockaddr_storage to = MakeAddr(m_Endpoint, nPort, nLen);
        return JXSocketSendTo(m_Socket, data.data(), int32_t(data.size()), reinterpret_cast<sockaddr*>(&to), nLen);
    }
    // One datagram into data, with its sender's port and family; the byte count, or -1.
    int32_t RecvFrom(std::string& data, uint16_t* pPort = nullptr, int32_t* pFamily = nullptr) const
    {
        data.assign(9000, 'x');
        sockaddr_storage from;
        int32_t nFrom = static_cast<int32_t>(sizeof(from));
        int32_t n =
            JXSocketRecvFrom(m_Socket, &data[0], int32_t(data.size()), reinterpret_cast<sockaddr*>(&from), &nFrom);
        data.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (pPort != nullptr) *pPort = PortOf(from);
        if (pFamily != nullptr) *pFamily = from.ss_family;
        return n;
    }
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

class NetUdp : public ::testing::TestWithParam<Endpoint> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(JXNetStartup(), JX_OK);
        m_Started = true;
        if (CUdpSocket(GetParam()).m_Port == 0) GTEST_SKIP() << GetParam().pHost << " is not configured here";
    }
    void TearDown() override
    {
        if (m_Started) JXNetCleanup();
    }
    bool m_Started = false;
};

// Whole datagrams with the sender (empty is 0 bytes, not a close); would-block and bad-handle codes.
TEST_P(NetUdp, DatagramsAndErrors)
{
    CUdpSocket a(GetParam());
    CUdpSocket b(GetParam());
    ASSERT_TRUE(a.m_Port != 0 && b.m_Port != 0 && a.m_Port != b.m_Port);
    for (size_t nSize : {size_t(1), size_t(12), size_t(1472), size_t(8000), size_t(0)}) {
        SCOPED_TRACE(nSize);
        std::string data(nSize, '\0');
        for (size_t i = 0; i < nSize; ++i)
            data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        ASSERT_EQ(a.SendTo(data, b.m_Port), static_cast<int32_t>(nSize));
        ASSERT_TRUE(WaitReadable(b.m_Socket));
        std::string got;
        uint16_t nPort = 0;
        int32_t nFamily = 0;
        ASSERT_EQ(b.RecvFrom(got, &nPort, &nFamily), static_cast<int32_t>(nSize));
        EXPECT_TRUE(got == data && nFamily == GetParam().nFamily && nPort == a.m_Port);
    }
    char buf[16];
    std::string got;
    EXPECT_EQ(a.RecvFrom(got), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_WOULDBLOCK);
    EXPECT_NE(JXSocketLastErrorRaw(), 0);
    EXPECT_EQ(JXSocketRecv(a.m_Socket, buf, sizeof(buf)), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_WOULDBLOCK);
    EXPECT_FALSE(WaitReadable(a.m_Socket, 0));
    int32_t nLen = 0;
    sockaddr_storage to = MakeAddr(GetParam(), a.m_Port, nLen);
    EXPECT_EQ(JXSocketSendTo(JX_INVALID_SOCKET, "x", 1, reinterpret_cast<sockaddr*>(&to), nLen), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_OTHER);
    EXPECT_EQ(JXSocketRecvFrom(JX_INVALID_SOCKET, buf, sizeof(buf), nullptr, nullptr), -1);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_OTHER);
    // The receive buffer option reaches the socket (Linux reports twice the value).
    const int32_t kSize = 64 * 1024;
    ASSERT_EQ(JXSocketSetOptInt(a.m_Socket, SOL_SOCKET, SO_RCVBUF, kSize), JX_OK);
    int32_t nValue = 0;
    ASSERT_EQ(JXSocketGetOptInt(a.m_Socket, SOL_SOCKET, SO_RCVBUF, &nValue), JX_OK);
    EXPECT_GE(nValue, kSize);
}

// A connected socket hears only its peer; an ICMP "port unreachable" fails no later recvfrom (Windows).
TEST_P(NetUdp, ConnectedSocketAndAClosedPort)
{
    CUdpSocket a(GetParam());
    CUdpSocket b(GetParam());
    CUdpSocket stranger(GetParam());
    ASSERT_TRUE(a.m_Port != 0 && b.m_Port != 0 && stranger.m_Port != 0);
    const uint16_t nClosedPort = CUdpSocket(GetParam()).m_Port;
    ASSERT_NE(nClosedPort, 0);
    int32_t nLen = 0;
    sockaddr_storage to = MakeAddr(GetParam(), b.m_Port, nLen);
    ASSERT_EQ(JXSocketConnect(a.m_Socket, reinterpret_cast<sockaddr*>(&to), nLen), JX_OK);
    ASSERT_EQ(stranger.SendTo("stranger", a.m_Port), 8);
    ASSERT_EQ(b.SendTo("peer", a.m_Port), 4);
    ASSERT_TRUE(WaitReadable(a.m_Socket));
    char buf[64];
    ASSERT_EQ(JXSocketRecv(a.m_Socket, buf, sizeof(buf)), 4);
    EXPECT_EQ(std::string(buf, 4), "peer");
    EXPECT_FALSE(WaitReadable(a.m_Socket, 100));
    ASSERT_EQ(b.SendTo("lost", nClosedPort), 4);
    ASSERT_EQ(JXSocketSend(a.m_Socket, "back", 4), 4);
    ASSERT_TRUE(WaitReadable(b.m_Socket));
    std::string got;
    uint16_t nPort = 0;
    ASSERT_EQ(b.RecvFrom(got, &nPort), 4) << "error " << JXSocketLastErrorRaw();
    EXPECT_EQ(got, "back");
    EXPECT_EQ(nPort, a.m_Port);
}

// The set holds kMax sockets, refuses one more but takes one it holds again, reports only the ready one.
TEST_P(NetUdp, SelectOverAFullSetReportsOnlyTheReadySocket)
{
    std::vector<std::unique_ptr<CUdpSocket>> sockets;
    CJXFdSet read;
    for (int32_t i = 0; i < kSetMax; ++i) {
        sockets.emplace_back(new CUdpSocket(GetParam()));
        ASSERT_NE(sockets.back()->m_Port, 0) << i;
        ASSERT_TRUE(read.Add(sockets.back()->m_Socket)) << i;
    }
    CUdpSocket extra(GetParam());
    ASSERT_NE(extra.m_Port, 0);
    EXPECT_FALSE(read.Add(extra.m_Socket));
    EXPECT_TRUE(read.Add(sockets[0]->m_Socket));
    EXPECT_FALSE(read.Add(JX_INVALID_SOCKET));
    EXPECT_EQ(read.GetCount(), kSetMax);
    CJXFdSet idle = read;
    EXPECT_EQ(JXSelect(&idle, nullptr, 0), 0);
    for (int32_t nTarget : {kSetMax - 1, 0, kSetMax / 2}) {
        SCOPED_TRACE(nTarget);
        const CUdpSocket& target = *sockets[static_cast<size_t>(nTarget)];
        ASSERT_EQ(extra.SendTo("ping", target.m_Port), 4);
        CJXFdSet ready = read;
        ASSERT_EQ(JXSelect(&ready, nullptr, kWaitMs), 1);
        for (int32_t i = 0; i < kSetMax; ++i)
            EXPECT_EQ(ready.IsSet(sockets[static_cast<size_t>(i)]->m_Socket), i == nTarget) << i;
        char buf[8];
        EXPECT_EQ(JXSocketRecvFrom(target.m_Socket, buf, sizeof(buf), nullptr, nullptr), 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Loopback, NetUdp, ::testing::Values(Endpoint{AF_INET, "127.0.0.1"}, Endpoint{AF_INET6, "::1"}),
                         [](const ::testing::TestParamInfo<Endpoint>& info) {
                             return std::string(info.param.nFamily == AF_INET6 ? "IPv6" : "IPv4");
                         });

}   // namespace

// What the platform layer does on Winsock that has no twin on Linux: the
// counted start-up, handles kept from child processes, and the raw WSA codes
// behind the layer's own error codes.
#include "JXNet.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace {

class NetWindows : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(JXNetStartup(), JX_OK); }
    void TearDown() override { JXNetCleanup(); }
};

bool IsInheritable(JXSOCKET s)
{
    DWORD nFlags = 0;
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(s), &nFlags)) << GetLastError();
    return (nFlags & HANDLE_FLAG_INHERIT) != 0;
}

TEST_F(NetWindows, StartupIsCountedSoAnInnerCleanupKeepsSocketsWorking)
{
    ASSERT_EQ(JXNetStartup(), JX_OK);
    JXNetCleanup();
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, JX_INVALID_SOCKET) << JXSocketLastErrorRaw();
    EXPECT_EQ(JXSocketClose(s), JX_OK);
}

// Created sockets, listeners and both ends of an accepted connection.
TEST_F(NetWindows, SocketsAreNotInheritedByChildProcesses)
{
    uint16_t nPort = 0;
    JXSOCKET listener = JXSocketListenTCP("127.0.0.1", 0, 4, &nPort);
    ASSERT_NE(listener, JX_INVALID_SOCKET);
    JXSOCKET client = JXSocketCreate(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    JXSOCKET udp = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
    ASSERT_TRUE(client != JX_INVALID_SOCKET && udp != JX_INVALID_SOCKET) << JXSocketLastErrorRaw();
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(JXSocketConnect(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), JX_OK);
    CJXFdSet read;
    read.Add(listener);
    ASSERT_EQ(JXSelect(&read, nullptr, 2000), 1);
    JXSOCKET accepted = JXSocketAccept(listener);
    ASSERT_NE(accepted, JX_INVALID_SOCKET) << JXSocketLastErrorRaw();
    for (JXSOCKET s : {listener, client, udp, accepted}) {
        EXPECT_FALSE(IsInheritable(s));
        JXSocketClose(s);
    }
}

TEST_F(NetWindows, LayerCodesStandForTheWsaCodes)
{
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, JX_INVALID_SOCKET);
    ASSERT_EQ(JXSocketSetBlocking(s, 0), JX_OK);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(JXSocketBind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), JX_OK);

    char buf[8];
    EXPECT_EQ(JXSocketRecv(s, buf, sizeof(buf)), -1);
    EXPECT_EQ(JXSocketLastErrorRaw(), WSAEWOULDBLOCK);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_WOULDBLOCK);

    EXPECT_EQ(JXSocketRecv(JX_INVALID_SOCKET, buf, sizeof(buf)), -1);
    EXPECT_EQ(JXSocketLastErrorRaw(), WSAENOTSOCK);
    EXPECT_EQ(JXSocketLastError(), JX_NET_ERR_OTHER);

    // The code belongs to the thread that made the failed call.
    int32_t nOther = -1;
    std::thread([&] { nOther = JXSocketLastErrorRaw(); }).join();
    EXPECT_EQ(nOther, 0);
    JXSocketClose(s);
}

}   // namespace

// Readiness of descriptors above FD_SETSIZE (1024). Such numbers cannot go into
// an fd_set at all; a process with hundreds of streams reaches them. Linux
// only (the file name keeps it out of the Windows build): Windows sets hold
// handles of any value.
#include "JXNet.h"
#include "JXSocket.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <string>

namespace {

constexpr int kHighFd = 1500;

class NetHighDescriptor : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &m_Saved), 0);
        rlimit raised = m_Saved;
        raised.rlim_cur = kHighFd + 16;
        if (m_Saved.rlim_cur >= raised.rlim_cur) return;
        if (m_Saved.rlim_max != RLIM_INFINITY && m_Saved.rlim_max < raised.rlim_cur)
            GTEST_SKIP() << "RLIMIT_NOFILE hard limit " << m_Saved.rlim_max << " is below " << kHighFd;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
        m_Restore = true;
    }
    void TearDown() override
    {
        if (m_Restore) setrlimit(RLIMIT_NOFILE, &m_Saved);
    }

    rlimit m_Saved{};
    bool m_Restore = false;
};

TEST_F(NetHighDescriptor, ReadinessAndReceiveAboveFdSetSize)
{
    static_assert(kHighFd > FD_SETSIZE, "the descriptor must be beyond what an fd_set holds");
    uint16_t nPort = 0;
    JXSOCKET listener = JXSocketListenTCP(nullptr, 0, 4, &nPort);
    ASSERT_NE(listener, JX_INVALID_SOCKET);

    CJXSocketTCP client;
    ASSERT_EQ(client.Open("127.0.0.1", nPort), JX_OK);
    CJXFdSet acceptSet;
    acceptSet.Add(listener);
    ASSERT_EQ(JXSelect(&acceptSet, nullptr, 2000), 1);
    JXSOCKET peer = JXSocketAccept(listener);
    ASSERT_NE(peer, JX_INVALID_SOCKET);

    // Move the client's connection to descriptor 1500.
    int nLow = static_cast<int>(client.m_Socket);
    ASSERT_EQ(dup2(nLow, kHighFd), kHighFd);
    close(nLow);
    client.m_Socket = static_cast<JXSOCKET>(kHighFd);

    // Not readable yet, but writable.
    CJXFdSet readSet;
    readSet.Add(client.m_Socket);
    CJXFdSet writeSet = readSet;
    EXPECT_EQ(JXSelect(&readSet, &writeSet, 0), 1);
    EXPECT_FALSE(readSet.IsSet(client.m_Socket));
    EXPECT_TRUE(writeSet.IsSet(client.m_Socket));

    // Data arrives: readable, and the pass reads it through the set.
    ASSERT_EQ(JXSocketSend(peer, "high", 4), 4);
    readSet = writeSet;
    ASSERT_EQ(JXSelect(&readSet, nullptr, 1000), 1);
    ASSERT_TRUE(readSet.IsSet(client.m_Socket));
    char buf[16];
    ASSERT_EQ(client.OnRecv(&readSet, buf, sizeof(buf)), 4);
    EXPECT_EQ(std::string(buf, 4), "high");

    // And the other way round.
    EXPECT_EQ(client.Send("back", 4, 1000), 4);
    CJXFdSet peerSet;
    peerSet.Add(peer);
    ASSERT_EQ(JXSelect(&peerSet, nullptr, 1000), 1);
    ASSERT_EQ(JXSocketRecv(peer, buf, sizeof(buf)), 4);
    EXPECT_EQ(std::string(buf, 4), "back");

    // The peer closes: the high descriptor is readable and the read reports it.
    JXSocketClose(peer);
    readSet = writeSet;
    ASSERT_EQ(JXSelect(&readSet, nullptr, 1000), 1);
    EXPECT_EQ(client.OnRecv(&readSet, buf, sizeof(buf)), JX_ERR_FAIL);

    client.Close();
    EXPECT_EQ(fcntl(kHighFd, F_GETFD), -1);   // Close released descriptor 1500
    JXSocketClose(listener);
}

TEST(NetPosix, SocketsAreNotInheritedByChildProcesses)
{
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, JX_INVALID_SOCKET);
    int nFlags = fcntl(static_cast<int>(s), F_GETFD);
    EXPECT_NE(nFlags & FD_CLOEXEC, 0);
    JXSocketClose(s);
}

}   // namespace

// TCP sockets and name lookups over loopback (a stand-in name service, the test clock).
#include "JXNet.h"
#include "JXResolver.h"
#include "JXSocket.h"
#include "JXTime.h"

#include "stand_in_names.h"
#include "test_wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;

constexpr int32_t kWatchMs = 200;       // watching for what must not happen
constexpr uint32_t kAttemptMs = 3000;   // the table's connects (the test clock stands still)
constexpr uint32_t kOpenMs = 300;       // Open in the table (the real clock ends a hanging lookup)
constexpr uint64_t kClockStart = 1000000;

int64_t MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// A socket on loopback, listening or accepted, closed at the end of its scope.
struct CTestSocket {
    explicit CTestSocket(JXSOCKET s = JX_INVALID_SOCKET) : m_Socket(s) {}
    ~CTestSocket() { Close(); }
    bool Open(const char* pHost = nullptr, int32_t nBacklog = 16)
    {
        m_Socket = JXSocketListenTCP(pHost, 0, nBacklog, &m_Port);
        return m_Socket != JX_INVALID_SOCKET;
    }
    void Close()
    {
        if (m_Socket != JX_INVALID_SOCKET) JXSocketClose(m_Socket);
        m_Socket = JX_INVALID_SOCKET;
    }
    // The next connection within nMs, or JX_INVALID_SOCKET.
    JXSOCKET Accept(int32_t nMs = kWaitBoundMs)
    {
        CJXFdSet readSet;
        readSet.Add(m_Socket);
        return JXSelect(&readSet, nullptr, nMs) > 0 ? JXSocketAccept(m_Socket) : JX_INVALID_SOCKET;
    }
    JXSOCKET m_Socket = JX_INVALID_SOCKET;
    uint16_t m_Port = 0;
};

// True once s is readable within the bound; readSet then holds it.
bool WaitReadable(JXSOCKET s, CJXFdSet& readSet)
{
    readSet.Add(s);
    return JXSelect(&readSet, nullptr, kWaitBoundMs) == 1;
}

// Up to n bytes until the peer's close or the bound; through the client's OnRecv when given.
std::string ReadUpTo(JXSOCKET s, size_t n, CJXSocketTCP* pClient = nullptr)
{
    std::string out;
    std::vector<char> buf(65536);
    WaitFor([&] {
        CJXFdSet readSet;
        readSet.Add(s);
        if (JXSelect(&readSet, nullptr, 0) <= 0) return false;
        int32_t nWant = static_cast<int32_t>(std::min(n - out.size(), buf.size()));
        int32_t nGot = pClient ? pClient->OnRecv(&readSet, buf.data(), nWant) : JXSocketRecv(s, buf.data(), nWant);
        if (nGot > 0) out.append(buf.data(), static_cast<size_t>(nGot));
        return nGot <= 0 || out.size() >= n;
    });
    return out;
}


class NetBase : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(JXNetStartup(), JX_OK); }
    void TearDown() override { JXNetCleanup(); }
};

enum class EPeer { V4, V6, Dead };

struct ConnectCase {
    const char* pName;
    const char* pHost;
    EPeer ePeer;   // whose port is given
    int32_t nExpect;
    int32_t nFamily;    // of the connected socket
    int32_t nLookups;   // calls to the name service
};

const std::string kLongestName = std::string(250, 'a') + ".test";   // 255 characters, the most a name has

const ConnectCase kConnectCases[] = {
    {"NumericV4", "127.0.0.1", EPeer::V4, JX_OK, AF_INET, 0},
    {"BracketedV6", "[::1]", EPeer::V6, JX_OK, AF_INET6, 0},
    {"BareV6", "::1", EPeer::V6, JX_OK, AF_INET6, 0},
    {"Name", "camera.test", EPeer::V4, JX_OK, AF_INET, 1},
    {"LocalhostBySystem", "localhost", EPeer::V4, JX_OK, AF_INET, 1},
    {"UnknownName", "nowhere.invalid", EPeer::V4, JX_ERR_FAIL, 0, 1},
    {"Refused", "127.0.0.1", EPeer::Dead, JX_ERR_FAIL, 0, 0},
    {"V6RefusedThenV4", "dual.test", EPeer::V4, JX_OK, AF_INET, 1},
    {"LookupNeverEnds", "hang.test", EPeer::V4, JX_ERR_TIMEOUT, 0, 1},
    {"LongestName", kLongestName.c_str(), EPeer::V4, JX_OK, AF_INET, 1},
};

class NetConnect : public NetBase, public ::testing::WithParamInterface<ConnectCase> {
protected:
    void SetUp() override
    {
        NetBase::SetUp();
        CJXTime::UseTestClock(kClockStart);
        ASSERT_TRUE(m_V4.Open());
        if (GetParam().ePeer == EPeer::V6 && !m_V6.Open("::1")) GTEST_SKIP() << "no IPv6 loopback here";
        CTestSocket gone;   // a port where nothing listens: bound once, then released
        ASSERT_TRUE(gone.Open());
        m_Dead = gone.m_Port;
    }
    void TearDown() override
    {
        CJXTime::UseRealClock();
        NetBase::TearDown();
    }
    uint16_t Port() const
    {
        const EPeer e = GetParam().ePeer;
        return e == EPeer::V4 ? m_V4.m_Port : e == EPeer::V6 ? m_V6.m_Port : m_Dead;
    }
    // Both ends: a non-blocking TCP_NODELAY socket of the family that carries bytes, or nothing.
    void CheckOutcome(CJXSocketTCP& client, int32_t nRet, CNameService& names)
    {
        const ConnectCase& c = GetParam();
        EXPECT_EQ(nRet, c.nExpect);
        EXPECT_FALSE(client.IsConnecting());
        EXPECT_EQ(names.m_Calls, c.nLookups);
        CTestSocket& server = c.ePeer == EPeer::V6 ? m_V6 : m_V4;
        if (c.nExpect != JX_OK) {
            EXPECT_FALSE(client.IsValid());
            EXPECT_EQ(server.Accept(0), JX_INVALID_SOCKET);
            return;
        }
        ASSERT_TRUE(client.IsValid());
        sockaddr_storage addr;
        int32_t nLen = static_cast<int32_t>(sizeof(addr));
        ASSERT_EQ(JXSocketGetName(client.m_Socket, reinterpret_cast<sockaddr*>(&addr), &nLen), JX_OK);
        EXPECT_EQ(addr.ss_family, c.nFamily);
        int32_t nNoDelay = 0;
        EXPECT_EQ(JXSocketGetOptInt(client.m_Socket, IPPROTO_TCP, TCP_NODELAY, &nNoDelay), JX_OK);
        EXPECT_NE(nNoDelay, 0);
        char buf[8];
        EXPECT_EQ(client.OnRecv(nullptr, buf, sizeof(buf)), 0);   // would block, not wait
        CTestSocket peer(server.Accept());
        ASSERT_NE(peer.m_Socket, JX_INVALID_SOCKET);
        ASSERT_EQ(client.Send("ping", 4), 4);
        EXPECT_EQ(ReadUpTo(peer.m_Socket, 4), "ping");
    }

    CTestSocket m_V4;
    CTestSocket m_V6;
    uint16_t m_Dead = 0;
};

// An attempt (on the test clock) still under way 1 ms before its time-out; its result at the time-out.
int32_t ResultAtTimeOut(CJXSocketTCP& client, uint32_t nTimeOutMs)
{
    EXPECT_EQ(client.ContinueConnect(), 1);
    CJXTime::AdvanceTestClock(nTimeOutMs - 1);
    EXPECT_EQ(client.ContinueConnect(), 1);
    EXPECT_TRUE(client.IsConnecting());
    CJXTime::AdvanceTestClock(1);
    return client.ContinueConnect();
}

// Passes as the worker makes them: ContinueConnect, then a short wait on the socket.
int32_t Drive(CJXSocketTCP& client)
{
    int32_t nRet = 1;
    WaitFor([&] { return (nRet = client.ContinueConnect()) != 1; });
    return nRet;
}

TEST_P(NetConnect, WithoutWaiting)
{
    const ConnectCase& c = GetParam();
    CJXResolver resolver(1);
    CJXSocketTCP client;
    CNameGuard guard;
    int32_t nRet = client.StartConnect(c.pHost, Port(), &resolver, kAttemptMs);
    if (c.nExpect == JX_ERR_TIMEOUT) {
        // The lookup hangs: the attempt ends exactly at its time-out.
        ASSERT_EQ(nRet, JX_OK);
        ASSERT_TRUE(guard.m_Names.WaitActive(1));
        nRet = ResultAtTimeOut(client, kAttemptMs);
    } else if (nRet == JX_OK) {
        EXPECT_TRUE(client.IsConnecting());
        nRet = Drive(client);
    }
    CheckOutcome(client, nRet, guard.m_Names);
}

TEST_P(NetConnect, ThroughOpen)
{
    CJXSocketTCP client;
    CNameGuard guard;
    Clock::time_point t0 = Clock::now();
    int32_t nRet = client.Open(GetParam().pHost, Port(), kOpenMs);
    if (nRet == JX_ERR_TIMEOUT) {
        EXPECT_GE(MsSince(t0), static_cast<int64_t>(kOpenMs) - 1);   // not before its time (to the ms)
    }
    CheckOutcome(client, nRet, guard.m_Names);
}

INSTANTIATE_TEST_SUITE_P(Loopback, NetConnect, ::testing::ValuesIn(kConnectCases),
                         [](const ::testing::TestParamInfo<ConnectCase>& info) { return info.param.pName; });

// A full backlog answers no handshake: the connect ends at its time-out exactly.
TEST_F(NetBase, UnansweredConnectEndsAtTheTimeOut)
{
    CTestSocket server;
    ASSERT_TRUE(server.Open(nullptr, 0));
    std::vector<CJXSocketTCP> fill(8);
    bool bFull = false;
    for (CJXSocketTCP& c : fill) {
        if (c.Open("127.0.0.1", server.m_Port, 150) == JX_ERR_TIMEOUT) {
            bFull = true;
            break;
        }
    }
    if (!bFull) GTEST_SKIP() << "this network stack completes every handshake";

    CJXSocketTCP client;
    CJXTime::UseTestClock(kClockStart);
    ASSERT_EQ(client.StartConnect("127.0.0.1", server.m_Port, nullptr, 500), JX_OK);
    EXPECT_EQ(ResultAtTimeOut(client, 500), JX_ERR_TIMEOUT);
    CJXTime::UseRealClock();
    EXPECT_FALSE(client.IsValid());
}

// A new connect closes the earlier connection and keeps the buffers.
TEST_F(NetBase, NewConnectClosesTheEarlierOneAndKeepsBuffers)
{
    CTestSocket server;
    ASSERT_TRUE(server.Open());
    CJXSocketTCP client;
    ASSERT_EQ(client.Open("127.0.0.1", server.m_Port), JX_OK);
    CTestSocket first(server.Accept());
    ASSERT_NE(first.m_Socket, JX_INVALID_SOCKET);
    client.GetSendBuf() = "pending";
    client.GetRecvBuf() = "partial";
    ASSERT_EQ(client.StartConnect("127.0.0.1", server.m_Port, nullptr), JX_OK);
    CJXFdSet readSet;
    ASSERT_TRUE(WaitReadable(first.m_Socket, readSet));
    char buf[8];
    EXPECT_EQ(JXSocketRecv(first.m_Socket, buf, sizeof(buf)), 0);
    ASSERT_EQ(Drive(client), JX_OK);
    CTestSocket second(server.Accept());
    EXPECT_NE(second.m_Socket, JX_INVALID_SOCKET);
    EXPECT_STREQ(client.GetSendBuf().c_str(), "pending");
    EXPECT_STREQ(client.GetRecvBuf().c_str(), "partial");
    EXPECT_EQ(client.ContinueConnect(), JX_OK);   // outside an attempt: the state
}

// Close forgets the resolver: destroyed first, it is never touched again (sanitizer builds).
TEST_F(NetBase, CloseForgetsTheResolver)
{
    CJXSocketTCP client;
    {
        auto pResolver = std::make_unique<CJXResolver>(1);
        CNameGuard guard;
        ASSERT_EQ(client.StartConnect("hang.test", 554, pResolver.get()), JX_OK);
        ASSERT_TRUE(guard.m_Names.WaitActive(1));
        client.Close();
        EXPECT_FALSE(client.IsConnecting());
        guard.m_Names.OpenGate();
        pResolver.reset();
        EXPECT_EQ(guard.m_Names.m_Active, 0);
    }
    EXPECT_EQ(client.ContinueConnect(), JX_ERR_STATE);
}

TEST(NetResolver, RunsAtMostItsThreadsAtOnce)
{
    constexpr int32_t kThreads = 2;
    constexpr int32_t kLookups = 6;
    CJXResolver resolver(kThreads);
    CNameGuard guard;
    CNameService& names = guard.m_Names;
    std::vector<int32_t> handles;
    for (int32_t i = 0; i < kLookups; ++i)
        handles.push_back(resolver.Submit("hang.test", 554));
    for (int32_t h : handles)
        ASSERT_GT(h, 0);
    ASSERT_TRUE(names.WaitActive(kThreads));

    // One lookup let go at a time: a queued one takes its thread, never more.
    for (int32_t i = 1; i <= kLookups; ++i) {
        names.Release(1);
        int32_t nCalls = std::min(kLookups, kThreads + i);
        ASSERT_TRUE(WaitFor([&] { return names.m_Calls == nCalls; })) << i;
        EXPECT_LE(names.m_MaxActive, kThreads);
    }
    for (int32_t h : handles) {
        addrinfo* pList = nullptr;
        ASSERT_TRUE(WaitFor([&] { return resolver.Collect(h, &pList) != 1; }));
        ASSERT_NE(pList, nullptr);
        EXPECT_EQ(pList->ai_family, AF_INET);
        freeaddrinfo(pList);
        EXPECT_EQ(resolver.Collect(h, &pList), JX_ERR_ARG);   // gone once collected
    }
    EXPECT_EQ(names.m_MaxActive, kThreads);
}

TEST(NetResolver, DestructorWaitsForTheRunningLookupAndDropsTheQueue)
{
    auto pResolver = std::make_unique<CJXResolver>(1);
    CNameGuard guard;
    CNameService& names = guard.m_Names;
    ASSERT_GT(pResolver->Submit("hang.one", 554), 0);
    ASSERT_GT(pResolver->Submit("hang.two", 554), 0);
    ASSERT_TRUE(names.WaitActive(1));

    std::thread destroyer([&] {
        pResolver.reset();
        names.m_Destroyed = true;
    });
    // While the lookup hangs, the destructor must not return.
    EXPECT_FALSE(WaitFor([&] { return names.m_Destroyed.load(); }, kWatchMs));
    names.OpenGate();
    destroyer.join();
    EXPECT_EQ(names.m_Active, 0);
    EXPECT_FALSE(names.m_ExitAfterDestroyed);
    EXPECT_EQ(names.m_Calls, 1);   // the queued lookup never ran
}

// Results cancelled while queued, running or done, or never collected, are freed (sanitizer builds).
TEST(NetResolver, GivenUpResultsAreFreed)
{
    enum EGiveUp { kQueued, kRunning, kDone, kUncollected };
    const int32_t kCalls[] = {1, 1, 2, 2};   // lookups made, per row
    for (int32_t eWhen = kQueued; eWhen <= kUncollected; ++eWhen) {
        SCOPED_TRACE(eWhen);
        auto pResolver = std::make_unique<CJXResolver>(1);
        CNameGuard guard;
        CNameService& names = guard.m_Names;
        int32_t nTarget = 0;
        if (eWhen == kQueued) {
            ASSERT_GT(pResolver->Submit("hang.test", 554), 0);
            ASSERT_TRUE(names.WaitActive(1));
            nTarget = pResolver->Submit("camera.test", 554);
        } else if (eWhen == kRunning) {
            nTarget = pResolver->Submit("hang.test", 554);
            ASSERT_TRUE(names.WaitActive(1));
        } else {
            // One thread: once the second lookup runs, the first one is done.
            nTarget = pResolver->Submit("camera.test", 554);
            ASSERT_GT(pResolver->Submit("hang.test", 554), 0);
            ASSERT_TRUE(WaitFor([&] { return names.m_Calls == 2 && names.m_Active == 1; }));
        }
        ASSERT_GT(nTarget, 0);
        if (eWhen != kUncollected) {
            pResolver->Cancel(nTarget);
            addrinfo* pList = nullptr;
            EXPECT_EQ(pResolver->Collect(nTarget, &pList), JX_ERR_ARG);
        }
        names.OpenGate();
        pResolver.reset();
        EXPECT_EQ(names.m_Calls, kCalls[eWhen]);
        EXPECT_EQ(names.m_Active, 0);
    }
}

TEST(NetResolver, QueueIsBounded)
{
    const int32_t kMaxQueued = CJXResolver::kMaxQueued;
    CJXResolver resolver(1);
    CNameGuard guard;
    ASSERT_GT(resolver.Submit("hang.test", 554), 0);
    ASSERT_TRUE(guard.m_Names.WaitActive(1));
    std::set<int32_t> handles;
    for (int32_t i = 0; i < kMaxQueued; ++i)
        handles.insert(resolver.Submit("camera.test", 554));
    EXPECT_EQ(handles.size(), static_cast<size_t>(kMaxQueued));
    EXPECT_GT(*handles.begin(), 0);
    EXPECT_EQ(resolver.Submit("camera.test", 554), JX_ERR_STATE);
    resolver.Cancel(*handles.begin());
    EXPECT_GT(resolver.Submit("camera.test", 554), 0);
}

class NetConnected : public NetBase {
protected:
    void SetUp() override
    {
        NetBase::SetUp();
        ASSERT_TRUE(m_Server.Open());
        ASSERT_EQ(m_Client.Open("127.0.0.1", m_Server.m_Port), JX_OK);
        m_Peer.m_Socket = m_Server.Accept();
        ASSERT_NE(m_Peer.m_Socket, JX_INVALID_SOCKET);
    }
    CTestSocket m_Server;
    CJXSocketTCP m_Client;
    CTestSocket m_Peer;
};

TEST_F(NetConnected, ByteExactBothWaysWithPartialSends)
{
    // Server to client, read as the worker reads.
    const std::string toClient = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n";
    ASSERT_EQ(JXSocketSend(m_Peer.m_Socket, toClient.data(), static_cast<int32_t>(toClient.size())),
              static_cast<int32_t>(toClient.size()));
    EXPECT_EQ(ReadUpTo(m_Client.m_Socket, toClient.size(), &m_Client), toClient);

    // Far larger than the socket buffers: Send goes on after every partial send.
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    std::string got;
    std::thread reader([&] { got = ReadUpTo(m_Peer.m_Socket, big.size()); });
    EXPECT_EQ(m_Client.Send(big.data(), static_cast<int32_t>(big.size()), kWaitBoundMs), static_cast<int32_t>(big.size()));
    reader.join();
    EXPECT_TRUE(got == big) << "received " << got.size() << " of " << big.size() << " bytes";

    // A set without the socket: nothing sent or read, even with data waiting.
    CJXFdSet otherSet;
    otherSet.Add(m_Peer.m_Socket);
    EXPECT_EQ(m_Client.OnSend(&otherSet, "abc", 3), 0);
    ASSERT_EQ(JXSocketSend(m_Peer.m_Socket, "xyz", 3), 3);
    CJXFdSet readSet;
    ASSERT_TRUE(WaitReadable(m_Client.m_Socket, readSet));
    char buf[16];
    EXPECT_EQ(m_Client.OnRecv(&otherSet, buf, sizeof(buf)), 0);
    EXPECT_EQ(m_Client.OnRecv(&readSet, buf, sizeof(buf)), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
}

TEST_F(NetConnected, WouldBlockAndSendTimeOut)
{
    JXSocketSetOptInt(m_Client.m_Socket, SOL_SOCKET, SO_SNDBUF, 8192);
    JXSocketSetOptInt(m_Peer.m_Socket, SOL_SOCKET, SO_RCVBUF, 8192);
    const std::string big(32 * 1024 * 1024, 'q');
    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(m_Client.Send(big.data(), static_cast<int32_t>(big.size()), 300), JX_ERR_TIMEOUT);
    EXPECT_GE(MsSince(t0), 280);
    // Without waiting, a full buffer is "would block": 0, not an error.
    EXPECT_EQ(m_Client.OnSend(nullptr, big.data(), 65536), 0);
}

TEST_F(NetConnected, PeerCloseAfterDataIsAFailureWithoutSignal)
{
    ASSERT_EQ(JXSocketSend(m_Peer.m_Socket, "last", 4), 4);
    m_Peer.Close();
    // The bytes before the close come first, then the close itself.
    EXPECT_EQ(ReadUpTo(m_Client.m_Socket, 4, &m_Client), "last");
    CJXFdSet readSet;
    ASSERT_TRUE(WaitReadable(m_Client.m_Socket, readSet));
    char buf[16];
    EXPECT_EQ(m_Client.OnRecv(&readSet, buf, sizeof(buf)), JX_ERR_FAIL);

    // Once the reset is back a send fails (a SIGPIPE would end this program instead).
    const std::string chunk(4096, 'x');
    int32_t nRet = 0;
    WaitFor([&] { return (nRet = m_Client.Send(chunk.data(), static_cast<int32_t>(chunk.size()), 200)) < 0; });
    EXPECT_EQ(nRet, JX_ERR_FAIL);
    EXPECT_EQ(m_Client.OnSend(nullptr, chunk.data(), 10), JX_ERR_FAIL);
}

// Hostile hosts and lengths, calls on a closed socket: one row a call.
struct X {
    explicit X(CJXSocketTCP& connected) : m_Conn(connected) {}
    CJXSocketTCP& m_Conn;
    CJXSocketTCP m_Closed;
    CJXResolver m_Res{1};
    std::string m_Long = std::string(300, 'a');
    char m_Buf[8] = {};
};
struct ArgCase {
    const char* pName;
    int32_t (*pCall)(X& x);
    int32_t nExpect;
};

const ArgCase kArgCases[] = {
    {"OpenOpenBracket", [](X& x) { return x.m_Closed.Open("[::1", 554); }, JX_ERR_ARG},
    {"OpenEmptyBrackets", [](X& x) { return x.m_Closed.Open("[]", 554); }, JX_ERR_ARG},
    {"OpenTextAfterBracket", [](X& x) { return x.m_Closed.Open("[::1]x", 554); }, JX_ERR_ARG},
    {"OpenCloseBracket", [](X& x) { return x.m_Closed.Open("::1]", 554); }, JX_ERR_ARG},
    {"OpenBracketedName", [](X& x) { return x.m_Closed.Open("[camera.test]", 554); }, JX_ERR_ARG},
    {"OpenLongHost", [](X& x) { return x.m_Closed.Open(x.m_Long.c_str(), 554); }, JX_ERR_ARG},
    {"StartNameNoResolver", [](X& x) { return x.m_Closed.StartConnect("camera.test", 554, nullptr); }, JX_ERR_ARG},
    {"RecvClosed", [](X& x) { return x.m_Closed.OnRecv(nullptr, x.m_Buf, 8); }, JX_ERR_FAIL},
    {"SendClosed", [](X& x) { return x.m_Closed.Send("a", 1, 10); }, JX_ERR_FAIL},
    {"SendNegative", [](X& x) { return x.m_Conn.Send("abc", -1); }, JX_ERR_ARG},
    {"SubmitLongHost", [](X& x) { return x.m_Res.Submit(x.m_Long.c_str(), 554); }, JX_ERR_ARG},
};

TEST_F(NetConnected, BadArgumentsAndWrongState)
{
    X x(m_Client);
    for (const ArgCase& c : kArgCases) {
        EXPECT_EQ(c.pCall(x), c.nExpect) << c.pName;
        EXPECT_FALSE(x.m_Closed.IsValid()) << c.pName;
        EXPECT_FALSE(x.m_Closed.IsConnecting()) << c.pName;
    }
    // The connection took no harm from the rejected calls.
    ASSERT_EQ(m_Client.Send("ok", 2), 2);
    EXPECT_EQ(ReadUpTo(m_Peer.m_Socket, 2), "ok");
}

}   // namespace

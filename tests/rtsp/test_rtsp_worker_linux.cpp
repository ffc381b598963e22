// Linux-only checks of the shared worker: one thread, named, for all streams,
// gone after the last; and a camera that does not answer a connect (a listener
// whose accept queue is full drops the connection request, so the connect
// neither completes nor fails) costs the other streams nothing.
#include "rtsp_test_util.h"

#include <dirent.h>

#include <fstream>
#include <memory>
#include <vector>

namespace {

constexpr int32_t kWaitMs = 5000;

// Threads of this process whose name is the given one.
int CountThreadsNamed(const std::string& name)
{
    int n = 0;
    DIR* pDir = opendir("/proc/self/task");
    if (pDir == nullptr) return -1;
    while (dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + pEntry->d_name + "/comm");
        std::string text;
        std::getline(comm, text);
        n += text == name ? 1 : 0;
    }
    closedir(pDir);
    return n;
}

// A listener on 127.0.0.1 that accepts nothing, its queue filled up, so that
// a further connect hangs. Invalid when the system did not behave so.
struct CDeadListener {
    JXSOCKET m_Listen = JX_INVALID_SOCKET;
    std::vector<JXSOCKET> m_Fillers;
    uint16_t m_Port = 0;

    CDeadListener()
    {
        m_Listen = JXSocketListenTCP("127.0.0.1", 0, 0, &m_Port);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(m_Port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Connect until one stays pending: that one shows the queue is full.
        for (int i = 0; i < 8; ++i) {
            JXSOCKET s = JXSocketCreate(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            JXSocketSetBlocking(s, 0);
            JXSocketConnect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
            m_Fillers.push_back(s);
            CJXFdSet writeSet;
            writeSet.Add(s);
            if (JXSelect(nullptr, &writeSet, 200) == 0) return;   // pending: the queue is full
        }
        m_Port = 0;
    }
    ~CDeadListener()
    {
        for (JXSOCKET s : m_Fillers)
            JXSocketClose(s);
        if (m_Listen != JX_INVALID_SOCKET) JXSocketClose(m_Listen);
    }
    bool IsDead() const { return m_Listen != JX_INVALID_SOCKET && m_Port != 0; }
};

}   // namespace

TEST(RtspWorker, OneNamedThreadAndAConnectThatHangsCostsTheOthersNothing)
{
    CDeadListener dead;
    if (!dead.IsDead()) GTEST_SKIP() << "this system completes connects to a full listener";
    EXPECT_EQ(CountThreadsNamed("RTSPSocket"), 0);
    CTestClock clock;
    CScriptedServer srv;
    CTestRTP rtp;
    CServerScript session;
    session.Expect("DESCRIBE")
        .Reply(SdpReply(kSdpVideoOnly))
        .Expect("SETUP")
        .Reply(SetupReply("1", "RTP/AVP/TCP;unicast;interleaved=0-1"))
        .Expect("PLAY")
        .Reply(OkReply())
        .Stream(InterleavedFrame(0, rtp.Next("Kframe")), 10);
    srv.ServeEach(session);

    struct CStream {
        CRTSPClient* m_Client = new CRTSPClient();
        CStateRecorder m_Recorder;
    };
    std::vector<std::unique_ptr<CStream>> streams;
    for (int i = 0; i < 10; ++i) {
        streams.emplace_back(new CStream());
        CStream& s = *streams.back();
        CRTSPClient* pClient = s.m_Client;
        s.m_Recorder.SetAction([pClient](const CReport& r) {
            if (r.m_Code == 4101 && r.m_Error == 0 && pClient->m_Video && !pClient->m_Video->m_Media) {
                pClient->m_Video->m_Media = new CStubMedia(pClient->m_Video);
            }
        });
        s.m_Recorder.Subscribe(pClient);
        // The first stream points at the camera that does not answer.
        pClient->Open(i == 0 ? ("rtsp://127.0.0.1:" + std::to_string(dead.m_Port) + "/dead").c_str()
                             : srv.Url("/cam").c_str());
    }
    for (auto& s : streams)
        ASSERT_EQ(s->m_Client->Start(), 0);
    // The nine others play and receive while the first is still connecting: a
    // connect that held the worker would have ended, and been reported, first.
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (size_t i = 1; i < streams.size(); ++i) {
                if (streams[i]->m_Recorder.Frames() < 10) return false;
            }
            return true;
        },
        kWaitMs));
    EXPECT_EQ(streams[0]->m_Recorder.Count(), 0u);
    EXPECT_EQ(CountThreadsNamed("RTSPSocket"), 1);

    // 2 s on the stream's clock: the connect fails, reported as any failed connect.
    clock.Advance(2000);
    ASSERT_TRUE(streams[0]->m_Recorder.WaitReports(1, kWaitMs));
    EXPECT_EQ(streams[0]->m_Recorder.Reports(), (std::vector<CReport>{{4101, -28}}));
    const int32_t nFrames = streams[1]->m_Recorder.Frames();
    EXPECT_TRUE(WaitUntil([&] { return streams[1]->m_Recorder.Frames() > nFrames + 5; }, kWaitMs));
    for (auto& s : streams)
        s->m_Client->Release();
    EXPECT_EQ(CountThreadsNamed("RTSPSocket"), 0);   // the last stop ended it
}

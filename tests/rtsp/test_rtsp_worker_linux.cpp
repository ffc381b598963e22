// Linux-only checks of the shared worker: one named thread for all streams,
// gone after the last; a camera that refuses and one that never answers a
// connect (a listener whose accept queue is full drops the request, so the
// connect neither completes nor fails) cost the other streams nothing.
#include "rtsp_test_util.h"

#include <dirent.h>

#include <fstream>

namespace {

constexpr int32_t kWaitMs = 5000;

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

// A listener on 127.0.0.1 that accepts nothing, its queue filled until one
// connect stays pending. Port 0 when the system did not behave so.
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
        for (int i = 0; i < 8 && m_Listen != JX_INVALID_SOCKET; ++i) {
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
};

}   // namespace

TEST(RtspWorker, OneNamedThreadAndDeadCamerasCostTheOthersNothing)
{
    CDeadListener dead;
    if (dead.m_Port == 0) GTEST_SKIP() << "this system completes connects to a full listener";
    uint16_t nClosedPort = 0;
    {
        CScriptedServer closed;
        nClosedPort = closed.GetPort();
    }
    EXPECT_EQ(CountThreadsNamed("RTSPSocket"), 0);
    CTestClock clock;
    CScriptedServer srv;
    CServerScript session;
    srv.ServeEach(PlayAndStream(session, 10));
    std::vector<std::unique_ptr<CHostStream>> streams;
    streams.emplace_back(new CHostStream("rtsp://127.0.0.1:" + std::to_string(dead.m_Port) + "/dead", true));
    streams.emplace_back(new CHostStream("rtsp://127.0.0.1:" + std::to_string(nClosedPort) + "/refused", true));
    for (int i = 0; i < 9; ++i)
        streams.emplace_back(new CHostStream(srv.Url("/cam"), true));
    for (auto& s : streams)
        ASSERT_EQ((*s)->Start(), 0);
    // The others play while the first still connects: a connect that held the
    // worker would have ended, and been reported, first.
    ASSERT_TRUE(WaitFrames(streams, 2, 10, kWaitMs)) << srv.Errors();
    EXPECT_EQ(streams[0]->m_Recorder.Count(), 0u);
    EXPECT_EQ(streams[1]->m_Recorder.Reports(), (Reports{{4101, -28}}));
    EXPECT_EQ(CountThreadsNamed("RTSPSocket"), 1);
    // 2 s on the stream's clock: the connect fails, reported as any failed connect.
    clock.Advance(2000);
    ASSERT_TRUE(streams[0]->m_Recorder.WaitReports(1, kWaitMs));
    EXPECT_EQ(streams[0]->m_Recorder.Reports(), (Reports{{4101, -28}}));
    const int32_t nFrames = streams[2]->m_Recorder.Frames();
    EXPECT_TRUE(WaitUntil([&] { return streams[2]->m_Recorder.Frames() > nFrames + 5; }, kWaitMs));
    streams.clear();
    // The last stop joined the thread; the kernel may list a joined thread a
    // moment longer, so its entry is waited for.
    EXPECT_TRUE(WaitUntil([] { return CountThreadsNamed("RTSPSocket") == 0; }, kWaitMs));
}

// The stream object across threads: a release inside a report that Start
// sends on the host's thread, starts and stops racing on the one worker, a
// stop on the worker while the host starts and opens the same stream, and
// slow name lookups beside a live camera, the sockets the worker watches.
// Run under ThreadSanitizer in CI too.
#include "rtsp_test_util.h"
#include "stand_in_names.h"

#include <algorithm>

namespace {

constexpr int32_t kWaitMs = 5000;

// Counts the passes that run at the same time, over all streams.
std::atomic<int> g_InPass{0};
std::atomic<int> g_MostAtOnce{0};
std::atomic<int> g_Passes{0};

class CPassCounter : public CRTSPClient {
public:
    int OnWork(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait) override
    {
        const int nNow = ++g_InPass;
        int nMost = g_MostAtOnce.load();
        while (nNow > nMost && !g_MostAtOnce.compare_exchange_weak(nMost, nNow)) {}
        // Long enough for a racing start to run a pass beside this one.
        const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
        while (std::chrono::steady_clock::now() < end) {}
        --g_InPass;
        ++g_Passes;
        CRTSPClient::OnWork(pMsg, nValue, nWait);
        nWait = 0;   // passes back to back, so a racing start finds one running
        return 0;
    }
};

// The sockets the worker watches for all streams; -1 without a worker.
int32_t WorkerWatches()
{
    CJXAutoLock lock(CRTSPSocket::s_RTSPMutex);
    return CRTSPSocket::s_RTSPThread ? CRTSPSocket::s_RTSPThread->GetWatchCount() : -1;
}

}   // namespace

// Start on a started stream reports 4101 on the host's thread; a subscriber
// that releases the stream there must not pull it from under that report.
TEST(RtspRaces, ReleaseInsideTheReportOfStartOnTheHostThread)
{
    CTestClock clock;
    CScriptedServer srv;
    srv.Script().Accept().Expect("DESCRIBE");   // then silence: no report from the worker
    std::atomic<int> nDeleted{0};
    CHostStream stream(srv.Url("/cam"), false, new CCountedClient(nDeleted));
    CRTSPClient* pClient = stream.m_Client;
    ASSERT_EQ(stream->Start(), 0);
    ASSERT_TRUE(srv.WaitDone(kWaitMs)) << srv.Errors();
    const std::thread::id host = std::this_thread::get_id();
    stream.SetAction([&](const CReport& r) {
        if (r.m_Code != 4101 || std::this_thread::get_id() != host) return;
        EXPECT_EQ(pClient->Release(), 0);
        EXPECT_EQ(nDeleted.load(), 0);
    });
    stream.m_Client = nullptr;
    EXPECT_EQ(pClient->Start(), JX_ERR_STATE);
    EXPECT_EQ(nDeleted.load(), 1);
    EXPECT_EQ(stream.m_Recorder.Reports(), (Reports{{4101, -28}}));
    EXPECT_TRUE(WaitFor([] { return !CRTSPSocket::HasWorker(); }, kWaitMs));
}

// The last stream leaving while another starts: the start joins the worker
// that is ending or makes the next one, but two passes never run at once.
TEST(RtspRaces, StopOfTheLastStreamRacingAStartNeverRunsTwoPasses)
{
    CTestClock clock;   // a refused connection waits 10 s of test time: passes stay short
    g_MostAtOnce = 0;
    CPassCounter a;
    CPassCounter b;
    ASSERT_EQ(a.Open("rtsp://127.0.0.1:1/a"), 0);
    ASSERT_EQ(b.Open("rtsp://127.0.0.1:1/b"), 0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(a.Start(), 0);
        const int nPasses = g_Passes.load();
        ASSERT_TRUE(WaitFor([&] { return g_Passes.load() > nPasses; }, kWaitMs));
        std::thread stopper([&] { a.Stop(); });
        std::thread starter([&] { b.Start(); });
        stopper.join();
        starter.join();
        ASSERT_EQ(b.Stop(), 0);
    }
    EXPECT_EQ(g_MostAtOnce.load(), 1);
    EXPECT_TRUE(WaitFor([] { return !CRTSPSocket::HasWorker(); }, kWaitMs));
}

// A frame callback on the worker stops the stream while the host's thread
// opens and starts it again and again: the stop flag and the URL are shared.
TEST(RtspRaces, StopOnTheWorkerWhileTheHostOpensAndStarts)
{
    CTestClock clock;
    CScriptedServer srv;
    PlayAndStream(srv.Script().Accept(), 2);
    const std::string url = srv.Url("/cam");
    CHostStream stream(url, true);
    CRTSPClient* pClient = stream.m_Client;
    std::atomic<int> nStops{0};
    stream.SetAction([&](const CReport& r) {
        if (r.m_Code == 2106 && nStops.fetch_add(1) == 0) pClient->Stop();
    });
    ASSERT_EQ(stream->Start(), 0);
    // Until the stop, Open is refused and Start reports that the stream runs.
    bool bRestarted = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!bRestarted && std::chrono::steady_clock::now() < end)
        bRestarted = stream->Open(url.c_str()) == 0 || stream->Start() == 0;
    EXPECT_TRUE(bRestarted);
    EXPECT_GE(nStops.load(), 1);
    stream.SetAction(nullptr);
}

// Ten cameras whose names take 1.5 s to look up cost the worker nothing: a
// live camera beside them gets its frames without a gap; and when the last
// stream goes, no lookup thread of ours runs any more.
TEST(RtspRaces, SlowNameLookupsDoNotHoldUpALiveCamera)
{
    CTestClock clock;
    CNameGuard guard;
    CNameService& names = guard.m_Names;
    CScriptedServer srv;
    PlayAndStream(srv.Script().Accept(), 5);
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    auto arrived = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return arrivals.size();
    };
    std::unique_ptr<CHostStream> live(new CHostStream(srv.Url("/cam"), true));
    live->SetAction([&](const CReport& r) {
        std::lock_guard<std::mutex> lock(mutex);
        if (r.m_Code == 2106) arrivals.push_back(std::chrono::steady_clock::now());
    });
    ASSERT_EQ((*live)->Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return arrived() > 0; }, kWaitMs)) << srv.Errors();
    std::vector<std::unique_ptr<CHostStream>> slow;
    for (int i = 0; i < 10; ++i) {
        slow.emplace_back(new CHostStream("rtsp://camera" + std::to_string(i) + ".slow/live"));
        ASSERT_EQ((*slow.back())->Start(), 0);
    }
    ASSERT_TRUE(WaitFor([&] { return names.m_Calls.load() >= 4; }, kWaitMs));
    const size_t nFirst = arrived();
    // Long enough for the ten lookups to hold a blocking worker many times over.
    ASSERT_TRUE(WaitFor([&] { return arrived() >= nFirst + 100; }, kWaitMs));
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto nMost = std::chrono::milliseconds(0);
        for (size_t i = nFirst; i < arrivals.size(); ++i)
            nMost =
                std::max(nMost, std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[i - 1]));
        // A worker that waited on one lookup would leave a gap of the whole
        // lookup; a third of it leaves room for a loaded machine and the
        // sanitizers' slowness without letting a blocked pass through.
        EXPECT_LT(nMost.count(), CNameService::kSlowMs / 3);
    }
    slow.clear();
    live.reset();
    EXPECT_EQ(names.m_Active.load(), 0);
    EXPECT_FALSE(CRTSPSocket::HasResolver());
}

// Two playing streams have their connections watched; one stopped from
// inside its frame callback leaves the set while the other plays on, and
// the host's stop of the other empties it.
TEST(RtspRaces, AStreamStoppedInItsCallbackLeavesTheWatchedSet)
{
    CTestClock clock;
    CScriptedServer srv;
    CServerScript session;
    srv.ServeEach(PlayAndStream(session, 2));
    std::vector<std::unique_ptr<CHostStream>> streams;
    for (int i = 0; i < 2; ++i)
        streams.emplace_back(new CHostStream(srv.Url("/cam"), true));
    CRTSPClient* pFirst = streams[0]->m_Client;
    std::atomic<bool> bStop{false};
    std::atomic<int> nStops{0};
    streams[0]->SetAction([&](const CReport& r) {
        if (r.m_Code == CRTSPClient::kMsgFrame && bStop && nStops.fetch_add(1) == 0) pFirst->Stop();
    });
    for (auto& s : streams)
        ASSERT_EQ((*s)->Start(), 0);
    ASSERT_TRUE(WaitFrames(streams, 0, 2, kWaitMs)) << srv.Errors();
    EXPECT_TRUE(WaitFor([] { return WorkerWatches() == 2; })) << WorkerWatches();
    bStop = true;
    EXPECT_TRUE(WaitFor([&] { return nStops > 0 && WorkerWatches() == 1; })) << WorkerWatches();
    const int32_t nFrames = streams[1]->m_Recorder.Frames();
    EXPECT_TRUE(WaitFor([&] { return streams[1]->m_Recorder.Frames() > nFrames + 3; }));
    ASSERT_EQ(streams[1]->m_Client->Stop(), 0);
    EXPECT_EQ(WorkerWatches(), -1);   // the last stop ended the worker
    streams[0]->SetAction(nullptr);
}

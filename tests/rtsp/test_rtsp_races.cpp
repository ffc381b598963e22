// The stream object across threads: the host's thread releasing a stream
// from inside a report that Start sends, starts and stops racing on the one
// worker, and a stop asked for on the worker while the host starts and opens
// the same stream. These run under ThreadSanitizer in CI as well.
#include "rtsp_test_util.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kWaitMs = 5000;

class CCountedClient : public CRTSPClient {
public:
    explicit CCountedClient(std::atomic<int>& deleted) : m_Deleted(deleted) {}
    ~CCountedClient() override { ++m_Deleted; }
    std::atomic<int>& m_Deleted;
};

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

// One connection that plays a video stream and sends a key frame every
// nPeriodMs until the client goes.
void PlayAndStream(CServerScript& s, CTestRTP& rtp, int32_t nPeriodMs)
{
    s.Accept()
        .Expect("DESCRIBE")
        .Reply(SdpReply(kSdpVideoOnly))
        .Expect("SETUP")
        .Reply(SetupReply("5", "RTP/AVP/TCP;unicast;interleaved=0-1"))
        .Expect("PLAY")
        .Reply(OkReply())
        .Stream(InterleavedFrame(0, rtp.Next("Kframe")), nPeriodMs);
}

}   // namespace

// Start on a started stream reports 4101 on the host's thread; a subscriber
// that releases the stream there must not pull the object from under the
// walk over its subscribers.
TEST(RtspRaces, ReleaseInsideTheReportOfStartOnTheHostThread)
{
    CTestClock clock;
    CScriptedServer srv;
    srv.Script().Accept().Expect("DESCRIBE");   // then silence: no report from the worker
    std::atomic<int> nDeleted{0};
    CCountedClient* pClient = new CCountedClient(nDeleted);
    CStateRecorder recorder;
    recorder.Subscribe(pClient);
    ASSERT_EQ(pClient->Open(srv.Url("/cam").c_str()), 0);
    ASSERT_EQ(pClient->Start(), 0);
    ASSERT_TRUE(srv.WaitDone(kWaitMs)) << srv.Errors();
    const std::thread::id host = std::this_thread::get_id();
    recorder.SetAction([&](const CReport& r) {
        if (r.m_Code == 4101 && std::this_thread::get_id() == host) {
            EXPECT_EQ(pClient->Release(), 0);
            EXPECT_EQ(nDeleted.load(), 0);   // not while its subscribers are walked
        }
    });
    EXPECT_EQ(pClient->Start(), JX_ERR_STATE);
    EXPECT_EQ(nDeleted.load(), 1);
    EXPECT_EQ(recorder.Reports(), (std::vector<CReport>{{4101, -28}}));
    EXPECT_TRUE(WaitUntil([] { return !CRTSPSocket::HasWorker(); }, kWaitMs));
}

// The last stream leaving while another starts: the start joins the worker
// that is ending or makes the next one, but two passes never run at once.
TEST(RtspRaces, StopOfTheLastStreamRacingAStartNeverRunsTwoPasses)
{
    CTestClock clock;   // a refused connection waits 10 s of test time: passes stay short
    (void)clock;
    g_MostAtOnce = 0;
    CPassCounter a;
    CPassCounter b;
    ASSERT_EQ(a.Open("rtsp://127.0.0.1:1/a"), 0);
    ASSERT_EQ(a.Stop(), 0);
    ASSERT_EQ(b.Open("rtsp://127.0.0.1:1/b"), 0);
    ASSERT_EQ(b.Stop(), 0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(a.Start(), 0);
        const int nPasses = g_Passes.load();
        ASSERT_TRUE(WaitUntil([&] { return g_Passes.load() > nPasses; }, kWaitMs));
        std::thread stopper([&] { a.Stop(); });
        std::thread starter([&] { b.Start(); });
        stopper.join();
        starter.join();
        ASSERT_EQ(b.Stop(), 0);
    }
    EXPECT_EQ(g_MostAtOnce.load(), 1);
    EXPECT_TRUE(WaitUntil([] { return !CRTSPSocket::HasWorker(); }, kWaitMs));
}

// A subscriber stops the stream from its frame callback on the worker while
// the host's thread opens and starts the same stream again and again: the
// stop flag and the URL are shared between the two threads.
TEST(RtspRaces, StopOnTheWorkerWhileTheHostOpensAndStarts)
{
    CTestClock clock;
    CScriptedServer srv;
    CTestRTP rtp;
    PlayAndStream(srv.Script(), rtp, 2);
    CRTSPClient* pClient = new CRTSPClient();
    CStateRecorder recorder;
    recorder.Subscribe(pClient);
    const std::string url = srv.Url("/cam");
    ASSERT_EQ(pClient->Open(url.c_str()), 0);
    std::atomic<int> nStops{0};
    recorder.SetAction([&](const CReport& r) {
        if (r.m_Code == 4101 && r.m_Error == 0 && pClient->m_Video && !pClient->m_Video->m_Media) {
            pClient->m_Video->m_Media = new CStubMedia(pClient->m_Video);
        }
        if (r.m_Code == 2106 && nStops.fetch_add(1) == 0) pClient->Stop();
    });
    ASSERT_EQ(pClient->Start(), 0);
    // Until the stop has happened, Open is refused and Start reports that
    // the stream runs; afterwards Open takes the URL (or Start starts anew).
    bool bRestarted = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!bRestarted && std::chrono::steady_clock::now() < end) {
        bRestarted = pClient->Open(url.c_str()) == 0 || pClient->Start() == 0;
    }
    EXPECT_TRUE(bRestarted);
    EXPECT_GE(nStops.load(), 1);
    recorder.SetAction(nullptr);
    pClient->Release();
}

namespace {

// A name service that takes its time: every lookup of a name under
// ".slow" sleeps, then finds nothing. Counts the lookups still running.
std::atomic<int> g_SlowRunning{0};
std::atomic<int> g_SlowStarted{0};
constexpr int kSlowLookupMs = 1500;

int SlowResolve(const char* pHost, const char* pPort, const addrinfo* pHints, addrinfo** ppResult)
{
    const size_t nLen = strlen(pHost);
    if (nLen < 5 || strcmp(pHost + nLen - 5, ".slow") != 0) return getaddrinfo(pHost, pPort, pHints, ppResult);
    ++g_SlowRunning;
    ++g_SlowStarted;
    std::this_thread::sleep_for(std::chrono::milliseconds(kSlowLookupMs));
    --g_SlowRunning;
    return EAI_NONAME;
}

class CSlowNames {
public:
    CSlowNames() { JXNetSetResolver(&SlowResolve); }
    ~CSlowNames() { JXNetSetResolver(nullptr); }
};

}   // namespace

// Cameras whose names take long to look up cost the worker nothing: a live
// camera beside ten of them gets its frames without a gap.
TEST(RtspRaces, SlowNameLookupsDoNotHoldUpALiveCamera)
{
    CTestClock clock;
    CSlowNames names;
    CScriptedServer srv;
    CTestRTP rtp;
    PlayAndStream(srv.Script(), rtp, 5);
    CRTSPClient* pLive = new CRTSPClient();
    CStateRecorder recorder;
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    recorder.SetAction([&](const CReport& r) {
        if (r.m_Code == 4101 && r.m_Error == 0 && pLive->m_Video && !pLive->m_Video->m_Media) {
            pLive->m_Video->m_Media = new CStubMedia(pLive->m_Video);
        }
        if (r.m_Code == 2106) {
            std::lock_guard<std::mutex> lock(mutex);
            arrivals.push_back(std::chrono::steady_clock::now());
        }
    });
    recorder.Subscribe(pLive);
    ASSERT_EQ(pLive->Open(srv.Url("/cam").c_str()), 0);
    ASSERT_EQ(pLive->Start(), 0);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Frames() > 0; }, kWaitMs)) << srv.Errors();

    std::vector<CRTSPClient*> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(new CRTSPClient());
        ASSERT_EQ(slow.back()->Open(("rtsp://camera" + std::to_string(i) + ".slow/live").c_str()), 0);
        ASSERT_EQ(slow.back()->Start(), 0);
    }
    ASSERT_TRUE(WaitUntil([] { return g_SlowStarted.load() >= 4; }, kWaitMs));
    const size_t nFirst = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return arrivals.size();
    }();
    // Long enough for the ten lookups to hold a blocking worker many times over.
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return arrivals.size() >= nFirst + 100;
        },
        kWaitMs));
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto nMost = std::chrono::milliseconds(0);
        for (size_t i = nFirst; i < arrivals.size(); ++i) {
            nMost =
                std::max(nMost, std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[i - 1]));
        }
        EXPECT_LT(nMost.count(), 100);
    }
    for (CRTSPClient* p : slow)
        p->Release();
    recorder.SetAction(nullptr);
    pLive->Release();
    // The last stream gone, no lookup thread of ours runs any more.
    EXPECT_EQ(g_SlowRunning.load(), 0);
}

// A stream released while its name is still being looked up: once the last
// stream is released and the module's entry point to end it has returned,
// no thread of ours is left running.
TEST(RtspRaces, ReleaseDuringASlowLookupLeavesNoThreadBehind)
{
    CSlowNames names;
    const int nStarted = g_SlowStarted.load();
    CRTSPClient* pClient = new CRTSPClient();
    ASSERT_EQ(pClient->Open("rtsp://gone.slow/live"), 0);
    ASSERT_EQ(pClient->Start(), 0);
    ASSERT_TRUE(WaitUntil([&] { return g_SlowStarted.load() > nStarted; }, kWaitMs));
    EXPECT_EQ(g_SlowRunning.load(), 1);
    pClient->Release();
    EXPECT_EQ(g_SlowRunning.load(), 0);
    EXPECT_FALSE(CRTSPSocket::HasWorker());
    EXPECT_FALSE(CRTSPSocket::HasResolver());
}

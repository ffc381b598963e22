// Many streams on the one worker, started and stopped from several host
// threads at once, against one scripted server that plays every connection.
#include "rtsp_test_util.h"

#include <thread>

TEST(RtspMany, TwoHundredStreamsFromSeveralHostThreads)
{
    constexpr int kStreams = 200;
    constexpr int kHostThreads = 4;
    constexpr int32_t kWaitMs = 40000;
    CTestClock clock;
    CScriptedServer srv(kWaitMs);
    CServerScript session;
    srv.ServeEach(PlayAndStream(session, 20, "\r\n" + InterleavedFrame(1, std::string(8, '\x80'))));
    std::vector<std::unique_ptr<CHostStream>> streams;
    for (int i = 0; i < kStreams; ++i)
        streams.emplace_back(new CHostStream(srv.Url("/cam" + std::to_string(i)), true));
    // Each host thread starts its share, and later stops and releases it.
    auto forShare = [&](const std::function<void(CHostStream&, int)>& action) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kHostThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = t; i < kStreams; i += kHostThreads)
                    action(*streams[size_t(i)], i);
            });
        }
        for (auto& thread : threads)
            thread.join();
    };
    std::atomic<int> nStartErrors{0};
    forShare([&](CHostStream& s, int) { nStartErrors += s->Start() != 0 ? 1 : 0; });
    EXPECT_EQ(nStartErrors.load(), 0);
    EXPECT_EQ(CRTSPSocket::s_RTSPCount, kStreams);
    ASSERT_TRUE(WaitFrames(streams, 0, 3, kWaitMs)) << srv.Errors();
    for (auto& s : streams)
        EXPECT_EQ(s->m_Recorder.Reports(), (Reports{{4101, 0}}));
    EXPECT_EQ(srv.Connections(), kStreams);
    // Half are stopped while the rest go on; then all are released.
    forShare([](CHostStream& s, int i) { EXPECT_EQ(i % 2 == 0 ? s->Stop() : 0, 0); });
    forShare([](CHostStream& s, int) {
        s->Release();
        s.m_Client = nullptr;
    });
    EXPECT_FALSE(CRTSPSocket::HasWorker());
    EXPECT_EQ(CRTSPSocket::s_RTSPCount, 0);
    EXPECT_TRUE(WaitUntil([&] { return srv.ClosedByClient() == kStreams; }, kWaitMs)) << srv.ClosedByClient();
    srv.Stop();
    EXPECT_EQ(srv.Errors(), "");
}

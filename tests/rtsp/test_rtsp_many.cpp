// Many streams on the one worker, started and stopped from several host
// threads at once, against one scripted server that plays every connection.
#include "rtsp_test_util.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kWaitMs = 40000;

// What every connection of the server does: play one video stream and send a
// key frame every nPeriodMs until the client goes.
CServerScript PlayingSession(int32_t nPeriodMs)
{
    CTestRTP rtp;
    CServerScript s;
    s.Expect("DESCRIBE")
        .Reply(SdpReply(kSdpVideoOnly))
        .Expect("SETUP")
        .Reply(SetupReply("1;timeout=60", "RTP/AVP/TCP;unicast;interleaved=0-1"))
        .Expect("PLAY")
        .Reply(OkReply())
        .Stream(InterleavedFrame(0, rtp.Next("Kframe")) + "\r\n" + InterleavedFrame(1, std::string(8, '\x80')),
                nPeriodMs);
    return s;
}

// One stream as a host keeps it: frames reach the recorder through a
// stand-in depacketizer given to the stream when it starts playing.
struct CManyStream {
    CRTSPClient* m_Client = nullptr;
    CStateRecorder m_Recorder;

    explicit CManyStream(const std::string& url) : m_Client(new CRTSPClient())
    {
        CRTSPClient* pClient = m_Client;
        m_Recorder.SetAction([pClient](const CReport& r) {
            if (r.m_Code == 4101 && r.m_Error == 0 && pClient->m_Video && !pClient->m_Video->m_Media) {
                pClient->m_Video->m_Media = new CStubMedia(pClient->m_Video);
            }
        });
        m_Recorder.Subscribe(m_Client);
        m_Client->Open(url.c_str());
    }
};

}   // namespace

TEST(RtspMany, TwoHundredStreamsFromSeveralHostThreads)
{
    constexpr int kStreams = 200;
    constexpr int kHostThreads = 4;
    CTestClock clock;
    CScriptedServer srv(kWaitMs);
    srv.ServeEach(PlayingSession(20));

    std::vector<std::unique_ptr<CManyStream>> streams;
    for (int i = 0; i < kStreams; ++i)
        streams.emplace_back(new CManyStream(srv.Url("/cam" + std::to_string(i))));

    // Each host thread starts its share, and later stops and releases it.
    auto forShare = [&](const std::function<void(CManyStream&, int)>& action) {
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
    forShare([&](CManyStream& s, int) { nStartErrors += s.m_Client->Start() != 0 ? 1 : 0; });
    EXPECT_EQ(nStartErrors.load(), 0);
    EXPECT_EQ(CRTSPSocket::s_RTSPCount, kStreams);

    // Every stream plays and keeps receiving frames.
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (auto& s : streams) {
                if (s->m_Recorder.Frames() < 3) return false;
            }
            return true;
        },
        kWaitMs))
        << srv.Errors();
    for (auto& s : streams)
        EXPECT_EQ(s->m_Recorder.Reports(), (std::vector<CReport>{{4101, 0}}));
    EXPECT_EQ(srv.Connections(), kStreams);

    // Half are stopped while the rest go on; then the rest, all released.
    forShare([](CManyStream& s, int i) {
        if (i % 2 == 0) {
            EXPECT_EQ(s.m_Client->Stop(), 0);
        }
    });
    forShare([](CManyStream& s, int) {
        s.m_Client->Release();
        s.m_Client = nullptr;
    });
    EXPECT_FALSE(CRTSPSocket::HasWorker());
    EXPECT_EQ(CRTSPSocket::s_RTSPCount, 0);
    EXPECT_TRUE(WaitUntil([&] { return srv.ClosedByClient() == kStreams; }, kWaitMs)) << srv.ClosedByClient();
    srv.Stop();
    EXPECT_EQ(srv.Errors(), "");
}

TEST(RtspMany, RefusedCameraDoesNotHoldUpTheOthers)
{
    CTestClock clock;
    CScriptedServer srv;
    srv.ServeEach(PlayingSession(10));
    uint16_t nClosedPort = 0;
    {
        CScriptedServer closed;
        nClosedPort = closed.GetPort();
    }
    std::vector<std::unique_ptr<CManyStream>> streams;
    streams.emplace_back(new CManyStream("rtsp://127.0.0.1:" + std::to_string(nClosedPort) + "/dead"));
    for (int i = 0; i < 9; ++i)
        streams.emplace_back(new CManyStream(srv.Url("/cam")));
    for (auto& s : streams)
        ASSERT_EQ(s->m_Client->Start(), 0);
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (size_t i = 1; i < streams.size(); ++i) {
                if (streams[i]->m_Recorder.Frames() < 10) return false;
            }
            return true;
        },
        kWaitMs));
    EXPECT_EQ(streams[0]->m_Recorder.Reports(), (std::vector<CReport>{{4101, -28}}));
    for (auto& s : streams)
        s->m_Client->Release();
}

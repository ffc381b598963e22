// Helpers of the RTSP session tests: a subscriber that records what a stream
// reports, the test clock, a stand-in depacketizer that turns each RTP packet
// into one frame, and a client driven without a network.
#pragma once

#include "rtpmedia.h"
#include "rtpparser.h"
#include "rtpsocket.h"
#include "rtspclient.h"
#include "scripted_server.h"
#include "test_rtp.h"
#include "test_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One subscriber message: its code and the error of a state report.
struct CReport {
    uint32_t m_Code = 0;
    int32_t m_Error = 0;
    bool operator==(const CReport& o) const { return m_Code == o.m_Code && m_Error == o.m_Error; }
};
inline std::ostream& operator<<(std::ostream& os, const CReport& r)
{
    return os << "{" << r.m_Code << ", " << r.m_Error << "}";
}

// Records every message a stream sends (state reports and frames), on
// whatever thread it comes. An action may be run inside the callback.
class CStateRecorder : public CJXObject {
public:
    int OnSignal(CJXObject* /*pSender*/, uint32_t nCode, void* pParam1, void* /*pParam2*/)
    {
        CReport report{nCode, 0};
        if (nCode != CRTSPClient::kMsgFrame && pParam1 != nullptr)
            report.m_Error = static_cast<CJXMsg*>(pParam1)->GetError();
        std::function<void(const CReport&)> action;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (nCode == CRTSPClient::kMsgFrame) {
                ++m_Frames;
            } else {
                m_Reports.push_back(report);
            }
            action = m_Action;
        }
        if (action) action(report);
        m_Changed.notify_all();
        return 0;
    }
    void Subscribe(IJXStream* pStream) { pStream->Attach(this, JX_SIGNAL_FUNC(&CStateRecorder::OnSignal)); }
    void SetAction(std::function<void(const CReport&)> action)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Action = std::move(action);
    }
    std::vector<CReport> Reports() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Reports;
    }
    size_t Count() const { return Reports().size(); }
    int32_t Frames() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Frames;
    }
    // Waits until at least n state reports have come.
    bool WaitReports(size_t n, int32_t nMs)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::milliseconds(nMs), [&] { return m_Reports.size() >= n; });
    }

private:
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<CReport> m_Reports;
    int32_t m_Frames = 0;
    std::function<void(const CReport&)> m_Action;
};

typedef std::vector<CReport> Reports;

// The name the many-streams and worker tests wait by.
inline bool WaitUntil(const std::function<bool()>& condition, int32_t nMs)
{
    return WaitFor(condition, nMs);
}

// A client whose passes the test runs on its own thread, with no worker:
// what the session does between two passes is the test's to look at.
struct CPassClient {
    explicit CPassClient(const std::string& url)
    {
        m_Recorder.Subscribe(&m_Client);
        m_Open = m_Client.Open(url.c_str());
        if (m_Open == JX_OK) m_Open = m_Client.PrepareSession();
        m_Client.m_Resolver = std::make_shared<CJXResolver>();   // the worker's, for host names
    }
    // Passes until the condition holds; false when the time is up.
    bool RunUntil(const std::function<bool()>& condition, int32_t nMs = 3000)
    {
        return WaitFor(
            [&] {
                unsigned int nWait = 0;
                m_Client.OnWork(nullptr, 0, nWait);
                return condition();
            },
            nMs);
    }
    bool RunUntilPlaying()
    {
        return RunUntil([&] { return m_Client.m_Video && m_Client.m_Video->m_State == CRTPSocket::kStatePlaying; });
    }
    CStateRecorder m_Recorder;
    CRTSPClient m_Client;
    int32_t m_Open = JX_OK;
};

// The test clock for one test: time-outs move only when the test says so.
class CTestClock {
public:
    static constexpr uint64_t kStartMs = 1000000;
    CTestClock() { CJXTime::UseTestClock(kStartMs); }
    ~CTestClock() { CJXTime::UseRealClock(); }
    void Advance(uint64_t nMs) { CJXTime::AdvanceTestClock(nMs); }
};

// A depacketizer stand-in: every RTP packet becomes one frame whose type is
// the payload's first byte ('K' video key frame, 'A' audio, anything else
// video) and whose bytes are the payload.
class CStubMedia : public CRTPMedia {
public:
    explicit CStubMedia(CRTPSocket* pSocket) : CRTPMedia(pSocket) {}
    int OnRecvRTP(CRTPParser& rtp) override
    {
        const int32_t nLen = rtp.PayloadLength();
        CPacket* pFrame = CPacket::Acquire(CPacket::kFrameHead + nLen + 32);
        if (pFrame == nullptr) return JX_ERR_NOMEM;
        pFrame->FrameInit();
        const uint8_t nFirst = rtp.Payload()[0];
        pFrame->FrameSetType(nFirst == 'K' ? JX_FRAME_VIDEO_KEY : nFirst == 'A' ? JX_FRAME_AUDIO : JX_FRAME_VIDEO);
        pFrame->FrameSetCodec(nFirst == 'A' ? JX_CODEC_PCMA : JX_CODEC_H264);
        memcpy(pFrame->FrameGetData(), rtp.Payload(), static_cast<size_t>(nLen));
        pFrame->FrameSetLength(static_cast<uint32_t>(nLen));
        const int nRet = m_Socket->OnRecvFrame(pFrame);
        pFrame->Release();
        return nRet;
    }
    int GetHead(CJXMediaDesc*) override { return JX_ERR_STATE; }
};

// A client that counts its deletions.
class CCountedClient : public CRTSPClient {
public:
    explicit CCountedClient(std::atomic<int>& deleted) : m_Deleted(deleted) {}
    ~CCountedClient() override { ++m_Deleted; }
    std::atomic<int>& m_Deleted;
};

// A stream object as the host holds it (released at the end unless the test
// took it), with a subscriber. With bFrames it gets a stand-in depacketizer
// once it plays (on the worker, inside the state report), so that frames
// reach the subscriber; the test's own action runs behind that.
class CHostStream {
public:
    explicit CHostStream(const std::string& url, bool bFrames = false, CRTSPClient* pClient = nullptr)
        : m_Client(pClient != nullptr ? pClient : new CRTSPClient()), m_Frames(bFrames)
    {
        SetAction(nullptr);
        m_Recorder.Subscribe(m_Client);
        m_Client->Open(url.c_str());
    }
    ~CHostStream()
    {
        if (m_Client != nullptr) m_Client->Release();
    }
    CRTSPClient* operator->() { return m_Client; }
    void SetAction(std::function<void(const CReport&)> action)
    {
        CRTSPClient* pClient = m_Client;
        const bool bFrames = m_Frames;
        m_Recorder.SetAction([pClient, bFrames, action](const CReport& r) {
            // Only the playing report comes from the worker's pass: the stream is
            // read there, never from a report on the host's thread.
            CRTPSocket* pVideo = bFrames && r == CReport{CRTSPClient::kMsgState, 0} ? pClient->m_Video : nullptr;
            if (pVideo != nullptr && !dynamic_cast<CStubMedia*>(pVideo->m_Media)) {
                delete pVideo->m_Media;   // the stream's own depacketizer gives way to the stub
                pVideo->m_Media = new CStubMedia(pVideo);
            }
            if (action) action(r);
        });
    }
    CRTSPClient* m_Client;
    bool m_Frames;
    CStateRecorder m_Recorder;
};

// Every stream from the first given on has at least n frames, within the bound.
inline bool WaitFrames(const std::vector<std::unique_ptr<CHostStream>>& streams, size_t nFrom, int32_t n, int32_t nMs)
{
    return WaitFor(
        [&] {
            for (size_t i = nFrom; i < streams.size(); ++i) {
                if (streams[i]->m_Recorder.Frames() < n) return false;
            }
            return true;
        },
        nMs);
}

// A client driven without a network: its receive walk is fed directly and its
// requests are read from the send buffer.
class COfflineClient {
public:
    explicit COfflineClient(const char* pUrl = "rtsp://127.0.0.1:554/cam")
    {
        m_Client.Open(pUrl);
        m_Client.PrepareSession();
        // What OnStart does when a connection starts.
        m_Client.m_Authen.SetUser(m_Client.GetUrl().m_User, m_Client.GetUrl().m_Password);
        m_Recorder.Subscribe(&m_Client);
    }
    CRTSPClient& operator*() { return m_Client; }
    CRTSPClient* operator->() { return &m_Client; }
    // The requests (and answers) waiting in the send buffer.
    std::string Sent() { return std::string(m_Client.GetSendBuf().c_str(), size_t(m_Client.GetSendBuf().m_Length)); }
    // Feed the bytes in pieces of at most nPiece bytes (0: all at once);
    // the first negative result, else 0.
    int32_t Feed(const std::string& bytes, size_t nPiece = 0);
    // DESCRIBE sent, answered with the description; SETUP for each stream and
    // PLAY answered; after it the stream plays on channels 0-1 (and 2-3).
    void PlayTo(const std::string& sdp, const std::string& session = "12345678", size_t nPiece = 0);

    CRTSPClient m_Client;
    CStateRecorder m_Recorder;
};

// Descriptions and answers used by many tests.
inline const char kSdpVideoOnly[] = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Test\r\nt=0 0\r\n"
                                    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n";
inline const char kSdpVideoAudio[] = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Test\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
                                     "a=control:*\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                                     "a=fmtp:96 packetization-mode=1\r\na=control:trackID=1\r\n"
                                     "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:trackID=2\r\n";

inline std::string SetupReply(const std::string& session, const std::string& transport)
{
    return "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\nSession: " + session + "\r\nTransport: " + transport + "\r\n\r\n";
}

inline std::string OkReply(const std::string& extra = "")
{
    return "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\n" + extra + "\r\n";
}

// One connection's steps: DESCRIBE, SETUP and PLAY answered for one video
// stream, then a key frame and the extra bytes every nPeriodMs until the client goes.
inline CServerScript& PlayAndStream(CServerScript& s, int32_t nPeriodMs, const std::string& extra = "")
{
    CTestRTP rtp;
    return s.Expect("DESCRIBE")
        .Reply(SdpReply(kSdpVideoOnly))
        .Expect("SETUP")
        .Reply(SetupReply("5;timeout=60", "RTP/AVP/TCP;unicast;interleaved=0-1"))
        .Expect("PLAY")
        .Reply(OkReply())
        .Stream(InterleavedFrame(0, rtp.Next("Kframe")) + extra, nPeriodMs);
}

inline int32_t COfflineClient::Feed(const std::string& bytes, size_t nPiece)
{
    // What waits in the send buffer has gone out before the answer comes.
    m_Client.GetSendBuf().Empty();
    // {CSeq}: the CSeq of the request last written.
    const std::string text = SubstituteCSeq(bytes, static_cast<uint16_t>(m_Client.m_CSeq - 1));
    size_t nStep = nPiece == 0 ? text.size() : nPiece;
    for (size_t pos = 0; pos < text.size();) {
        size_t n = std::min(nStep, text.size() - pos);
        int32_t nRet = m_Client.OnRecvBytes(text.data() + pos, static_cast<int32_t>(n));
        if (nRet < 0) return nRet;
        pos += static_cast<size_t>(nRet);
        if (nRet == 0) return JX_ERR_CONTENT;   // no room: the buffer is full
    }
    return 0;
}

inline void COfflineClient::PlayTo(const std::string& sdp, const std::string& session, size_t nPiece)
{
    ASSERT_EQ(m_Client.SendDescribe(), 0);
    ASSERT_EQ(m_Client.Phase(), CRTSPClient::EPhase::kDescribing);
    ASSERT_EQ(Feed(SdpReply(sdp), nPiece), 0);
    ASSERT_NE(m_Client.m_Video, nullptr);
    ASSERT_EQ(m_Client.m_Pending, CRTSPClient::kPendingSetup);
    ASSERT_EQ(m_Client.Phase(), CRTSPClient::EPhase::kSettingUp);
    // The first answer names the time-out (60 s unless the test gives one).
    const std::string id = session.substr(0, session.find(';'));
    const std::string first = session.find(';') == std::string::npos ? session + ";timeout=60" : session;
    ASSERT_EQ(Feed(SetupReply(first, "RTP/AVP/TCP;unicast;interleaved=0-1"), nPiece), 0);
    if (m_Client.m_Audio != nullptr) {
        ASSERT_EQ(m_Client.m_Pending, CRTSPClient::kPendingSetup);
        ASSERT_EQ(Feed(SetupReply(id, "RTP/AVP/TCP;unicast;interleaved=2-3"), nPiece), 0);
    }
    ASSERT_EQ(m_Client.m_Pending, CRTSPClient::kPendingPlay);
    ASSERT_EQ(m_Client.Phase(), CRTSPClient::EPhase::kSettingUp);
    ASSERT_EQ(Feed(OkReply("Session: " + id + "\r\n"), nPiece), 0);
    ASSERT_EQ(m_Client.m_Pending, CRTSPClient::kPendingNone);
    ASSERT_EQ(m_Client.Phase(), CRTSPClient::EPhase::kPlaying);
}

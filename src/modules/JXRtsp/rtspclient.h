// The RTSP stream object (CRTSPClient).
#pragma once

#include "JXStream.h"
#include "jxrtsp.h"
#include "rtpclock.h"
#include "rtpsocket.h"
#include "rtspcallguard.h"
#include "rtspcommand.h"
#include "rtspfailure.h"
#include "rtspreader.h"
#include "rtspworker.h"

#include <atomic>
#include <memory>

class CRTPSocket;
class CSDPParser;

// One RTSP session with one server for one URL, with at most one video and one
// audio stream. The host starts, stops, releases and queries it; everything
// else, every subscriber call included, happens on the worker thread.
class JXRTSP_API CRTSPClient : public IJXStream, public CRTSPSocket {
public:
    // Kinds of request whose response is awaited (m_Pending).
    enum : uint16_t {
        kPendingNone = 0,
        kPendingDescribe = 2,
        kPendingSetup = 3,
        kPendingPlay = 4,
        kPendingTeardown = 5,
        kPendingKeepAlive = 8,
    };
    // The session's phase. It changes only on the thread that runs the
    // stream (the worker, or the host's thread while the stream is off it)
    // and may be read from any thread.
    enum class EPhase : uint8_t {
        kIdle,             // not started
        kConnecting,       // the TCP connection is being made
        kDescribing,       // DESCRIBE awaits its answer
        kSettingUp,        // SETUP or PLAY awaits its answer
        kPlaying,          // PLAY was accepted
        kWaitingToRetry,   // an attempt failed; the next waits for m_Reconnect
    };
    // Subscriber messages and state-report errors, as the public header names them.
    enum : uint32_t {
        kMsgFrame = JXRTSP_MSG_FRAME,
        kMsgState = JXRTSP_MSG_STATE,
        kMsgStopped = JXRTSP_MSG_STOPPED,
    };
    enum : int32_t {
        kReportAuth = JXRTSP_REPORT_AUTH,
        kReportFailure = JXRTSP_REPORT_FAILURE,
    };
    static constexpr int32_t kRecvBufferBytes = 262144;
    static constexpr int32_t kRecvKeepFree = 2;   // bytes of the receive buffer never filled
    static constexpr uint32_t kReconnectMs = 10000;
    static constexpr uint32_t kStartDataTimeoutMs = 20000;
    static constexpr uint32_t kFrameDataTimeoutMs = 10000;
    static constexpr uint32_t kConnectTimeoutMs = CJXSocketTCP::kConnectTimeoutMs;
    static constexpr uint32_t kMinSessionTimeout = 20;   // seconds, when the server names none
    static constexpr uint32_t kMinKeepAliveMs = 1000;
    // The hint while a host name is looked up (no socket to wait on yet).
    static constexpr uint32_t kIdleWaitMs = 5;
    // Reads of the connection per pass: one flooding stream cannot hold up
    // the others, and what is left makes the socket ready again.
    static constexpr int32_t kMaxReadsPerPass = 4;

    // The reader's view of this stream: what it reads goes to the client.
    class CReaderSink : public IRTSPReaderSink {
    public:
        explicit CReaderSink(CRTSPClient& client) : m_Client(client) {}
        bool IsAwaited(const CRTSPCommand& response) const override;
        int32_t OnResponse(CRTSPCommand& response) override;
        int32_t OnPacket(uint8_t nChannel, const char* pData, uint32_t nLen) override;
        void OnServerRequest(const CRTSPServerRequest& request) override;
        bool KeepReading() const override;
        const char* LogName() const override;

    private:
        CRTSPClient& m_Client;
    };

    CRTSPClient();
    ~CRTSPClient() override;

    // IJXStream
    int32_t Release() override;
    const char* GetProtocol() override;
    int32_t Open(CJXUrl const& url) override;
    // As the stream interface's, but refused (JX_ERR_STATE) while the stream
    // is started: the worker reads the URL then.
    int32_t Open(char const* pUrl) override;
    int32_t Start() override;
    int32_t Stop() override;
    int32_t GetMediaDesc(CJXMediaDesc*& pDesc) override;
    int32_t GetLastIFrame(CPacket*& pPacket) override;
    // The reception counts of every session since the object was made; 0.
    int32_t GetStatistics(CJXStreamStats& stats) override;
    // Why the last attempt failed (rtspclient_failure.cpp); 0.
    int32_t GetLastFailure(CJXStreamFailure& failure) override;

    // The client's own virtual operations, in slot order.
    virtual int32_t OnData(CPacket* pPacket);
    virtual int32_t OnState(unsigned int nCode, int32_t nError);
    virtual int32_t OnHead(CJXMediaHead* pHead);
    virtual int32_t OnPolling();
    int32_t OnSend(CJXFdSet* pWrite) override;
    int32_t OnRecv(CJXFdSet* pRead) override;
    virtual int32_t OnRecvCommand(const char* pText, int32_t nLen);
    virtual int32_t OnRecvData(const char* pData, int32_t nLen);
    int32_t OnWork(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait) override;

    // Session start and end (worker thread; OnStop also from Stop).
    int32_t OnStart();
    int32_t OnStop();
    // Releases m_MediaDesc and m_LastIFrame; the caller holds m_MediaMutex.
    void ReleaseMediaData();

    // Requests: each writes one request into the send buffer.
    int32_t SendDescribe();
    int32_t SendSetup(CRTPSocket* pStream);
    int32_t SendPlay();
    int32_t SendKeepAlive();
    int32_t SendTeardown();
    // A receiver report for each playing stream: on its datagram socket, or
    // interleaved on the connection (behind what waits to be sent, unless
    // that is more than kMaxQueuedForReport). Arms the next one.
    void SendReceiverReports();
    // The next receiver reports, a random share of the interval away.
    void ArmReceiverReports();
    // A request the send buffer could not take whole leaves it as it was.
    // Handlers of a complete response held in m_Command.
    int32_t OnRecvDescribe();
    int32_t OnRecvSetup();
    int32_t OnRecvPlay();
    int32_t OnRecvKeepAlive();
    // A 401 to the pending request: answered once with credentials.
    int32_t AnswerChallenge();
    // The stream whose SETUP awaits its answer, or null.
    CRTPSocket* StreamInSetup() const;
    // SETUP for the audio stream when it has not had one, else PLAY.
    int32_t SetupNextOrPlay();
    // A refused SETUP: the other stream plays alone, if there is one.
    int32_t OnSetupRefused(CRTPSocket* pStream);
    // The media description from the streams there are; the caller holds m_MediaMutex.
    void BuildMediaDesc();
    // A DESCRIBE answered with a redirect: the request goes to the Location,
    // on this connection when it names the same host and port, else on a
    // new one (without the URL's credentials) made by the pass.
    int32_t FollowRedirect();
    // The request URL from the stream's URL: rtsp:// without user information.
    void ResetRequestUrl();
    // Where the connection goes: the last redirect's host and port, else the URL's.
    const char* TargetHost() const { return m_TargetHost != nullptr ? m_TargetHost : m_Url.m_Host; }
    uint16_t TargetPort() const { return m_TargetHost != nullptr ? m_TargetPort : m_Url.m_Port; }
    static constexpr uint32_t kMaxRedirects = 3;

    // Interleaved packets by channel, to the stream that owns the channel.
    int32_t OnRecvRTP(unsigned char nChannel, const char* pData, unsigned int nLen);
    int32_t OnRecvRTCP(unsigned char nChannel, const char* pData, unsigned int nLen);

    // SDP session level (sdpparser.cpp).
    int32_t ParseSDPConnect(CSDPParser& parser);
    int32_t ParseSDPHead(CSDPParser& parser);
    void TakeContentBase();

    // What Start does before joining the worker: the request and log copies
    // of the URL, and the receive buffer's capacity (m_RecvCapacity).
    int32_t PrepareSession();
    // The receive side without a socket (tests, fuzzing): hand bytes to the
    // receive buffer as if they had been read. As many as fit are taken and
    // the buffer is walked; the bytes taken, or the walk's negative result.
    int32_t OnRecvBytes(const char* pData, int32_t nLen);
    // Split the unconsumed receive bytes into responses and interleaved
    // frames, skipping stray bytes and requests from the server; consumed
    // bytes leave the buffer. 0, or a negative result that fails the pass.
    int32_t WalkRecvBuffer();

    // The cause of the last failed attempt (rtspclient_failure.cpp). A
    // response that ends the attempt stages its status for the report; each
    // state report (OnState) publishes a failure, or marks it old on playing.
    void NoteResponseFailure(uint16_t nPending, int32_t nResult);
    void NoteStateReport(int32_t nError);
    // Where the session stands, as a JXRTSP_PHASE_* value.
    int32_t FailurePhase() const;
    CRTSPFailureNote m_Failure;

    EPhase Phase() const { return m_Phase; }
    static const char* PhaseName(EPhase ePhase);

    const CJXUrl& GetUrl() const { return m_Url; }
    // The stream URL as it stands in the request lines: without user name
    // and password. Null before Start.
    const char* GetRequestUrl() const { return m_RequestUrl; }
    // The IPv4 address (network order) of the connected server; 0 without a
    // connection or over IPv6, where datagram transports are not offered.
    uint32_t PeerIPv4() const;
    // The stream URL with the password masked, for log lines.
    const char* GetLogUrl() const { return m_LogUrl ? m_LogUrl : ""; }

    CRTSPAuthen m_Authen;
    CRTSPCommand m_Command;
    uint16_t m_Pending = kPendingNone;
    uint16_t m_CSeq = 1;
    int32_t m_Transport = 2;   // CRTPSocket::kTransportInterleaved
    CRTPSocket* m_Video = nullptr;
    CRTPSocket* m_Audio = nullptr;
    char* m_Control = nullptr;
    char* m_Connect = nullptr;
    char* m_ContentBase = nullptr;   // Content-Base or Content-Location of the description; heap text or null
    char* m_Session = nullptr;
    uint32_t m_SessionTimeout = 0;
    CJXTimeout m_KeepAlive;
    CJXTimeout m_DataTimeout;
    CJXMutex m_MediaMutex;
    CPacket* m_LastIFrame = nullptr;
    CJXMediaDesc* m_MediaDesc = nullptr;
    uint64_t m_StartTime = 0;
    uint64_t m_FirstFrameTime = 0;
    // Counts of the video and audio stream over every session, and the clock
    // the two share within a session.
    CRTPStreamCounters m_VideoCounters;
    CRTPStreamCounters m_AudioCounters;
    CRTPSessionClock m_SessionClock;
    CJXTimeout m_ReportTimer;   // the next receiver reports
    char m_CName[32] = {};      // the session's SDES CNAME
    static constexpr int32_t kMaxQueuedForReport = 4096;

    // Capacity Start gives the receive buffer (tests may lower it).
    int32_t m_RecvCapacity = kRecvBufferBytes;
    // Splits the received bytes into responses, frames and server requests.
    CReaderSink m_ReaderSink{*this};
    CRTSPReader m_Reader{m_ReaderSink, m_Command};
    uint64_t ExaminedBytes() const { return m_Reader.ExaminedBytes(); }
    // CSeq of the request whose answer is awaited.
    uint16_t m_PendingCSeq = 0;
    // The server refused SET_PARAMETER: keep-alives go as OPTIONS.
    bool m_KeepAliveOptions = false;
    // A challenge was understood on this connection: requests carry credentials.
    bool m_AuthChallenged = false;
    // The pending request is already the answer to a 401.
    bool m_AuthRetried = false;
    // The session ended because the server lost it: the next starts at once.
    bool m_ReconnectNow = false;
    // Redirects followed since the attempt began at the stream's URL, and
    // where the last one sent it when another host or port (heap text or null).
    uint32_t m_Redirects = 0;
    char* m_TargetHost = nullptr;
    uint16_t m_TargetPort = 0;
    bool m_RedirectPending = false;   // the pass connects to the target

private:
    // Which session header a request carries.
    enum ESession { kSessionIfHeld, kSessionAlways };

    // A complete response to the pending request (the reader's sink).
    int32_t OnResponse();
    int32_t DispatchResponse();
    bool IsAnswerToPending() const;
    // Interleaved packets: odd channels carry RTCP, even ones RTP.
    int32_t OnPacket(unsigned char nChannel, const char* pData, unsigned int nLen);
    void AnswerServerRequest(const CRTSPServerRequest& request);

    // The connection is made across passes so that a camera that does not
    // answer costs the other streams nothing.
    int32_t BeginConnect();
    int32_t PollConnect();
    int32_t FinishConnect();
    void FailConnect();
    void RunPass();
    // After a pass: the worker watches the sockets the stream has now, and
    // the hint is the time to the stream's nearest timer (at most nWait).
    void WatchSockets();
    unsigned int NextPassWait(unsigned int nWait) const;
    bool IsAttached();
    // Clears everything that belongs to one connection (buffers, pending
    // request, readers, session texts, media streams). Every path that
    // starts or ends a connection goes through here.
    void ResetConnection();
    // The host's stop: the session ends without TEARDOWN.
    void EndSessionQuietly();

    // Request line, CSeq and Session; Authorization, User-Agent and the blank
    // line. Between the two a request adds its own lines.
    void BeginRequest(CJXString& out, const char* pMethod, const char* pUrl, ESession eSession);
    void EndRequest(CJXString& out, const char* pMethod, const char* pUrl);
    // Writes a keep-alive (SET_PARAMETER, or OPTIONS for a server that refused
    // it) and arms the next one.
    void WriteKeepAlive();
    uint32_t KeepAlivePeriodMs() const;

    char* m_RequestUrl = nullptr;   // stream URL without credentials
    char* m_LogUrl = nullptr;       // stream URL with the password masked

    // Stop or Release asked for from inside a callback of this stream: done
    // when the callback has returned.
    CRTSPCallGuard m_Calls;
    std::atomic<EPhase> m_Phase{EPhase::kIdle};
    // Held for each pass, by Stop's clean-up on the host thread and while the
    // URL changes, so none of them overlap.
    CJXMutex m_WorkMutex;
    // The worker's ready mask of the running pass (IsReadable).
    uint32_t m_ReadyMask = 0;
};

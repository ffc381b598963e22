// The RTSP stream object (CRTSPClient) and the shared worker that drives every
// stream of the process (CRTSPSocket).
#pragma once

#include "JXStream.h"
#include "rtspcommand.h"

#include <memory>

class CRTPSocket;
class CSDPParser;

// The control connection of one stream and its place on the shared worker:
// one pool thread named "RTSPSocket" calls OnWork of every started stream,
// one pass at a time.
class JXRTSP_API CRTSPSocket : public CJXSocketTCP {
public:
    CRTSPSocket();
    ~CRTSPSocket() override;

    // Join the worker (creating it for the first stream). 0 when already
    // attached, else the pool's result.
    int32_t AttachWorker();
    // Leave the worker (ending it with the last stream). 0; 1 when called
    // from inside this stream's own pass (the pass runs to its end, and no
    // other follows); JX_ERR_STATE when the worker is already gone. No lock
    // is held while it waits for a running pass, so a subscriber may start
    // and stop other streams from inside its callback.
    int32_t DetachWorker();
    // One pass of work; the base does nothing.
    virtual int OnWork(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait);

    bool m_Attached = false;      // guarded by s_RTSPMutex
    CJXTimeout m_Reconnect;       // delay before the next connection attempt

    // Shared by all streams, guarded by s_RTSPMutex. The pool is held by
    // shared pointer so that a detach can wait for it outside the lock.
    static std::shared_ptr<CJXThreadPool> s_RTSPThread;
    static int32_t s_RTSPCount;
    static CJXMutex s_RTSPMutex;

    static constexpr int32_t kWorkerThreads = 1;
    static constexpr int32_t kWorkerMaxWait = 24;
};

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
    // Subscriber messages.
    enum : uint32_t {
        kMsgFrame = 2106,
        kMsgState = 4101,
        kMsgStopped = 4102,
    };
    // State-report errors as subscribers see them.
    enum : int32_t {
        kReportAuth = -29,
        kReportFailure = -28,
    };
    static constexpr int32_t kRecvBufferBytes = 262144;
    static constexpr int32_t kRecvKeepFree = 2;       // bytes of the receive buffer never filled
    static constexpr uint32_t kReconnectMs = 10000;
    static constexpr uint32_t kStartDataTimeoutMs = 20000;
    static constexpr uint32_t kFrameDataTimeoutMs = 10000;
    static constexpr uint32_t kConnectTimeoutMs = CJXSocketTCP::kConnectTimeoutMs;
    static constexpr uint32_t kMinSessionTimeout = 20;   // seconds
    static constexpr uint32_t kIdleWaitMs = 5;

    CRTSPClient();
    ~CRTSPClient() override;

    // IJXStream
    int Release() override;
    const char* GetProtocol() override;
    int Open(CJXUrl const& url) override;
    // As the stream interface's, but refused (JX_ERR_STATE) while the stream
    // is started: the worker reads the URL then.
    int Open(char const* pUrl) override;
    int Start() override;
    int Stop() override;
    int GetMediaDesc(CJXMediaDesc*& pDesc) override;
    int GetLastIFrame(CPacket*& pPacket) override;

    // The client's own virtual operations, in slot order.
    virtual int OnData(CPacket* pPacket);
    virtual int OnState(unsigned int nCode, int nError);
    virtual int OnHead(CJXMediaHead* pHead);
    virtual int OnPolling();
    int32_t OnSend(CJXFdSet* pWrite) override;
    int32_t OnRecv(CJXFdSet* pRead) override;
    virtual int OnRecvCommand(const char* pText, int nLen);
    virtual int OnRecvData(const char* pData, int nLen);
    int OnWork(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait) override;

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
    // Handlers of a complete response held in m_Command.
    int32_t OnRecvDescribe();
    int32_t OnRecvSetup();
    int32_t OnRecvPlay();
    int32_t OnRecvKeepAlive();

    // Interleaved packets by channel, to the stream that owns the channel.
    int32_t OnRecvRTP(unsigned char nChannel, const char* pData, unsigned int nLen);
    int32_t OnRecvRTCP(unsigned char nChannel, const char* pData, unsigned int nLen);

    // SDP session level (sdpparser.cpp).
    int32_t ParseSDPConnect(CSDPParser& parser);
    int32_t ParseSDPHead(CSDPParser& parser);

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

    const CJXUrl& GetUrl() const { return m_Url; }
    // The stream URL as it stands in the request lines: without user name
    // and password. Null before Start.
    const char* GetRequestUrl() const { return m_RequestUrl; }
    // The stream URL with the password masked, for log lines.
    const char* GetLogUrl() const { return m_LogUrl ? m_LogUrl : ""; }

    CRTSPAuthen m_Authen;
    CRTSPCommand m_Command;
    uint16_t m_Pending = kPendingNone;
    uint16_t m_CSeq = 1;
    int32_t m_Transport = 2;
    CRTPSocket* m_Video = nullptr;
    CRTPSocket* m_Audio = nullptr;
    char* m_Control = nullptr;
    char* m_Connect = nullptr;
    char* m_Session = nullptr;
    uint32_t m_SessionTimeout = 0;
    CJXTimeout m_KeepAlive;
    CJXTimeout m_DataTimeout;
    CJXMutex m_MediaMutex;
    CPacket* m_LastIFrame = nullptr;
    CJXMediaDesc* m_MediaDesc = nullptr;
    uint64_t m_StartTime = 0;
    uint64_t m_FirstFrameTime = 0;

    // Capacity Start gives the receive buffer (tests may lower it).
    int32_t m_RecvCapacity = kRecvBufferBytes;
    // What the receive walk skipped on this connection, for the log and tests.
    uint32_t m_StrayBytes = 0;
    uint32_t m_ServerRequests = 0;
    uint32_t m_UnsolicitedResponses = 0;

private:
    enum EUnit { kUnitWait, kUnitResponse, kUnitRequest, kUnitStray };

    int32_t TakeUnit(const char* p, int32_t n);
    EUnit ClassifyText(const char* p, int32_t n, int32_t& nLen);
    int32_t SkipRequest(const char* p, int32_t n, int32_t nLineLen);
    int32_t TakeUnsolicited(const char* p, int32_t n);

    // The connection is made across passes so that a camera that does not
    // answer costs the other streams nothing.
    int32_t BeginConnect();
    int32_t PollConnect();
    int32_t FinishConnect();
    void FailConnect();
    void RunPass(unsigned int& nWait);
    bool FinishDeferred();
    bool IsAttached();

    void AppendCSeq(CJXString& out);
    void AppendTail(CJXString& out, const char* pMethod, const char* pUri);

    char* m_RequestUrl = nullptr;   // stream URL without credentials
    char* m_LogUrl = nullptr;       // stream URL with the password masked
    bool m_Connecting = false;      // a connect is under way on m_Socket
    CJXTimeout m_ConnectTimeout;
    int32_t m_SkipBytes = 0;        // body bytes of a server request still to skip
    bool m_StrayLogged = false;
    bool m_RequestLogged = false;

    // Stop or Release asked for from inside this stream's own pass: done
    // when the pass ends.
    bool m_StopPending = false;
    bool m_DeletePending = false;
    // Held for each pass and by Stop's clean-up on the host thread, so the
    // two never overlap.
    CJXMutex m_WorkMutex;
};

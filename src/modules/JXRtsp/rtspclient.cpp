// The RTSP stream object and the shared worker: lifecycle, the RTSP dialogue,
// the control connection's send and receive sides, and the state reports.
#include "rtspclient.h"

#include "rtpsocket.h"
#include "sdpparser.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <new>

namespace {

const char kUserAgent[] = "RTSPClient/1.0";
const char kWorkerName[] = "RTSPSocket";
constexpr int32_t kFrameHeadBytes = CRTSPReader::kFrameHeadBytes;
constexpr uint16_t kMaxChannel = 0xFF;

// Random bits for report intervals and the CNAME: unpredictable enough that
// clients started together do not report in step.
uint32_t NextRandom()
{
    static thread_local std::mt19937 s_Random(std::random_device{}());
    return static_cast<uint32_t>(s_Random());
}
constexpr unsigned int kMinRtpHeadBytes = 12;
constexpr unsigned char kPayloadTypeMask = 0x7F;
constexpr uint32_t kKeepAliveMsPerSecond = 500;   // half the session time-out
constexpr int32_t kStatusOK = 200;
constexpr int32_t kStatusMovedPermanently = 301;
constexpr int32_t kStatusFound = 302;
constexpr int32_t kStatusSeeOther = 303;
constexpr int32_t kStatusTemporaryRedirect = 307;
constexpr int32_t kStatusUnauthorized = 401;
constexpr int32_t kStatusSessionNotFound = 454;
constexpr int32_t kStatusInvalidRange = 457;   // cameras answer it for a session they no longer know
// Answers to SET_PARAMETER from a server that does not take it.
constexpr int32_t kStatusMethodNotAllowed = 405;
constexpr int32_t kStatusParameterNotUnderstood = 451;
constexpr int32_t kStatusNotImplemented = 501;

JXWorkFunc WorkFunc()
{
    return JX_WORK_FUNC(&CRTSPSocket::OnWork);
}

// The URL text without "user:password@": RTSP request URLs carry no user
// information (RFC 2326 section 3.2), and sending it would put the password
// on the wire even when Digest is used.
char* CloneWithoutUserInfo(const char* pText)
{
    if (pText == nullptr) return nullptr;
    const char* pSep = strstr(pText, "://");
    if (pSep == nullptr) return CJXString::Clone(pText);
    const char* pAuthority = pSep + 3;
    const size_t nAuthority = strcspn(pAuthority, "/?#");
    const char* pAt = nullptr;
    for (const char* p = pAuthority; p < pAuthority + nAuthority; ++p) {
        if (*p == '@') pAt = p;
    }
    if (pAt == nullptr) return CJXString::Clone(pText);
    CJXString out;
    out.AppendDAT(pText, static_cast<int32_t>(pAuthority - pText));
    out += pAt + 1;
    return CJXString::Clone(out.c_str());
}

// The description has no video yet, or a key frame tells another codec or
// picture size (a camera whose resolution was changed): it is read anew.
bool IsNewPicture(const JXVideoDesc* pVideo, const CPacket& frame)
{
    if (pVideo == nullptr) return true;
    if (frame.FrameGetWidth() == 0 || frame.FrameGetHeight() == 0) return false;
    return pVideo->nWidth != frame.FrameGetWidth() || pVideo->nHeight != frame.FrameGetHeight() ||
           pVideo->nCodec != frame.FrameGetCodec();
}

int32_t TransportOfScheme(const char* pScheme)
{
    if (pScheme != nullptr && CJXString::EqualNoCase(pScheme, int32_t(strlen(pScheme)), "rtspu"))
        return CRTPSocket::kTransportUDP;
    if (pScheme != nullptr && CJXString::EqualNoCase(pScheme, int32_t(strlen(pScheme)), "rtspm"))
        return CRTPSocket::kTransportMulticast;
    return CRTPSocket::kTransportInterleaved;
}

bool IsMulticastV4(const char* pAddress)
{
    // inet_addr gives the address in network order: first octet in the lowest byte.
    const uint32_t nAddr = static_cast<uint32_t>(inet_addr(pAddress));
    const uint32_t nFirst = nAddr & 0xFF;
    return nFirst >= 224 && nFirst <= 239;
}

// The request left in the send buffer is taken back: what was written from
// nLength on never reaches the wire.
void RestoreLength(CJXString& out, int32_t nLength)
{
    if (out.m_Data == nullptr || nLength > out.m_Length) return;
    out.m_Length = nLength;
    out.m_Data[nLength] = '\0';
}

int32_t MapReportedError(int32_t nError)
{
    if (nError == JX_OK || nError == JX_ERR_TIMEOUT) return nError;
    if (nError == JX_ERR_AUTH) return CRTSPClient::kReportAuth;
    return CRTSPClient::kReportFailure;
}

}   // namespace

// ---------------------------------------------------------------------------
// CRTSPSocket: the shared worker

std::shared_ptr<CJXThreadPool> CRTSPSocket::s_RTSPThread;
int32_t CRTSPSocket::s_RTSPCount = 0;
int32_t CRTSPSocket::s_Detaching = 0;
std::shared_ptr<CJXResolver> CRTSPSocket::s_Resolver;
CJXMutex CRTSPSocket::s_RTSPMutex;

CRTSPSocket::CRTSPSocket() : m_Reconnect(0) {}

CRTSPSocket::~CRTSPSocket() = default;

int32_t CRTSPSocket::AttachWorker()
{
    CJXAutoLock lock(s_RTSPMutex);
    if (m_Attached) return JX_OK;
    if (!s_RTSPThread) {
        CJXThreadPool* pPool = new (std::nothrow) CJXThreadPool(kWorkerThreads, kWorkerName, 0, kWorkerMaxWait);
        if (pPool == nullptr) return JX_ERR_NOMEM;
        s_RTSPThread.reset(pPool);
    }
    if (!s_Resolver) {
        CJXResolver* pResolver = new (std::nothrow) CJXResolver();
        if (pResolver == nullptr) return JX_ERR_NOMEM;
        s_Resolver.reset(pResolver);
    }
    m_Resolver = s_Resolver;
    const int32_t nRet = s_RTSPThread->Attach(static_cast<CJXObject*>(this), WorkFunc());
    if (nRet < 0) {
        if (s_RTSPCount < 1 && s_Detaching < 1) s_RTSPThread.reset();
        return nRet;
    }
    m_Attached = true;
    ++s_RTSPCount;
    return nRet;
}

int32_t CRTSPSocket::DetachWorker()
{
    std::shared_ptr<CJXThreadPool> pPool;
    {
        CJXAutoLock lock(s_RTSPMutex);
        if (!m_Attached) return JX_OK;
        m_Attached = false;
        if (s_RTSPCount < 1 || !s_RTSPThread) return JX_ERR_STATE;
        --s_RTSPCount;
        ++s_Detaching;
        pPool = s_RTSPThread;
    }
    // Outside the lock: waiting here for a running pass must not keep a
    // subscriber of that pass from starting or stopping other streams.
    const int32_t nRet = pPool->Detach(static_cast<CJXObject*>(this), WorkFunc());
    pPool.reset();
    {
        CJXAutoLock lock(s_RTSPMutex);
        --s_Detaching;
    }
    RetireWorker();
    return nRet == 1 ? 1 : JX_OK;
}

void CRTSPSocket::RetireWorker()
{
    std::shared_ptr<CJXResolver> pResolver;
    {
        CJXAutoLock lock(s_RTSPMutex);
        if (s_RTSPCount > 0 || s_Detaching > 0 || !s_RTSPThread) return;
        // The worker's own thread (a stream stopped from its callback) leaves
        // the end to the host's thread, which waits for the worker's thread:
        // none is left running behind the host's back.
        if (s_RTSPThread->IsPoolThread()) return;
        // Under the lock, so that a Start cannot make a second worker while
        // this one ends; with no member left its thread needs nothing of the
        // lock.
        s_RTSPThread.reset();
        pResolver = std::move(s_Resolver);
    }
    // Outside the lock: if this is the last holder, a lookup still running
    // is waited for, and other hosts' starts and stops must not wait on it.
    pResolver.reset();
}

bool CRTSPSocket::HasWorker()
{
    CJXAutoLock lock(s_RTSPMutex);
    return s_RTSPThread != nullptr;
}

bool CRTSPSocket::HasResolver()
{
    CJXAutoLock lock(s_RTSPMutex);
    return s_Resolver != nullptr;
}

int CRTSPSocket::OnWork(CJXMessageT*, unsigned int, unsigned int&)
{
    return 0;
}

// ---------------------------------------------------------------------------
// CRTSPClient: lifecycle

CRTSPClient::CRTSPClient() : m_KeepAlive(0), m_DataTimeout(0) {}

CRTSPClient::~CRTSPClient()
{
    // Release has stopped the stream; a plain delete of a started one must
    // still not leave it on the worker. A pass that is ending a stop asked
    // for inside a callback may still run: it finishes before anything goes.
    DetachWorker();
    m_WorkMutex.Enter();
    m_WorkMutex.Leave();
    ResetConnection();
    m_Resolver.reset();
    RetireWorker();
    free(m_RequestUrl);
    free(m_TargetHost);
    free(m_LogUrl);
}

int CRTSPClient::Release()
{
    Stop();
    if (m_Calls.InCall()) {
        // From inside a callback of this stream: the object goes once the
        // call that is still walking its subscribers has returned.
        m_Calls.DeferRelease();
        return 0;
    }
    delete this;
    return 0;
}

const char* CRTSPClient::GetProtocol()
{
    return "rtsp";
}

int CRTSPClient::Open(CJXUrl const& url)
{
    // The worker reads the URL while the stream runs: it is not replaced then.
    if (IsAttached()) {
        OnState(kMsgState, JX_ERR_STATE);
        return JX_ERR_STATE;
    }
    {
        // A pass that ends a stop asked for in its callback may still read it.
        CJXAutoLock lock(m_WorkMutex);
        m_Url = url;
    }
    return Start();
}

int CRTSPClient::Open(char const* pUrl)
{
    if (IsAttached()) return JX_ERR_STATE;
    CJXAutoLock lock(m_WorkMutex);
    return IJXStream::Open(pUrl);
}

int CRTSPClient::Start()
{
    if (m_Calls.IsStopDeferred() && m_Calls.InPass()) {
        JXPrintf("RTSP Client(%s): Start refused inside its own callback after Stop.\n", GetLogUrl());
        return JX_ERR_STATE;
    }
    if (IsAttached()) {
        OnState(kMsgState, JX_ERR_STATE);
        return JX_ERR_STATE;
    }
    if (m_Url.m_Host == nullptr || m_Url.m_Scheme == nullptr || m_Url.m_Port == 0) {
        OnState(kMsgState, JX_ERR_ARG);
        return JX_ERR_ARG;
    }
    CJXAutoLock lock(m_WorkMutex);   // a pass that ends a stop of its own finishes first
    const int32_t nRet = PrepareSession();
    if (nRet != JX_OK) return nRet;
    // A retry delay that a failure before the last Stop armed still runs.
    m_Phase = m_Reconnect.m_Period != 0 ? EPhase::kWaitingToRetry : EPhase::kConnecting;
    const int32_t nAttach = AttachWorker();
    if (nAttach < 0) m_Phase = EPhase::kIdle;
    return nAttach;
}

int CRTSPClient::Stop()
{
    if (m_Calls.InPass()) {
        // A subscriber of this stream stops it from inside its callback on
        // the worker: no further pass follows, and the session ends when this
        // one unwinds, so nothing the running call uses is freed under it.
        DetachWorker();
        m_Calls.DeferStop();
        return 0;
    }
    if (IsAttached()) {
        DetachWorker();
        CJXAutoLock lock(m_WorkMutex);
        EndSessionQuietly();
    }
    // A worker left by a stream that stopped itself from its callback ends
    // here, on the host's thread.
    RetireWorker();
    return 0;
}

void CRTSPClient::EndSessionQuietly()
{
    free(m_Session);   // a stop asked for by the host sends no TEARDOWN
    m_Session = nullptr;
    OnStop();
    m_Phase = EPhase::kIdle;
    // Off the worker with the connection closed: the resolver may go.
    m_Resolver.reset();
}

bool CRTSPClient::IsAttached()
{
    CJXAutoLock lock(s_RTSPMutex);
    return m_Attached;
}

int32_t CRTSPClient::PrepareSession()
{
    ResetRequestUrl();
    free(m_LogUrl);
    m_LogUrl = m_Url.CloneForLog();
    return GetRecvBuf().Init(m_RecvCapacity);
}

void CRTSPClient::ResetRequestUrl()
{
    free(m_RequestUrl);
    m_RequestUrl = CloneWithoutUserInfo(m_Url.m_Text);
    // The scheme chooses the transport asked for (rtspu unicast UDP, rtspm
    // multicast); servers know only rtsp://, so the requests name that scheme.
    m_Transport = TransportOfScheme(m_Url.m_Scheme);
    const char* pRest = m_RequestUrl != nullptr ? strstr(m_RequestUrl, "://") : nullptr;
    if (pRest != nullptr && m_Transport != CRTPSocket::kTransportInterleaved) {
        CJXString request;
        request.Append("rtsp%s", pRest);
        free(m_RequestUrl);
        m_RequestUrl = CJXString::Clone(request.c_str());
    }
}

int CRTSPClient::GetStatistics(CJXStreamStats& stats)
{
    m_VideoCounters.CopyTo(stats.m_Video);
    m_AudioCounters.CopyTo(stats.m_Audio);
    return JX_OK;
}

int CRTSPClient::GetMediaDesc(CJXMediaDesc*& pDesc)
{
    CJXAutoLock lock(m_MediaMutex);
    pDesc = m_MediaDesc ? m_MediaDesc->Clone() : nullptr;
    return m_MediaDesc ? JX_OK : JX_ERR_STATE;
}

int CRTSPClient::GetLastIFrame(CPacket*& pPacket)
{
    CJXAutoLock lock(m_MediaMutex);
    pPacket = m_LastIFrame;
    if (pPacket == nullptr) return JX_ERR_STATE;
    pPacket->AddRef();
    return JX_OK;
}

void CRTSPClient::ReleaseMediaData()
{
    if (m_MediaDesc != nullptr) m_MediaDesc->Release();
    m_MediaDesc = nullptr;
    if (m_LastIFrame != nullptr) m_LastIFrame->Release();
    m_LastIFrame = nullptr;
}

// ---------------------------------------------------------------------------
// CRTSPClient: reports and frames

int CRTSPClient::OnData(CPacket* pPacket)
{
    if (pPacket == nullptr) return JX_ERR_ARG;
    if (m_Calls.IsStopDeferred()) return 0;   // stopped from a callback earlier in this pass
    const uint64_t nNow = CJXTime::GetTimeMS();
    if (pPacket->FrameIsVideo() && m_FirstFrameTime == 0) {
        m_FirstFrameTime = nNow;
        JXPrintf("CRTSPClient::Startup Time = %.3f ms\n", static_cast<double>(nNow - m_StartTime));
    }
    m_MediaMutex.Enter();
    if (m_MediaDesc == nullptr) m_MediaDesc = CJXMediaDesc::Create(1);
    if (pPacket->FrameIsKey()) {
        if (m_LastIFrame != nullptr) m_LastIFrame->Release();
        m_LastIFrame = pPacket;
        pPacket->AddRef();
        if (m_MediaDesc != nullptr && IsNewPicture(m_MediaDesc->m_Video, *pPacket)) m_MediaDesc->Setup(pPacket);
    } else if (pPacket->FrameIsAudio()) {
        if (m_MediaDesc != nullptr && m_MediaDesc->m_Audio == nullptr) m_MediaDesc->Setup(pPacket);
    }
    m_MediaMutex.Leave();
    m_Signal.Commit(static_cast<IJXStream*>(this), kMsgFrame, pPacket, nullptr);
    m_DataTimeout.Setup(kFrameDataTimeoutMs);
    return 0;
}

int CRTSPClient::OnState(unsigned int nCode, int nError)
{
    if (m_Calls.IsStopDeferred()) return 0;   // stopped from a callback: nothing more is reported
    CJXMsg msg;
    msg.m_Url = m_Url;
    msg.SetError(nCode == kMsgState ? MapReportedError(nError) : 0);
    {
        CRTSPCallGuard::CScope scope(m_Calls, false);
        m_Signal.Commit(static_cast<IJXStream*>(this), nCode, &msg, nullptr);
    }
    // Released by a subscriber of a report sent outside any pass (from Start
    // or Open on the host's thread): the walk over the subscribers is over,
    // so the object goes now; those callers touch nothing after the report.
    if (m_Calls.IsReleaseDeferred() && !m_Calls.InCall()) delete this;
    return 0;
}

const char* CRTSPClient::PhaseName(EPhase ePhase)
{
    switch (ePhase) {
    case EPhase::kIdle:
        return "idle";
    case EPhase::kConnecting:
        return "connecting";
    case EPhase::kDescribing:
        return "describing";
    case EPhase::kSettingUp:
        return "setting up";
    case EPhase::kPlaying:
        return "playing";
    case EPhase::kWaitingToRetry:
        return "waiting to retry";
    }
    return "unknown";
}

int CRTSPClient::OnHead(CJXMediaHead*)
{
    return 0;
}

// ---------------------------------------------------------------------------
// CRTSPClient: the worker's pass

int CRTSPClient::OnWork(CJXMessageT*, unsigned int, unsigned int& nWait)
{
    bool bDelete = false;
    {
        CJXAutoLock lock(m_WorkMutex);
        {
            CRTSPCallGuard::CScope scope(m_Calls, true);
            RunPass(nWait);
        }
        const uint32_t nTodo = m_Calls.FinishDeferred();
        if (nTodo & CRTSPCallGuard::kFinishEndSession) EndSessionQuietly();
        bDelete = (nTodo & CRTSPCallGuard::kFinishDelete) != 0;
    }
    if (bDelete) delete this;
    return 0;
}

void CRTSPClient::RunPass(unsigned int& nWait)
{
    if (m_Phase == EPhase::kWaitingToRetry && m_Reconnect.m_Period != 0 && !m_Reconnect.Check(0, false)) return;
    if (!IsValid() && !IsConnecting()) {
        m_Reconnect.Setup(0);
        if (OnStart() != JX_OK) {
            FailConnect();
            return;
        }
    }
    if (IsConnecting()) {
        if (PollConnect() != JX_OK) {
            FailConnect();
            return;
        }
        if (IsConnecting()) {
            if (nWait > kIdleWaitMs) nWait = kIdleWaitMs;
            return;
        }
    }
    const int nRet = OnPolling();
    if (m_Calls.IsStopDeferred()) return;
    if (nRet >= 0 && m_RedirectPending) {
        // Another host or port: a new connection, made here, outside the walk
        // of the receive buffer that read the redirect.
        m_RedirectPending = false;
        ResetConnection();
        m_Authen.SetUser(nullptr, nullptr);   // the URL's credentials are for its own host
        m_Phase = EPhase::kConnecting;
        if (BeginConnect() != JX_OK) FailConnect();
        return;
    }
    if (nRet < 0) {
        // The retry delay runs from here; it is armed before the report, so a
        // subscriber that hears 4102 knows the next attempt is 10 s away.
        JXPrintf("RTSP Client(%s): Failed while %s.\n", GetLogUrl(), PhaseName(m_Phase));
        OnStop();
        m_Phase = EPhase::kWaitingToRetry;
        m_Reconnect.Setup(m_ReconnectNow ? 0 : kReconnectMs);
        m_ReconnectNow = false;
        OnState(kMsgStopped, JX_ERR_FAIL);
        return;
    }
    if (nRet == 0) {
        if (nWait > kIdleWaitMs) nWait = kIdleWaitMs;
    } else {
        nWait = 0;
    }
}

int CRTSPClient::OnPolling()
{
    if (!IsValid()) {
        OnState(kMsgState, JX_ERR_STATE);
        return JX_ERR_STATE;
    }
    if (m_DataTimeout.Check(0, false)) {
        JXPrintf("RTSP Client(%s): Timeout.\n", GetLogUrl());
        OnState(kMsgState, JX_ERR_TIMEOUT);
        return JX_ERR_TIMEOUT;
    }
    if (m_KeepAlive.Check(0, false)) SendKeepAlive();
    if (m_ReportTimer.Check(0, false)) SendReceiverReports();

    int nResult = 0;
    if (m_Video != nullptr && m_Video->OnUDPPolling() > 0) nResult = 1;
    if (m_Audio != nullptr && m_Audio->OnUDPPolling() > 0) nResult = 1;
    if (m_Calls.IsStopDeferred()) return nResult;

    CJXFdSet readSet;
    CJXFdSet writeSet;
    readSet.Add(m_Socket);
    const bool bSending = IsSending();
    if (bSending) writeSet.Add(m_Socket);
    const int32_t nReady = JXSelect(&readSet, bSending ? &writeSet : nullptr, 0);
    if (nReady == 0) return nResult;
    if (nReady < 0) return JX_ERR_FAIL;

    int32_t nError = OnSend(&writeSet);
    if (nError != JX_OK) {
        OnState(kMsgState, nError);
        return JX_ERR_FAIL;
    }
    nError = OnRecv(&readSet);
    if (nError != JX_OK) {
        OnState(kMsgState, nError);
        return JX_ERR_FAIL;
    }
    return nResult;
}

// ---------------------------------------------------------------------------
// CRTSPClient: connecting

int32_t CRTSPClient::OnStart()
{
    ResetConnection();
    // Every attempt begins at the stream's own URL, whatever redirects the
    // last one followed.
    m_Redirects = 0;
    m_RedirectPending = false;
    free(m_TargetHost);
    m_TargetHost = nullptr;
    m_TargetPort = 0;
    ResetRequestUrl();
    m_Authen.SetUser(m_Url.m_User, m_Url.m_Password);
    m_Phase = EPhase::kConnecting;
    return BeginConnect();
}

void CRTSPClient::ResetConnection()
{
    CJXSocketTCP::Close();
    m_Pending = kPendingNone;
    m_PendingCSeq = 0;
    m_CSeq = 1;
    m_KeepAlive.Setup(0);
    m_ReportTimer.Setup(0);
    m_SessionClock.Reset();
    m_KeepAliveOptions = false;
    GetSendBuf().Empty();
    GetRecvBuf().Empty();
    m_Reader.Reset();
    m_Authen.Reset();
    m_AuthChallenged = false;
    m_AuthRetried = false;
    free(m_Control);
    free(m_Connect);
    free(m_Session);
    free(m_ContentBase);
    m_Control = m_Connect = m_Session = m_ContentBase = nullptr;
    m_SessionTimeout = 0;
    m_MediaMutex.Enter();
    delete m_Audio;
    delete m_Video;
    m_Audio = m_Video = nullptr;
    ReleaseMediaData();
    m_MediaMutex.Leave();
    m_StartTime = 0;
    m_FirstFrameTime = 0;
}

// The connection is started here and finished by later passes: a host name
// is looked up on the resolver's threads, and a camera that does not answer
// holds up no other stream.
int32_t CRTSPClient::BeginConnect()
{
    const char* pHost = TargetHost();
    const uint16_t nPort = TargetPort();
    if (pHost == nullptr || nPort == 0) return JX_ERR_ARG;
    return StartConnect(pHost, nPort, m_Resolver.get(), kConnectTimeoutMs);
}

int32_t CRTSPClient::PollConnect()
{
    const int32_t nRet = ContinueConnect();
    if (nRet < 0) return nRet;
    if (nRet > 0) return JX_OK;   // still under way
    return FinishConnect();
}

int32_t CRTSPClient::FinishConnect()
{
    if (m_Transport == CRTPSocket::kTransportInterleaved)
        JXSocketSetOptInt(m_Socket, SOL_SOCKET, SO_RCVBUF, kRecvBufferBytes);
    m_DataTimeout.Setup(kStartDataTimeoutMs);
    m_StartTime = CJXTime::GetTimeMS();
    JXPrintf("RTSP Client(%s): OnStart.\n", GetLogUrl());
    return SendDescribe();
}

void CRTSPClient::FailConnect()
{
    JXPrintf("RTSP Client(%s): Connect failed.\n", GetLogUrl());
    CJXSocketTCP::Close();
    m_Reconnect.Setup(kReconnectMs);
    m_Phase = EPhase::kWaitingToRetry;
    OnState(kMsgState, JX_ERR_FAIL);
}

int32_t CRTSPClient::OnStop()
{
    SendTeardown();
    ResetConnection();
    if (m_Url.m_Text != nullptr) JXPrintf("RTSP Client(%s): OnStop.\n", GetLogUrl());
    return 0;
}

// ---------------------------------------------------------------------------
// CRTSPClient: requests

void CRTSPClient::BeginRequest(CJXString& out, const char* pMethod, const char* pUrl, ESession eSession)
{
    out.Append("%s %s RTSP/1.0\r\n", pMethod, pUrl);
    m_PendingCSeq = m_CSeq;
    out.Append("CSeq: %u\r\n", static_cast<unsigned>(m_CSeq));
    ++m_CSeq;   // 16 bits: 65535 is followed by 0
    if (eSession == kSessionAlways || !CJXString::IsEmpty(m_Session)) out.Append("Session: %s\r\n", m_Session);
}

void CRTSPClient::EndRequest(CJXString& out, const char* pMethod, const char* pUrl)
{
    // Credentials go only where a challenge asked for them: a camera that
    // offers only Digest never sees the password in clear.
    CJXString authorization;
    if (m_AuthChallenged) m_Authen.BuildRequest(authorization, pMethod, pUrl);
    if (authorization.m_Data != nullptr && authorization.m_Length != 0) {
        out.Append("Authorization: %s\r\n", authorization.m_Data);
    }
    out.Append("User-Agent: %s\r\n\r\n", kUserAgent);
}

// Requests are appended: bytes still waiting in the send buffer (the rest of
// an answer to a server's request) go out first, whole.
int32_t CRTSPClient::SendDescribe()
{
    if (m_RequestUrl == nullptr) return JX_ERR_STATE;
    CJXString& out = GetSendBuf();
    m_Pending = kPendingDescribe;
    m_Phase = EPhase::kDescribing;
    BeginRequest(out, "DESCRIBE", m_RequestUrl, kSessionIfHeld);
    out += "Accept: application/sdp\r\n";
    EndRequest(out, "DESCRIBE", m_RequestUrl);
    return JX_OK;
}

int32_t CRTSPClient::SendSetup(CRTPSocket* pStream)
{
    if (pStream == nullptr) return JX_ERR_ARG;
    if (pStream->m_State == CRTPSocket::kStateSetupSent || pStream->m_ControlUrl == nullptr) return JX_ERR_STATE;
    // The control URL comes from the server's description: it goes into the
    // request line only if it cannot break it.
    if (!CJXHTTPCommand::IsLineSafe(pStream->m_ControlUrl, false)) return JX_ERR_CONTENT;
    CJXString& out = GetSendBuf();
    const int32_t nBefore = out.m_Length;
    const uint16_t nCSeq = m_CSeq;
    BeginRequest(out, "SETUP", pStream->m_ControlUrl, kSessionIfHeld);
    // A plain rtsp:// stream follows a description that names a multicast
    // group; rtspu:// keeps asking for unicast UDP.
    if (m_Transport == CRTPSocket::kTransportInterleaved && m_Connect != nullptr && IsMulticastV4(m_Connect))
        m_Transport = CRTPSocket::kTransportMulticast;
    // A stream that cannot write its Transport line would be set up again
    // after every answer: that ends the attempt instead, and the half-written
    // request is taken back so that it never goes out (not even in front of
    // the TEARDOWN that follows).
    const int32_t nRet = pStream->Setup(out, m_Transport);
    if (nRet != JX_OK) {
        RestoreLength(out, nBefore);
        m_CSeq = nCSeq;
        return nRet;
    }
    m_Pending = kPendingSetup;
    m_Phase = EPhase::kSettingUp;
    EndRequest(out, "SETUP", pStream->m_ControlUrl);
    return JX_OK;
}

int32_t CRTSPClient::SendPlay()
{
    if (m_RequestUrl == nullptr) return JX_ERR_STATE;
    if (CJXString::IsEmpty(m_Session)) return JX_OK;
    CJXString& out = GetSendBuf();
    m_Pending = kPendingPlay;
    m_Phase = EPhase::kSettingUp;
    BeginRequest(out, "PLAY", m_RequestUrl, kSessionAlways);
    EndRequest(out, "PLAY", m_RequestUrl);
    return JX_OK;
}

int32_t CRTSPClient::SendKeepAlive()
{
    if (CJXString::IsEmpty(m_Session)) return JX_OK;
    if (IsSending()) return JX_OK;   // still due; tried again next pass
    if (m_RequestUrl == nullptr) return JX_ERR_STATE;
    WriteKeepAlive();
    return JX_OK;
}

void CRTSPClient::WriteKeepAlive()
{
    // Armed again at once: a camera that never answers keep-alives still
    // gets one every period, and its session is not lost at its time-out.
    m_KeepAlive.Setup(KeepAlivePeriodMs());
    const char* pMethod = m_KeepAliveOptions ? "OPTIONS" : "SET_PARAMETER";
    CJXString& out = GetSendBuf();
    m_Pending = kPendingKeepAlive;
    BeginRequest(out, pMethod, m_RequestUrl, kSessionAlways);
    EndRequest(out, pMethod, m_RequestUrl);
}

uint32_t CRTSPClient::KeepAlivePeriodMs() const
{
    // Half the session time-out; a server that named none gets the floor's half.
    const uint32_t nTimeout = m_SessionTimeout != 0 ? m_SessionTimeout : kMinSessionTimeout;
    const uint32_t nPeriod = nTimeout * kKeepAliveMsPerSecond;
    return nPeriod < kMinKeepAliveMs ? kMinKeepAliveMs : nPeriod;
}

void CRTSPClient::SendReceiverReports()
{
    m_ReportTimer.Setup(CRTPReceiverStats::ReportIntervalMs(NextRandom() & 0xFFFF));
    if (m_CName[0] == '\0') {
        snprintf(m_CName, sizeof(m_CName), "RTSPClient@%08x", static_cast<unsigned>(NextRandom()));
    }
    const uint64_t nNow = CJXTime::GetTimeMS();
    CRTPSocket* aStreams[] = {m_Video, m_Audio};
    for (CRTPSocket* pStream : aStreams) {
        if (pStream == nullptr) continue;
        if (pStream->m_Transport != CRTPSocket::kTransportInterleaved) {
            pStream->SendReceiverReport(m_CName, nNow);   // a datagram lost is a report lost: no retry
            continue;
        }
        // A connection that does not drain is not filled further with reports.
        CJXString& out = GetSendBuf();
        if (out.m_Length > kMaxQueuedForReport || pStream->m_PeerRtcpPort > kMaxChannel) continue;
        uint8_t aFrame[kFrameHeadBytes + CRTPSocket::kMaxReportBytes];
        const int32_t nBytes =
            pStream->WriteReceiverReport(aFrame + kFrameHeadBytes, CRTPSocket::kMaxReportBytes, m_CName, nNow);
        if (nBytes <= 0) continue;
        aFrame[0] = '$';
        aFrame[1] = static_cast<uint8_t>(pStream->m_PeerRtcpPort);
        aFrame[2] = static_cast<uint8_t>(nBytes >> 8);
        aFrame[3] = static_cast<uint8_t>(nBytes & 0xFF);
        out.AppendDAT(aFrame, kFrameHeadBytes + nBytes);
    }
}

int32_t CRTSPClient::SendTeardown()
{
    if (CJXString::IsEmpty(m_Session) || m_RequestUrl == nullptr) return JX_OK;
    // Appended behind whatever is still waiting, and handed to the socket
    // once, without waiting: the connection is closed right after, and the
    // answer is never read. What the socket does not take is dropped.
    CJXString& out = GetSendBuf();
    m_Pending = kPendingTeardown;
    BeginRequest(out, "TEARDOWN", m_RequestUrl, kSessionAlways);
    EndRequest(out, "TEARDOWN", m_RequestUrl);
    if (IsValid() && !IsConnecting()) CJXSocketTCP::OnSend(nullptr, out.m_Data, out.m_Length);
    out.Empty();
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTSPClient: responses

int CRTSPClient::OnRecvCommand(const char* pText, int nLen)
{
    return m_Reader.TakeResponse(pText, nLen);
}

// A complete response that answers the pending request, held in m_Command;
// the reader resets it afterwards.
int32_t CRTSPClient::OnResponse()
{
    if (m_Command.m_StatusCode == kStatusUnauthorized && m_Pending != kPendingTeardown) return AnswerChallenge();
    m_AuthRetried = false;
    switch (m_Pending) {
    case kPendingDescribe:
        return OnRecvDescribe();
    case kPendingSetup:
        return OnRecvSetup();
    case kPendingPlay:
        return OnRecvPlay();
    case kPendingKeepAlive:
        return OnRecvKeepAlive();
    default:
        m_Pending = kPendingNone;   // the answer to TEARDOWN: nothing to do
        return JX_OK;
    }
}

// A response answers the pending request when its CSeq is that request's. A
// response without CSeq is taken as the answer (cameras that leave it out
// answer one request at a time anyway).
bool CRTSPClient::IsAnswerToPending() const
{
    if (m_Pending == kPendingNone) return false;
    return m_Command.m_CSeq == 0 || m_Command.m_CSeq == m_PendingCSeq;
}

// A 401 to any request: answered once with the challenge's strongest scheme
// (a rotated or stale nonce on SETUP, PLAY or a keep-alive included), then
// the request goes again. A second 401 to the answer, a challenge not
// understood or no user to answer with: authentication refused.
int32_t CRTSPClient::AnswerChallenge()
{
    const uint16_t nPending = m_Pending;
    m_Pending = kPendingNone;
    if (m_AuthRetried || CJXString::IsEmpty(m_Authen.m_User)) return JX_ERR_AUTH;
    if (m_Authen.ParseResponse(m_Command.m_WWWAuthenticate) != JX_OK) return JX_ERR_AUTH;
    m_AuthChallenged = true;
    m_AuthRetried = true;
    switch (nPending) {
    case kPendingDescribe:
        return SendDescribe();
    case kPendingSetup: {
        CRTPSocket* pStream = StreamInSetup();
        if (pStream == nullptr) return JX_ERR_STATE;
        pStream->m_State = CRTPSocket::kStateIdle;   // its SETUP goes again
        return SendSetup(pStream);
    }
    case kPendingPlay:
        return SendPlay();
    case kPendingKeepAlive:
        WriteKeepAlive();
        return JX_OK;
    default:
        return JX_OK;
    }
}

int32_t CRTSPClient::FollowRedirect()
{
    const char* pLocation = m_Command.m_Location;
    CJXUrl target;
    if (CJXString::IsEmpty(pLocation) || !CJXHTTPCommand::IsLineSafe(pLocation, false) || target.Setup(pLocation) != JX_OK ||
        target.m_Scheme == nullptr || !CJXString::EqualNoCase(target.m_Scheme, int32_t(strlen(target.m_Scheme)), "rtsp") ||
        target.m_Host == nullptr || target.m_Port == 0) {
        JXPrintf("RTSP Client(%s): redirect (%d) without a usable rtsp:// Location.\n", GetLogUrl(),
                 static_cast<int>(m_Command.m_StatusCode));
        return JX_ERR_CONTENT;
    }
    if (++m_Redirects > kMaxRedirects) {
        JXPrintf("RTSP Client(%s): more than %u redirects.\n", GetLogUrl(), static_cast<unsigned>(kMaxRedirects));
        return JX_ERR_FAIL;
    }
    char* pRequestUrl = CloneWithoutUserInfo(pLocation);
    if (pRequestUrl == nullptr) return JX_ERR_NOMEM;
    free(m_RequestUrl);
    m_RequestUrl = pRequestUrl;
    JXPrintf("RTSP Client(%s): redirected (%d) to %s.\n", GetLogUrl(), static_cast<int>(m_Command.m_StatusCode),
             m_RequestUrl);
    const char* pHost = TargetHost();
    const uint16_t nPort = TargetPort();
    if (pHost != nullptr && CJXString::EqualNoCase(pHost, int32_t(strlen(pHost)), target.m_Host) && nPort == target.m_Port) {
        return SendDescribe();   // the same server: this connection, the same credentials
    }
    char* pTargetHost = CJXString::Clone(target.m_Host);
    if (pTargetHost == nullptr) return JX_ERR_NOMEM;
    free(m_TargetHost);
    m_TargetHost = pTargetHost;
    m_TargetPort = target.m_Port;
    m_RedirectPending = true;
    return JX_OK;
}

CRTPSocket* CRTSPClient::StreamInSetup() const
{
    if (m_Video != nullptr && m_Video->m_State == CRTPSocket::kStateSetupSent) return m_Video;
    if (m_Audio != nullptr && m_Audio->m_State == CRTPSocket::kStateSetupSent) return m_Audio;
    return nullptr;
}

int32_t CRTSPClient::OnRecvDescribe()
{
    m_Pending = kPendingNone;
    const int32_t nStatus = m_Command.m_StatusCode;
    if (nStatus == kStatusMovedPermanently || nStatus == kStatusFound || nStatus == kStatusSeeOther ||
        nStatus == kStatusTemporaryRedirect) {
        return FollowRedirect();
    }
    if (nStatus != kStatusOK) return JX_ERR_FAIL;

    CSDPParser parser;
    int32_t nRet = parser.Setup(m_Command);
    if (nRet != JX_OK) return nRet;
    nRet = ParseSDPHead(parser);
    if (nRet != JX_OK) return nRet;
    TakeContentBase();

    m_MediaMutex.Enter();
    const char* pLine = parser.m_Line;
    while (pLine != nullptr) {
        if (pLine[0] != 'm' || pLine[1] != '=') {
            pLine = parser.ParseNext();
            continue;
        }
        CRTPSocket* pStream = new (std::nothrow) CRTPSocket();
        if (pStream == nullptr) {
            m_MediaMutex.Leave();
            return JX_ERR_NOMEM;
        }
        // Open reads the whole section and leaves the parser on the next one.
        const int32_t nOpen = pStream->Open(this, parser);
        if (nOpen == JX_OK && pStream->m_MediaType == CRTPSocket::kMediaVideo && m_Video == nullptr) {
            m_Video = pStream;
            m_Video->SetShared(&m_VideoCounters, &m_SessionClock);
        } else if (nOpen == JX_OK && pStream->m_MediaType == CRTPSocket::kMediaAudio && m_Audio == nullptr) {
            m_Audio = pStream;
            m_Audio->SetShared(&m_AudioCounters, &m_SessionClock);
        } else {
            delete pStream;
        }
        pLine = parser.m_Line;
    }
    ParseSDPConnect(parser);

    BuildMediaDesc();
    if (m_Video != nullptr && m_MediaDesc != nullptr) {
        const double fSeconds = static_cast<double>(CJXTime::GetTimeMS() - m_StartTime) / 1000.0;
        JXPrintf("RTSP Client(%s): Used Time = %.3f s\n", GetLogUrl(), fSeconds);
        if (m_MediaDesc->m_Video != nullptr) {
            const JXVideoDesc* pVideo = m_MediaDesc->m_Video;
            JXPrintf("RTSP Client(%s): Video: w = %d, h = %d, codec = 0x%02x\n", GetLogUrl(), pVideo->nWidth,
                     pVideo->nHeight, pVideo->nCodec);
        }
    }
    if (m_Audio != nullptr && m_MediaDesc != nullptr) {
        if (m_MediaDesc->m_Audio != nullptr) {
            JXPrintf("RTSP Client(%s): Audio: codec = 0x%02x\n", GetLogUrl(), m_MediaDesc->m_Audio->nCodec);
        }
    }
    CRTPSocket* pFirst = m_Video != nullptr ? m_Video : m_Audio;
    m_MediaMutex.Leave();
    if (pFirst == nullptr) {
        JXPrintf("RTSP Client(%s): the description holds no stream that can be played.\n", GetLogUrl());
        return JX_ERR_CONTENT;
    }
    return SendSetup(pFirst);
}

int32_t CRTSPClient::OnRecvSetup()
{
    m_Pending = kPendingNone;
    CRTPSocket* pStream = StreamInSetup();
    if (m_Command.m_StatusCode != kStatusOK) return OnSetupRefused(pStream);
    if (m_Session == nullptr && m_Command.m_SessionID != nullptr) {
        // The identifier goes back in every later request.
        if (!CJXHTTPCommand::IsLineSafe(m_Command.m_SessionID, true)) return JX_ERR_CONTENT;
        m_Session = CJXString::Clone(m_Command.m_SessionID);
        m_SessionTimeout = m_Command.m_SessionTimeout;
    }
    if (m_Session == nullptr) {
        JXPrintf("RTSP Client(%s): the SETUP answer names no session.\n", GetLogUrl());
        return JX_ERR_CONTENT;
    }
    if (pStream != nullptr) {
        const int32_t nRet = pStream->OnSetup(m_Command);
        if (nRet != JX_OK) return nRet;
    }
    return SetupNextOrPlay();
}

int32_t CRTSPClient::SetupNextOrPlay()
{
    if (m_Audio != nullptr && m_Audio->m_State < CRTPSocket::kStateSetupSent) return SendSetup(m_Audio);
    return SendPlay();
}

// A camera that refuses one track (an audio codec it will not stream, a
// transport it cannot give that track) still plays the other.
int32_t CRTSPClient::OnSetupRefused(CRTPSocket* pStream)
{
    CRTPSocket* pOther = pStream == m_Video ? m_Audio : m_Video;
    if (pStream == nullptr || pOther == nullptr) return JX_ERR_FAIL;
    const bool bVideo = pStream == m_Video;
    JXPrintf("RTSP Client(%s): the %s stream was refused (%d): playing the %s alone.\n", GetLogUrl(),
             bVideo ? "video" : "audio", static_cast<int>(m_Command.m_StatusCode), bVideo ? "audio" : "video");
    m_MediaMutex.Enter();
    (bVideo ? m_Video : m_Audio) = nullptr;
    delete pStream;
    if (bVideo) m_SessionClock.m_HasVideo = false;   // the audio's times lead now
    BuildMediaDesc();
    m_MediaMutex.Leave();
    return SetupNextOrPlay();
}

void CRTSPClient::BuildMediaDesc()
{
    ReleaseMediaData();
    m_MediaDesc = CJXMediaDesc::Create(1);
    if (m_MediaDesc == nullptr) return;
    if (m_Video != nullptr) m_Video->GetHead(m_MediaDesc);
    if (m_Audio != nullptr) m_Audio->GetHead(m_MediaDesc);
}

int32_t CRTSPClient::OnRecvPlay()
{
    m_Pending = kPendingNone;
    if (m_Command.m_StatusCode != kStatusOK) return JX_ERR_FAIL;
    if (m_Video != nullptr) m_Video->OnPlay(m_Command);
    if (m_Audio != nullptr) m_Audio->OnPlay(m_Command);
    m_DataTimeout.Setup(kStartDataTimeoutMs);
    m_KeepAlive.Setup(KeepAlivePeriodMs());
    m_ReportTimer.Setup(CRTPReceiverStats::ReportIntervalMs(NextRandom() & 0xFFFF));
    m_Phase = EPhase::kPlaying;
    OnState(kMsgState, JX_OK);
    return JX_OK;
}

int32_t CRTSPClient::OnRecvKeepAlive()
{
    // Whatever the status, the server has seen the session in use; the next
    // keep-alive was armed when this one went out. A server that does not
    // take SET_PARAMETER gets OPTIONS from now on.
    m_Pending = kPendingNone;
    const int32_t nStatus = m_Command.m_StatusCode;
    if (nStatus == kStatusSessionNotFound || nStatus == kStatusInvalidRange) {
        // The camera dropped our session (a reboot, a time-out of its own):
        // waiting for the data time-out and the retry delay would lose 20 s.
        JXPrintf("RTSP Client(%s): the server lost the session (%d): a new one starts now.\n", GetLogUrl(),
                 static_cast<int>(nStatus));
        m_ReconnectNow = true;
        return JX_ERR_FAIL;
    }
    if (nStatus == kStatusMethodNotAllowed || nStatus == kStatusParameterNotUnderstood ||
        nStatus == kStatusNotImplemented) {
        m_KeepAliveOptions = true;
    }
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTSPClient: the control connection

int32_t CRTSPClient::OnSend(CJXFdSet* pWrite)
{
    CJXString& out = GetSendBuf();
    if (out.m_Data == nullptr || out.m_Length == 0) return 0;
    const int32_t nSent = CJXSocketTCP::OnSend(pWrite, out.m_Data, out.m_Length);
    if (nSent < 0) return nSent;
    if (nSent > 0) out.Flush(nSent);
    return 0;
}

int32_t CRTSPClient::OnRecv(CJXFdSet* pRead)
{
    if (pRead == nullptr || !IsValid()) return JX_ERR_ARG;
    CJXString& in = GetRecvBuf();
    const int32_t nRoom = in.GetSpace() - kRecvKeepFree;
    if (nRoom <= 0 || in.GetTail() == nullptr) return JX_ERR_CONTENT;
    const int32_t nGot = CJXSocketTCP::OnRecv(pRead, in.GetTail(), nRoom);
    if (nGot <= 0) return nGot;
    in.Add(nGot);
    return WalkRecvBuffer();
}

int32_t CRTSPClient::OnRecvBytes(const char* pData, int32_t nLen)
{
    if (pData == nullptr || nLen < 0) return JX_ERR_ARG;
    CJXString& in = GetRecvBuf();
    const int32_t nRoom = in.GetSpace() - kRecvKeepFree;
    if (nRoom <= 0 || in.GetTail() == nullptr) return JX_ERR_CONTENT;
    const int32_t nTake = nLen < nRoom ? nLen : nRoom;
    memcpy(in.GetTail(), pData, static_cast<size_t>(nTake));
    in.Add(nTake);
    const int32_t nRet = WalkRecvBuffer();
    return nRet < 0 ? nRet : nTake;
}

int32_t CRTSPClient::WalkRecvBuffer()
{
    CJXString& in = GetRecvBuf();
    const int32_t nUsed = m_Reader.Read(in.m_Data, in.m_Length);
    if (nUsed < 0) return nUsed;   // the connection ends; the buffer is left as it is
    in.Flush(nUsed);
    if (!m_Calls.IsStopDeferred() && in.GetSpace() <= kRecvKeepFree) {
        // Full, and nothing in it can be used: more bytes can never complete it.
        JXPrintf("RTSP Client(%s): Receive buffer full.\n", GetLogUrl());
        return JX_ERR_CONTENT;
    }
    return JX_OK;
}

void CRTSPClient::AnswerServerRequest(const CRTSPServerRequest& request)
{
    const char* pMethod = request.m_Method ? request.m_Method : "";
    const bool bKnown = strcmp(pMethod, "OPTIONS") == 0 || strcmp(pMethod, "GET_PARAMETER") == 0;
    CJXString& out = GetSendBuf();
    out.Append("RTSP/1.0 %s\r\n", bKnown ? "200 OK" : "501 Not Implemented");
    if (request.m_CSeqText[0] != '\0') out.Append("CSeq: %s\r\n", request.m_CSeqText);
    if (!CJXString::IsEmpty(m_Session)) out.Append("Session: %s\r\n", m_Session);
    out.Append("User-Agent: %s\r\n\r\n", kUserAgent);
}

int CRTSPClient::OnRecvData(const char* pData, int nLen)
{
    return m_Reader.TakeFrame(pData, nLen);
}

int32_t CRTSPClient::OnPacket(unsigned char nChannel, const char* pData, unsigned int nLen)
{
    return (nChannel & 1) ? OnRecvRTCP(nChannel, pData, nLen) : OnRecvRTP(nChannel, pData, nLen);
}

// ---------------------------------------------------------------------------
// CRTSPClient::CReaderSink

bool CRTSPClient::CReaderSink::IsAwaited(const CRTSPCommand&) const
{
    return m_Client.IsAnswerToPending();
}

int32_t CRTSPClient::CReaderSink::OnResponse(CRTSPCommand&)
{
    return m_Client.OnResponse();
}

int32_t CRTSPClient::CReaderSink::OnPacket(uint8_t nChannel, const char* pData, uint32_t nLen)
{
    return m_Client.OnPacket(nChannel, pData, nLen);
}

void CRTSPClient::CReaderSink::OnServerRequest(const CRTSPServerRequest& request)
{
    m_Client.AnswerServerRequest(request);
}

bool CRTSPClient::CReaderSink::KeepReading() const
{
    return !m_Client.m_Calls.IsStopDeferred();
}

const char* CRTSPClient::CReaderSink::LogName() const
{
    return m_Client.GetLogUrl();
}

int32_t CRTSPClient::OnRecvRTP(unsigned char nChannel, const char* pData, unsigned int nLen)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pData);
    const bool bVideo = m_Video != nullptr && m_Video->m_PeerRtpPort == nChannel;
    const bool bAudio = m_Audio != nullptr && m_Audio->m_PeerRtpPort == nChannel;
    // A server that gives both streams one channel: the payload type tells
    // them apart. A stream drops what is not its own.
    if (bVideo && bAudio && nLen >= kMinRtpHeadBytes && (p[1] & kPayloadTypeMask) == m_Audio->m_PayloadType)
        return m_Audio->OnRecvRTP(p, nLen);
    if (bVideo) return m_Video->OnRecvRTP(p, nLen);
    if (bAudio) return m_Audio->OnRecvRTP(p, nLen);
    return 0;
}

// The base of the description's relative control URLs that the answer
// names: Content-Base, else Content-Location (RFC 2326 C.1.1); only an
// absolute URL that can stand in a request line is taken.
void CRTSPClient::TakeContentBase()
{
    free(m_ContentBase);
    m_ContentBase = nullptr;
    for (const char* pValue : {m_Command.m_ContentBase, m_Command.m_ContentLocation}) {
        if (pValue != nullptr && CJXUrl::IsAbsolute(pValue) && CJXHTTPCommand::IsLineSafe(pValue, false)) {
            m_ContentBase = CJXString::Clone(pValue);
            return;
        }
    }
}

uint32_t CRTSPClient::PeerIPv4() const
{
    sockaddr_storage addr;
    int32_t nLen = sizeof(addr);
    if (!IsValid() || JXSocketGetPeer(m_Socket, reinterpret_cast<sockaddr*>(&addr), &nLen) != JX_OK) return 0;
    if (addr.ss_family != AF_INET) return 0;   // datagrams are received over IPv4 only
    return reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr.s_addr;
}

int32_t CRTSPClient::OnRecvRTCP(unsigned char nChannel, const char* pData, unsigned int nLen)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pData);
    if (m_Video != nullptr && m_Video->m_PeerRtcpPort == nChannel) return m_Video->OnRecvRTCP(p, nLen);
    if (m_Audio != nullptr && m_Audio->m_PeerRtcpPort == nChannel) return m_Audio->OnRecvRTCP(p, nLen);
    return 0;
}

// The RTSP stream object: its lifecycle, the worker's pass over it, the
// connection's start and end, and what it reports to its subscribers.
#include "rtspclient.h"

#include "rtspurl.h"

#include <cstdlib>
#include <cstring>

namespace {

// The description has no video yet, or a key frame tells another codec or
// picture size (a camera whose resolution was changed): it is read anew.
bool IsNewPicture(const JXVideoDesc* pVideo, const CPacket& frame)
{
    if (pVideo == nullptr) return true;
    if (frame.FrameGetWidth() == 0 || frame.FrameGetHeight() == 0) return false;
    return pVideo->nWidth != frame.FrameGetWidth() || pVideo->nHeight != frame.FrameGetHeight() ||
           pVideo->nCodec != frame.FrameGetCodec();
}

// The hint lowered to the time left on an armed timer.
unsigned int Earlier(const CJXTimeout& timer, unsigned int nWait)
{
    if (timer.m_Period == 0) return nWait;
    const uint32_t nLeft = timer.Remaining();
    return nLeft < nWait ? nLeft : nWait;
}

unsigned int Earlier(uint32_t nLeft, unsigned int nWait)
{
    return nLeft < nWait ? nLeft : nWait;
}

int32_t MapReportedError(int32_t nError)
{
    if (nError == JX_OK || nError == JX_ERR_TIMEOUT) return nError;
    if (nError == JX_ERR_AUTH) return CRTSPClient::kReportAuth;
    return CRTSPClient::kReportFailure;
}

}   // namespace

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

int32_t CRTSPClient::Release()
{
    Stop();
    if (m_Calls.InCall()) {
        // From inside a callback of this stream: the object goes once the
        // call that is still walking its subscribers has returned.
        m_Calls.DeferRelease();
        return JX_OK;
    }
    delete this;
    return JX_OK;
}

const char* CRTSPClient::GetProtocol()
{
    return "rtsp";
}

int32_t CRTSPClient::Open(CJXUrl const& url)
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

int32_t CRTSPClient::Open(char const* pUrl)
{
    if (IsAttached()) return JX_ERR_STATE;
    CJXAutoLock lock(m_WorkMutex);
    return IJXStream::Open(pUrl);
}

int32_t CRTSPClient::Start()
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

int32_t CRTSPClient::Stop()
{
    if (m_Calls.InPass()) {
        // A subscriber of this stream stops it from inside its callback on
        // the worker: no further pass follows, and the session ends when this
        // one unwinds, so nothing the running call uses is freed under it.
        DetachWorker();
        m_Calls.DeferStop();
        return JX_OK;
    }
    if (IsAttached()) {
        DetachWorker();
        CJXAutoLock lock(m_WorkMutex);
        EndSessionQuietly();
    }
    // A worker left by a stream that stopped itself from its callback ends
    // here, on the host's thread.
    RetireWorker();
    return JX_OK;
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
    m_RequestUrl = CRTSPUrl::CloneWithoutUserInfo(m_Url.m_Text);
    // The scheme chooses the transport asked for (rtspu unicast UDP, rtspm
    // multicast); servers know only rtsp://, so the requests name that scheme.
    m_Transport = CRTSPUrl::TransportOfScheme(m_Url.m_Scheme);
    const char* pRest = m_RequestUrl != nullptr ? strstr(m_RequestUrl, "://") : nullptr;
    if (pRest != nullptr && m_Transport != CRTPSocket::kTransportInterleaved) {
        CJXString request;
        request.Append("rtsp%s", pRest);
        free(m_RequestUrl);
        m_RequestUrl = CJXString::Clone(request.c_str());
    }
}

int32_t CRTSPClient::GetStatistics(CJXStreamStats& stats)
{
    m_VideoCounters.CopyTo(stats.m_Video);
    m_AudioCounters.CopyTo(stats.m_Audio);
    return JX_OK;
}

int32_t CRTSPClient::GetMediaDesc(CJXMediaDesc*& pDesc)
{
    CJXAutoLock lock(m_MediaMutex);
    pDesc = m_MediaDesc ? m_MediaDesc->Clone() : nullptr;
    return m_MediaDesc ? JX_OK : JX_ERR_STATE;
}

int32_t CRTSPClient::GetLastIFrame(CPacket*& pPacket)
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

int32_t CRTSPClient::OnData(CPacket* pPacket)
{
    if (pPacket == nullptr) return JX_ERR_ARG;
    if (m_Calls.IsStopDeferred()) return JX_OK;   // stopped from a callback earlier in this pass
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
    return JX_OK;
}

int32_t CRTSPClient::OnState(unsigned int nCode, int32_t nError)
{
    if (nCode == kMsgState) NoteStateReport(nError);
    if (m_Calls.IsStopDeferred()) return JX_OK;   // stopped from a callback: nothing more is reported
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
    return JX_OK;
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

int32_t CRTSPClient::OnHead(CJXMediaHead*)
{
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTSPClient: the worker's pass

int32_t CRTSPClient::OnWork(CJXMessageT*, unsigned int nValue, unsigned int& nWait)
{
    bool bDelete = false;
    {
        CJXAutoLock lock(m_WorkMutex);
        m_ReadyMask = nValue;
        {
            CRTSPCallGuard::CScope scope(m_Calls, true);
            RunPass();
        }
        const uint32_t nTodo = m_Calls.FinishDeferred();
        if (nTodo & CRTSPCallGuard::kFinishEndSession) EndSessionQuietly();
        bDelete = (nTodo & CRTSPCallGuard::kFinishDelete) != 0;
        // Stopped from a callback, the stream is off the worker: both calls
        // then only forget what the detach has already undone.
        WatchSockets();
        nWait = NextPassWait(nWait);
    }
    if (bDelete) delete this;
    return JX_OK;
}

void CRTSPClient::RunPass()
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
        // The attempt may close its socket and open another for the next
        // address: nothing of it stays watched meanwhile.
        ClearWatches();
        if (PollConnect() != JX_OK) {
            FailConnect();
            return;
        }
        if (IsConnecting()) return;
    }
    const int32_t nRet = OnPolling();
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
    // Whatever a socket still holds (reading is bounded per pass) makes it
    // ready again, so the next pass follows at once without a hint of 0.
}

void CRTSPClient::WatchSockets()
{
    CWatch want[kMaxWatches];
    int32_t n = 0;
    if (IsValid() && !m_Calls.IsStopDeferred()) {
        // Connecting: writable tells the outcome. Connected: readable, and
        // writable only while a request waits in the send buffer.
        // (Assigned one by one: the set's constants are read, never bound to
        // a reference, which a DLL's class does not export.)
        uint32_t nEvents = CJXPollSet::kWritable;
        if (!IsConnecting()) {
            nEvents = CJXPollSet::kReadable;
            if (IsSending()) nEvents |= CJXPollSet::kWritable;
        }
        want[n++] = CWatch{m_Socket, nEvents};
        for (const CRTPSocket* pStream : {m_Video, m_Audio}) {
            // Only a playing stream's pair: before PLAY its sockets may still
            // be replaced (a multicast answer), and nothing reads them.
            if (pStream == nullptr || pStream->m_State != CRTPSocket::kStatePlaying) continue;
            const CRTPDatagramSockets& d = pStream->m_Datagrams;
            if (d.HasRtp()) want[n++] = CWatch{d.m_RtpSocket, CJXPollSet::kReadable};
            if (d.HasRtcp() && d.m_RtcpSocket != d.m_RtpSocket) want[n++] = CWatch{d.m_RtcpSocket, CJXPollSet::kReadable};
        }
    }
    SetWatches(want, n);
}

unsigned int CRTSPClient::NextPassWait(unsigned int nWait) const
{
    if (m_Phase == EPhase::kWaitingToRetry) return m_Reconnect.m_Period == 0 ? 0 : Earlier(m_Reconnect, nWait);
    if (IsConnecting()) {
        // A lookup on the resolver has no socket to wait on, and WSAPoll may
        // not report a refused connect: both are looked at often.
        if (!IsValid() || !CJXPollSet::kReportsConnectFailure) return Earlier(kIdleWaitMs, nWait);
        return Earlier(ConnectTimeLeft(), nWait);
    }
    if (!IsValid()) return nWait;
    nWait = Earlier(m_KeepAlive, nWait);
    nWait = Earlier(m_DataTimeout, nWait);
    nWait = Earlier(m_ReportTimer, nWait);
    for (const CRTPSocket* pStream : {m_Video, m_Audio}) {
        // A packet held for a missing one leaves after the window's wait.
        if (pStream != nullptr && pStream->m_Reorder.Held() > 0)
            nWait = Earlier(static_cast<uint32_t>(CRTPReorder::kMaxWaitMs), nWait);
    }
    return nWait;
}

int32_t CRTSPClient::OnPolling()
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
    if (m_KeepAlive.Check(0, false)) {
        // It fails only without a request URL, which a connected stream always
        // has; a keep-alive that cannot be written ends the pass like any fault.
        const int32_t nKeep = SendKeepAlive();
        if (nKeep != JX_OK) {
            OnState(kMsgState, nKeep);
            return nKeep;
        }
    }
    if (m_ReportTimer.Check(0, false)) SendReceiverReports();

    int32_t nResult = 0;
    for (CRTPSocket* pStream : {m_Video, m_Audio}) {
        if (pStream == nullptr) continue;
        const CRTPDatagramSockets& d = pStream->m_Datagrams;
        if (pStream->OnUDPPolling(IsReadable(d.m_RtpSocket, m_ReadyMask), IsReadable(d.m_RtcpSocket, m_ReadyMask)) > 0)
            nResult = 1;
    }
    if (m_Calls.IsStopDeferred()) return nResult;

    // The pass runs for a ready socket or a due timer: the non-blocking
    // calls find out which, without a readiness check of their own.
    int32_t nError = OnSend(nullptr);
    if (nError != JX_OK) {
        OnState(kMsgState, nError);
        return JX_ERR_FAIL;
    }
    // Watched, the connection is read only when reported ready: a pass for
    // a datagram or a timer spends no read on it.
    nError = IsReadable(m_Socket, m_ReadyMask) ? OnRecv(nullptr) : JX_OK;
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
    ClearWatches();   // before the connection's and the streams' sockets close
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
    ClearWatches();
    CJXSocketTCP::Close();
    m_Reconnect.Setup(kReconnectMs);
    m_Phase = EPhase::kWaitingToRetry;
    OnState(kMsgState, JX_ERR_FAIL);
}

int32_t CRTSPClient::OnStop()
{
    // The connection closes whether the TEARDOWN went or not; one that could
    // not go is logged (the server keeps the session until its time-out).
    const int32_t nTeardown = SendTeardown();
    if (nTeardown != JX_OK) JXPrintf("RTSP Client(%s): TEARDOWN not sent (%d).\n", GetLogUrl(), nTeardown);
    ResetConnection();
    if (m_Url.m_Text != nullptr) JXPrintf("RTSP Client(%s): OnStop.\n", GetLogUrl());
    return JX_OK;
}

// What the client does with each response of the RTSP dialogue.
#include "rtspclient.h"

#include "rtspurl.h"
#include "sdpparser.h"

#include <cstring>
#include <new>

namespace {

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

}   // namespace

int32_t CRTSPClient::OnRecvCommand(const char* pText, int32_t nLen)
{
    return m_Reader.TakeResponse(pText, nLen);
}

// A complete response that answers the pending request, held in m_Command;
// the reader resets it afterwards.
int32_t CRTSPClient::OnResponse()
{
    const uint16_t nPending = m_Pending;
    const int32_t nResult = DispatchResponse();
    // The status is gone once the reader resets the response: kept for the report.
    if (nResult < 0) NoteResponseFailure(nPending, nResult);
    return nResult;
}

int32_t CRTSPClient::DispatchResponse()
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
    char* pRequestUrl = CRTSPUrl::CloneWithoutUserInfo(pLocation);
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
    // A description without a connection line names no group (the streams
    // come from the server's own address): no failure, and nothing to keep.
    const int32_t nConnect = ParseSDPConnect(parser);
    if (nConnect != JX_OK && nConnect != JX_ERR_CONTENT) {
        m_MediaMutex.Leave();
        return nConnect;
    }

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
    // A stream whose head is not known yet (no parameter sets in the
    // description) fails here and leaves its part empty: the first key frame
    // fills it (OnData), so that is no failure of the description.
    if (m_Video != nullptr) m_Video->GetHead(m_MediaDesc);
    if (m_Audio != nullptr) m_Audio->GetHead(m_MediaDesc);
}

int32_t CRTSPClient::OnRecvPlay()
{
    m_Pending = kPendingNone;
    if (m_Command.m_StatusCode != kStatusOK) return JX_ERR_FAIL;
    for (CRTPSocket* pStream : {m_Video, m_Audio}) {
        const int32_t nRet = pStream != nullptr ? pStream->OnPlay(m_Command) : JX_OK;
        if (nRet != JX_OK) return nRet;
    }
    m_DataTimeout.Setup(kStartDataTimeoutMs);
    m_KeepAlive.Setup(KeepAlivePeriodMs());
    ArmReceiverReports();
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

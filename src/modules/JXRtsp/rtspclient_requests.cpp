// The requests of the RTSP dialogue, written into the send buffer of the
// control connection, and the answers to the server's own requests.
#include "rtspclient.h"

#include "rtspurl.h"

#include <cstdio>
#include <cstring>
#include <random>

namespace {

const char kUserAgent[] = "RTSPClient/1.0";
constexpr int32_t kFrameHeadBytes = CRTSPReader::kFrameHeadBytes;
constexpr uint16_t kMaxChannel = 0xFF;
constexpr uint32_t kKeepAliveMsPerSecond = 500;   // half the session time-out

// Random bits for report intervals and the CNAME: unpredictable enough that
// clients started together do not report in step.
uint32_t NextRandom()
{
    static thread_local std::mt19937 s_Random(std::random_device{}());
    return static_cast<uint32_t>(s_Random());
}

// The request left in the send buffer is taken back: what was written from
// nLength on never reaches the wire.
void RestoreLength(CJXString& out, int32_t nLength)
{
    if (out.m_Data == nullptr || nLength > out.m_Length) return;
    out.m_Length = nLength;
    out.m_Data[nLength] = '\0';
}

}   // namespace

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
    if (m_Transport == CRTPSocket::kTransportInterleaved && m_Connect != nullptr && CRTPDatagramSockets::IsMulticastGroup(m_Connect))
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

void CRTSPClient::ArmReceiverReports()
{
    m_ReportTimer.Setup(CRTPReceiverStats::ReportIntervalMs(NextRandom() & 0xFFFF));
}

void CRTSPClient::SendReceiverReports()
{
    ArmReceiverReports();
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
    // answer is never read. What the socket does not take is dropped; a
    // socket that fails is the caller's to hear of.
    CJXString& out = GetSendBuf();
    m_Pending = kPendingTeardown;
    BeginRequest(out, "TEARDOWN", m_RequestUrl, kSessionAlways);
    EndRequest(out, "TEARDOWN", m_RequestUrl);
    int32_t nRet = JX_OK;
    if (IsValid() && !IsConnecting()) {
        const int32_t nSent = CJXSocketTCP::OnSend(nullptr, out.m_Data, out.m_Length);
        if (nSent < 0) nRet = nSent;
    }
    out.Empty();
    return nRet;
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

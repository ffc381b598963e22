// The control connection of a stream: requests out of the send buffer,
// received bytes through the reader, interleaved packets to their stream.
#include "rtspclient.h"

#include <cstring>

namespace {

constexpr unsigned int kMinRtpHeadBytes = 12;
constexpr unsigned char kPayloadTypeMask = 0x7F;

}   // namespace

int32_t CRTSPClient::OnSend(CJXFdSet* pWrite)
{
    CJXString& out = GetSendBuf();
    if (out.m_Data == nullptr || out.m_Length == 0) return JX_OK;
    const int32_t nSent = CJXSocketTCP::OnSend(pWrite, out.m_Data, out.m_Length);
    if (nSent < 0) return nSent;
    if (nSent > 0) out.Flush(nSent);
    return JX_OK;
}

int32_t CRTSPClient::OnRecv(CJXFdSet* pRead)
{
    if (!IsValid()) return JX_ERR_ARG;
    // Until the socket would block, in reads as large as the buffer's room,
    // at most kMaxReadsPerPass: the rest makes the socket ready again.
    for (int32_t nRead = 0; nRead < kMaxReadsPerPass; ++nRead) {
        CJXString& in = GetRecvBuf();
        const int32_t nRoom = in.GetSpace() - kRecvKeepFree;
        if (nRoom <= 0 || in.GetTail() == nullptr) return JX_ERR_CONTENT;
        const int32_t nGot = CJXSocketTCP::OnRecv(pRead, in.GetTail(), nRoom);
        if (nGot <= 0) return nGot;
        in.Add(nGot);
        const int32_t nRet = WalkRecvBuffer();
        if (nRet != JX_OK) return nRet;
        // A short read emptied the socket; a stop or a redirect to another
        // host ends reading from this connection.
        if (nGot < nRoom || m_Calls.IsStopDeferred() || m_RedirectPending || !IsValid()) return JX_OK;
    }
    return JX_OK;
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

int32_t CRTSPClient::OnRecvData(const char* pData, int32_t nLen)
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
    return JX_OK;
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
    return JX_OK;
}

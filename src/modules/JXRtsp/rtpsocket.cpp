// Media stream: the receive path into the depacketizer and the route of
// finished frames out to the client.
#include "rtpsocket.h"

#include "rtpaac.h"
#include "rtpg711.h"
#include "rtph264.h"
#include "rtph265.h"
#include "rtpmedia.h"
#include "rtpmjpeg.h"
#include "rtpparser.h"
#include "rtspclient.h"
#include "sdpparser.h"

#include <cstdio>
#include <random>
#include <cstdlib>
#include <cstring>
#include <new>

CRTPSocket::CRTPSocket()
{
    // Our SSRC in receiver reports: random, so that two clients of one
    // server do not collide (RFC 3550 8.1).
    static thread_local std::mt19937 s_Random(std::random_device{}());
    m_OwnSSRC = static_cast<uint32_t>(s_Random());
}

CRTPSocket::~CRTPSocket()
{
    Close();
}

// ---------------------------------------------------------------------------
// Session side: the SDP media section, SETUP and PLAY.

namespace {

const char kControlKey[] = "a=control:";
const char kJXFrameKey[] = "a=JXFrame:";
constexpr size_t kAddressChars = 15;
constexpr uint32_t kMaxPort = 65535;
// Interleaved channels never carry this value: a stream set to it gets nothing.
constexpr uint16_t kNoChannel = 0xFFFF;
constexpr uint32_t kOctetMask = 0xFF;

const char kDimensionsKey[] = "a=x-dimensions:";

template <class T>
CRTPMedia* Create(CRTPSocket* pSocket)
{
    return new (std::nothrow) T(pSocket);
}

// The encodings of a=rtpmap: and the depacketizer each one gets.
struct CEncoding {
    const char* m_Pattern;
    uint8_t m_Codec;
    CRTPMedia* (*m_Create)(CRTPSocket* pSocket);
};
const CEncoding kEncodings[] = {
    {"H264/%u", JX_CODEC_H264, Create<CRTPH264>},
    {"H265/%u", JX_CODEC_H265, Create<CRTPH265>},
    {"PCMU/%u", JX_CODEC_PCMU, Create<CRTPPCMU>},
    {"PCMA/%u", JX_CODEC_PCMA, Create<CRTPPCMA>},
    {"JPEG/%u", JX_CODEC_JPEG, Create<CRTPMJPEG>},
    // Names of dynamic payload types are case-insensitive (RFC 4855 3);
    // cameras write "mpeg4-generic" and "MPEG4-GENERIC" alike.
    {"%*1[Mm]%*1[Pp]%*1[Ee]%*1[Gg]4-%*1[Gg]%*1[Ee]%*1[Nn]%*1[Ee]%*1[Rr]%*1[Ii]%*1[Cc]/%u", JX_CODEC_AAC, Create<CRTPAAC>},
    {"%*1[Mm]%*1[Pp]4%*1[Aa]-%*1[Ll]%*1[Aa]%*1[Tt]%*1[Mm]/%u", JX_CODEC_AAC, Create<CRTPLATM>},
};

// Text behind the first space of the line, leading blanks skipped; null when
// there is none.
const char* TextAfterSpace(const char* pLine)
{
    const char* pSpace = strchr(pLine, ' ');
    if (pSpace == nullptr) return nullptr;
    const char* pText = CJXString::TrimL(pSpace);
    return *pText != '\0' ? pText : nullptr;
}

void CopyAddress(char* pOut, const char* pText)
{
    pOut[0] = '\0';
    if (pText != nullptr) snprintf(pOut, kAddressChars + 1, "%s", pText);
}

}   // namespace

int32_t CRTPSocket::Open(CRTSPClient* pClient, CSDPParser& parser)
{
    const char* pLine = parser.m_Line;
    if (pLine == nullptr) return JX_ERR_ARG;
    m_Client = pClient;
    // Datagrams must come from the host the control connection reached: a
    // camera named by host name is checked against the address it resolved to.
    m_ServerIP = pClient != nullptr ? pClient->PeerIPv4() : 0;
    unsigned int nPort = 0;
    unsigned int nType = 0;
    if (sscanf(pLine, "m=video %u RTP/AVP %u", &nPort, &nType) == 2) {
        m_MediaType = kMediaVideo;
    } else if (sscanf(pLine, "m=audio %u RTP/AVP %u", &nPort, &nType) == 2) {
        m_MediaType = kMediaAudio;
    } else {
        // Another kind of section (data, application, another profile): skipped whole.
        while ((pLine = parser.ParseNext()) != nullptr && !(pLine[0] == 'm' && pLine[1] == '=')) {}
        return JX_ERR_UNSUPPORTED;
    }
    m_PeerRtpPort = static_cast<uint16_t>(nPort);
    m_PayloadType = static_cast<uint16_t>(nType);   // only the first payload type counts
    while ((pLine = parser.ParseNext()) != nullptr) {
        if (pLine[0] == 'm' && pLine[1] == '=') break;
        if (ParseControl(pLine) || ParseRTPMap(pLine) || ParseFMTP(pLine) || ParseJXFrame(pLine)) continue;
        // The picture size of JPEG above 2040 pixels, as GStreamer announces it.
        // One that does not read leaves the size to the pictures' own headers.
        if (m_Encoding == JX_CODEC_JPEG && m_Media != nullptr && CJXString::StartsWithNoCase(pLine, kDimensionsKey))
            (void)m_Media->Setup(pLine);
    }
    if (!HasMedia()) return JX_ERR_UNSUPPORTED;
    // RFC 2326 C.1.1: a section without a control attribute is controlled by
    // the aggregate URL (cameras with one stream leave it out).
    if (m_ControlUrl == nullptr && m_Client != nullptr) {
        const char* pBase = ControlBase();
        m_ControlUrl = pBase ? CJXString::Clone(pBase) : nullptr;
    }
    if (m_Media != nullptr && m_Client != nullptr) {
        CJXMediaHead* pHead = m_Media->GetHead();
        if (pHead != nullptr) (void)m_Client->OnHead(pHead);   // a notice: the section stands either way
    }
    return JX_OK;
}

int CRTPSocket::ParseControl(const char* pLine)
{
    if (!CJXString::StartsWithNoCase(pLine, kControlKey)) return 0;
    free(m_ControlUrl);
    m_ControlUrl = nullptr;
    const char* pValue = pLine + sizeof(kControlKey) - 1;
    if (CJXUrl::IsAbsolute(pValue)) {
        m_ControlUrl = CJXString::Clone(pValue);
        return 1;
    }
    const char* pBase = ControlBase();
    if (pBase == nullptr) return 1;
    const size_t nBase = strlen(pBase);
    const bool bJoined = (nBase > 0 && pBase[nBase - 1] == '/') || pValue[0] == '/';
    CJXString url;
    url.Append("%s%s%s", pBase, bJoined ? "" : "/", pValue);
    m_ControlUrl = CJXString::Clone(url.c_str());
    return 1;
}

// The base of relative control URLs: an absolute session-level control; else
// the description's Content-Base or Content-Location; else the session-level
// control, or the stream URL when that is absent or "*".
const char* CRTPSocket::ControlBase() const
{
    if (m_Client == nullptr) return nullptr;
    const char* pSession = m_Client->m_Control;
    const bool bSession = !CJXString::IsEmpty(pSession) && strcmp(pSession, "*") != 0;
    if (bSession && CJXUrl::IsAbsolute(pSession)) return pSession;
    if (m_Client->m_ContentBase != nullptr) return m_Client->m_ContentBase;
    return bSession ? pSession : m_Client->GetRequestUrl();
}

int CRTPSocket::ParseRTPMap(const char* pLine)
{
    unsigned int nType = 0;
    if (sscanf(pLine, "a=rtpmap:%u", &nType) != 1) return 0;
    if (nType != m_PayloadType) return 1;
    const char* pText = TextAfterSpace(pLine);
    if (pText == nullptr) return 1;
    for (const CEncoding& encoding : kEncodings) {
        unsigned int nRate = 0;
        if (sscanf(pText, encoding.m_Pattern, &nRate) != 1) continue;
        m_Encoding = encoding.m_Codec;
        m_ClockRate = nRate;
        if (encoding.m_Create != nullptr) {
            delete m_Media;   // a second rtpmap line for the type replaces the first
            m_Media = encoding.m_Create(this);
            m_DroppedCounted = 0;
            m_SwitchesCounted = 0;
        }
        break;
    }
    if (m_Media != nullptr) m_Media->m_PayloadType = m_PayloadType;
    SetupClock();
    return 1;
}

void CRTPSocket::SetupClock()
{
    if (m_Media == nullptr) return;
    const uint32_t nDefault = m_MediaType == kMediaAudio ? CRTPClock::kAudioRate : CRTPClock::kVideoRate;
    m_Media->m_Clock.SetRate(m_ClockRate != 0 ? m_ClockRate : nDefault);
    m_Media->m_Clock.SetSession(m_SessionClock);
    m_Media->m_Clock.SetVideo(m_MediaType == kMediaVideo);
    if (m_SessionClock != nullptr && m_MediaType == kMediaVideo) m_SessionClock->m_HasVideo = true;
}

void CRTPSocket::SetShared(CRTPStreamCounters* pCounters, CRTPSessionClock* pSession)
{
    m_Counters = pCounters != nullptr ? pCounters : &m_OwnCounters;
    m_SessionClock = pSession;
    SetupClock();
}

int CRTPSocket::ParseFMTP(const char* pLine)
{
    unsigned int nType = 0;
    if (sscanf(pLine, "a=fmtp:%u", &nType) != 1) return 0;
    if (nType != m_PayloadType) return 1;
    const char* pText = TextAfterSpace(pLine);
    // What the parameters are worth is the depacketizer's to judge: it logs
    // a refusal (and then takes no packet) and leaves what it has no use for.
    if (pText != nullptr && m_Media != nullptr) (void)m_Media->Setup(pText);
    return 1;
}

int CRTPSocket::ParseJXFrame(const char* pLine)
{
    if (!CJXString::StartsWithNoCase(pLine, kJXFrameKey)) return 0;
    unsigned int nValue = 0;
    const char* p = strstr(pLine, "VI");
    if (p != nullptr && sscanf(p, "VI=%u", &nValue) == 1) m_VI = static_cast<uint16_t>(nValue);
    p = strstr(pLine, "PB");
    if (p != nullptr && sscanf(p, "PB=%u", &nValue) == 1) m_PB = static_cast<uint16_t>(nValue);
    p = strstr(pLine, "codec");
    if (p != nullptr && sscanf(p, "codec=%u", &nValue) == 1) m_Codec = static_cast<uint16_t>(nValue);
    if (m_VI != 0 || m_PB != 0) m_MarkEnabled = 1;
    return 1;
}

int32_t CRTPSocket::Setup(CJXString& request, int nMode)
{
    if (!HasMedia()) return JX_ERR_STATE;
    switch (nMode) {
    case kTransportUDP:
        // Datagrams are checked against the server's IPv4 address: without
        // one (an IPv6 connection) unicast UDP is not asked for.
        if (m_ServerIP == 0) return JX_ERR_UNSUPPORTED;
        // Without a port pair nothing could be received: the attempt ends
        // here, not at the data time-out.
        if (SetupUDP() != JX_OK) {
            LogStream("no UDP port pair could be bound");
            return JX_ERR_FAIL;
        }
        request.Append("Transport: RTP/AVP;unicast;client_port=%d-%d\r\n", int(m_LocalRtpPort), int(m_LocalRtcpPort));
        break;
    case kTransportInterleaved:
        request += m_MediaType == kMediaVideo ? "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"
                                              : "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n";
        break;
    case kTransportMulticast:
        request += "Transport: RTP/AVP;multicast\r\n";
        break;
    default:
        break;
    }
    m_State = kStateSetupSent;
    return JX_OK;
}

int32_t CRTPSocket::SetupUDP()
{
    return m_Datagrams.OpenPortPair(m_LocalRtpPort, m_LocalRtcpPort);
}

int32_t CRTPSocket::Play(CJXString& /*request*/)
{
    return JX_OK;
}

int32_t CRTPSocket::OnSetup(CRTSPCommand& reply)
{
    if (!HasMedia()) return JX_ERR_STATE;
    CRTSPTransport answer;
    answer.Read(reply.m_Transport);
    if (m_Media != nullptr) m_Media->m_SSRC = answer.m_SSRC;
    m_SourceIP = answer.m_SourceIP;
    m_Datagrams.SetSenders(m_ServerIP, m_SourceIP);
    m_Transport = answer.m_Mode;
    m_PeerRtpPort = static_cast<uint16_t>(answer.m_First);
    m_PeerRtcpPort = static_cast<uint16_t>(answer.m_Second);
    m_State = kStateSetupAnswered;
    return OpenReception(answer.m_Usable, answer.m_Destination);
}

bool CRTPSocket::HasOtherSource() const
{
    return m_SourceIP != 0 && m_SourceIP != m_ServerIP;
}

void CRTPSocket::LogOtherSource() const
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr source;
    source.s_addr = m_SourceIP;
    inet_ntop(AF_INET, &source, text, sizeof(text));
    JXPrintf("RTSP Client(%s): media accepted from %s as well, the source the answer names\n",
             m_Client != nullptr ? m_Client->GetLogUrl() : "", text);
}

void CRTPSocket::LogStream(const char* pWhy) const
{
    JXPrintf("RTSP Client(%s): %s stream: %s.\n", m_Client != nullptr ? m_Client->GetLogUrl() : "",
             m_MediaType == kMediaAudio ? "audio" : "video", pWhy);
}

// A stream that could receive nothing fails its SETUP here, with the reason
// in the log: reported at once instead of by the data time-out.
int32_t CRTPSocket::OpenReception(bool bUsable, const char* pDestination)
{
    if (m_Transport == kTransportInterleaved && !bUsable) {
        m_PeerRtpPort = m_PeerRtcpPort = kNoChannel;
        LogStream("the interleaved channels answered cannot be carried on this connection");
        return JX_ERR_CONTENT;
    }
    if (m_Transport == kTransportUDP) {
        if (!bUsable || m_ServerIP == 0) {
            m_Datagrams.Close();
            LogStream("the UDP ports answered cannot be used");
            return JX_ERR_CONTENT;
        }
        // The server's address as the control connection reached it, so a
        // camera named by host name is connected the same way as a numeric one.
        in_addr server;
        server.s_addr = m_ServerIP;
        inet_ntop(AF_INET, &server, m_Address, sizeof(m_Address));
        // Connected to the server, the socket would never see datagrams of
        // another source the answer names: then it stays unconnected, and
        // the datagram sockets check each sender.
        if (HasOtherSource()) {
            LogOtherSource();
        } else if (m_Datagrams.Connect(false, m_Address, m_PeerRtpPort) != JX_OK) {
            LogStream("the RTP socket could not be connected to the server's port");
            return JX_ERR_FAIL;
        }
        if (m_Datagrams.Connect(true, m_Address, m_PeerRtcpPort) != JX_OK) {
            LogStream("the RTCP socket could not be connected; RTP is received without reports");
        }
    } else if (m_Transport == kTransportMulticast) {
        // The whole value must read as a group: one cut to the room is refused.
        CopyAddress(m_Address, pDestination);
        if (!bUsable || !CRTPDatagramSockets::IsMulticastGroup(pDestination)) {
            LogStream("the answer names no multicast group that can be joined");
            return JX_ERR_CONTENT;
        }
        if (m_Datagrams.OpenMulticast(m_Address, m_PeerRtpPort, m_PeerRtcpPort) != JX_OK) {
            LogStream("joining the multicast group for RTP failed");
            return JX_ERR_FAIL;
        }
        if (!m_Datagrams.HasRtcp()) {
            LogStream("joining the multicast group for RTCP failed; RTP is received without reports");
        }
    } else {
        return JX_OK;
    }
    const int32_t nReserved = m_Datagrams.Reserve();
    if (nReserved != JX_OK) {
        LogStream("no memory for the datagram buffers");
        return nReserved;
    }
    // What the system granted of the receive buffer asked for: a small one
    // loses packets of large key frames between two passes.
    int32_t nGranted = 0;
    if (m_Datagrams.GrantedRecvBuffer(nGranted) == JX_OK) {
        JXPrintf("RTSP Client(%s): datagram receive buffer %d bytes (asked for %d)\n",
                 m_Client ? m_Client->GetLogUrl() : "", int(nGranted),
                 int(CRTPDatagramSockets::kSocketRecvBufferBytes));
    }
    return JX_OK;
}

uint32_t CRTPSocket::Str2IP(const char* pText)
{
    if (pText == nullptr) return 0;
    uint32_t nValue = 0;
    uint32_t nShift = 0;
    for (const char* p = pText; p != nullptr && nShift < 32; nShift += 8) {
        nValue |= (static_cast<uint32_t>(atoi(p)) & kOctetMask) << nShift;
        p = strchr(p, '.');
        if (p != nullptr) ++p;
    }
    return nValue;
}

int32_t CRTPSocket::Close()
{
    m_State = kStateIdle;
    delete m_Media;
    m_Media = nullptr;
    free(m_ControlUrl);
    m_ControlUrl = nullptr;
    m_Reorder.Reset();   // what it holds belongs to the session that ends
    m_Datagrams.Close();
    return JX_OK;
}

int32_t CRTPSocket::OnUDPPolling(bool bRtp, bool bRtcp)
{
    if (m_Transport != kTransportUDP && m_Transport != kTransportMulticast) return 0;
    if (m_State != kStatePlaying) return 0;
    const int32_t nRead = m_Datagrams.Poll(&CRTPSocket::OnDatagram, this, bRtp, bRtcp);
    if (nRead < 0) return 0;   // no RTP socket: nothing to read or to wait for
    // The worker passes often: a packet held for a missing one leaves within
    // the window's wait even when nothing more arrives.
    m_Reorder.Poll(CJXTime::GetTimeMS());
    return nRead > 0 ? 1 : 0;
}

int32_t CRTPSocket::OnDatagram(void* pUser, const uint8_t* pData, uint32_t nLen, bool bRtcp)
{
    CRTPSocket& self = *static_cast<CRTPSocket*>(pUser);
    if (bRtcp) return self.OnRecvRTCP(pData, nLen);
    if (!self.m_ReorderSet) {
        // Once: without its storage the window hands every packet on as it comes.
        self.m_ReorderSet = true;
        self.m_Reorder.Init(&CRTPSocket::ReleaseOrdered, pUser);
    }
    // A duplicate or a packet too late is counted by the window (m_Dropped);
    // the next datagram is read all the same.
    self.m_Reorder.Push(pData, nLen, CJXTime::GetTimeMS());
    return JX_OK;
}

void CRTPSocket::ReleaseOrdered(void* pUser, const uint8_t* pData, uint32_t nLen)
{
    static_cast<CRTPSocket*>(pUser)->OnRecvRTP(pData, nLen);
}

int32_t CRTPSocket::OnPlay(CRTSPCommand& /*reply*/)
{
    m_State = kStatePlaying;
    return JX_OK;
}

int32_t CRTPSocket::GetHead(CJXMediaDesc* pDesc)
{
    if (pDesc == nullptr) return JX_ERR_ARG;
    if (m_Media == nullptr) return JX_ERR_STATE;
    return m_Media->GetHead(pDesc);
}

int32_t CRTPSocket::OnRecvRTP(const unsigned char* pData, unsigned int nLength)
{
    CRTPParser rtp;
    int32_t nResult = rtp.Setup(pData, nLength);
    if (nResult != JX_OK) return nResult;
    ++m_RecvRTP;
    // Another payload type on this stream's channel or port (a server that
    // gives audio and video one channel) never joins this stream's frames.
    if (rtp.m_PayloadType != m_PayloadType) {
        ++m_DroppedForeign;
        return nResult;
    }
    if (m_Media == nullptr) return nResult;
    m_Media->Receive(rtp);   // the depacketizer's result is its own business
    CountPacket(rtp);
    return nResult;
}

void CRTPSocket::CountPacket(const CRTPParser& rtp)
{
    CRTPStreamCounters& counters = *m_Counters;
    if (m_Media->m_FramesDropped != m_DroppedCounted) {
        CRTPStreamCounters::Add(counters.m_FramesDropped, m_Media->m_FramesDropped - m_DroppedCounted);
        m_DroppedCounted = m_Media->m_FramesDropped;
    }
    if (rtp.m_SSRC != m_Media->m_SSRC) return;   // refused by the depacketizer
    if (m_Media->m_SourceSwitches != m_SwitchesCounted) {
        // Another source: its sequence numbers and clock have nothing to do
        // with the last one's, and the loss counted so far stays counted.
        m_SwitchesCounted = m_Media->m_SourceSwitches;
        m_RecvStats.Reset();
        m_LostCounted = 0;
    }
    CRTPStreamCounters::Add(counters.m_PacketsReceived, 1);
    // Arrival on the stream's own clock, for the interarrival jitter.
    const uint32_t nRate = m_Media->m_Clock.GetRate();
    const uint64_t nNowMs = CJXTime::GetTimeMS();
    m_RecvStats.OnPacket(rtp.m_SeqNo, rtp.m_TimeStamp, static_cast<uint32_t>(nNowMs * nRate / 1000));
    const int64_t nLost = m_RecvStats.CumulativeLost();
    if (nLost > m_LostCounted) {
        CRTPStreamCounters::Add(counters.m_PacketsLost, static_cast<uint64_t>(nLost - m_LostCounted));
        m_LostCounted = nLost;
    }
    counters.m_JitterUs.store(static_cast<uint32_t>(uint64_t(m_RecvStats.Jitter()) * 1000000 / nRate),
                              std::memory_order_relaxed);
}

int32_t CRTPSocket::OnRecvRTCP(const unsigned char* pData, unsigned int nLength)
{
    ++m_RecvRTCP;
    CRTCPReader reader;
    const int32_t nResult = reader.Read(pData, nLength);
    if (m_Media == nullptr) return nResult;
    // Before the first RTP packet the source is not known: any sender's
    // report is taken, as the stream has one server and one source.
    const CRTCPSenderReport* pReport = reader.FindSenderReport(m_Media->m_SSRC);
    if (pReport == nullptr) return nResult;
    m_Media->m_Clock.OnSenderReport(pReport->m_RtpTime, pReport->m_NtpTime);
    m_RecvStats.OnSenderReport(pReport->m_NtpTime, CJXTime::GetTimeMS());
    return nResult;
}

int32_t CRTPSocket::WriteReceiverReport(uint8_t* pOut, uint32_t nCap, const char* pCName, uint64_t nNowMs)
{
    if (m_Media == nullptr || m_State != kStatePlaying) return JX_ERR_STATE;
    if (m_Media->m_SSRC == 0 && m_Counters->m_PacketsReceived.load(std::memory_order_relaxed) == 0) {
        return JX_ERR_STATE;   // nothing received: no source to report on
    }
    return m_RecvStats.WriteReport(pOut, nCap, m_OwnSSRC, m_Media->m_SSRC, pCName, nNowMs);
}

int32_t CRTPSocket::SendReceiverReport(const char* pCName, uint64_t nNowMs)
{
    if (m_Transport != kTransportUDP && m_Transport != kTransportMulticast) return JX_ERR_STATE;
    if (!m_Datagrams.HasRtcp()) return JX_ERR_STATE;
    uint8_t aReport[kMaxReportBytes];
    const int32_t nBytes = WriteReceiverReport(aReport, sizeof(aReport), pCName, nNowMs);
    if (nBytes <= 0) return nBytes < 0 ? nBytes : JX_ERR_STATE;
    return m_Datagrams.SendRtcp(aReport, nBytes);
}

int32_t CRTPSocket::OnRecvFrame(CPacket* pFrame)
{
    if (pFrame == nullptr) return JX_ERR_ARG;
    if (m_Client == nullptr) return JX_ERR_STATE;
    CRTPStreamCounters::Add(m_Counters->m_FramesDelivered, 1);
    return m_Client->OnData(pFrame);
}

// ---------------------------------------------------------------------------
// CRTPStreamCounters

void CRTPStreamCounters::Clear()
{
    m_PacketsReceived.store(0, std::memory_order_relaxed);
    m_PacketsLost.store(0, std::memory_order_relaxed);
    m_FramesDelivered.store(0, std::memory_order_relaxed);
    m_FramesDropped.store(0, std::memory_order_relaxed);
    m_JitterUs.store(0, std::memory_order_relaxed);
}

void CRTPStreamCounters::CopyTo(CJXStreamMediaStats& out) const
{
    out.m_PacketsReceived = m_PacketsReceived.load(std::memory_order_relaxed);
    out.m_PacketsLost = m_PacketsLost.load(std::memory_order_relaxed);
    out.m_FramesDelivered = m_FramesDelivered.load(std::memory_order_relaxed);
    out.m_FramesDropped = m_FramesDropped.load(std::memory_order_relaxed);
    out.m_JitterMs = m_JitterUs.load(std::memory_order_relaxed) / 1000.0;
}

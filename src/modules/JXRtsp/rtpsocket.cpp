// Media stream: the receive path into the depacketizer and the route of
// finished frames out to the client.
#include "rtpsocket.h"

#include "rtpmedia.h"
#include "rtpparser.h"
#include "rtspclient.h"
#include "sdpparser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CRTPSocket::CRTPSocket() : m_RtpBuffer(nullptr, 5), m_RtcpBuffer(nullptr, 5) {}

CRTPSocket::~CRTPSocket()
{
    delete m_Media;
    m_Media = nullptr;
    free(m_ControlUrl);
    m_ControlUrl = nullptr;
}

// ---------------------------------------------------------------------------
// Session side: the SDP media section, SETUP and PLAY.

namespace {

const char kControlKey[] = "a=control:";
const char kJXFrameKey[] = "a=JXFrame:";
constexpr size_t kMaxTransportToken = 256;
constexpr size_t kAddressChars = 15;

struct CEncoding {
    const char* m_Pattern;
    uint8_t m_Codec;
};
const CEncoding kEncodings[] = {
    {"H264/%u", JX_CODEC_H264}, {"H265/%u", JX_CODEC_H265}, {"PCMU/%u", JX_CODEC_PCMU},
    {"PCMA/%u", JX_CODEC_PCMA}, {"JPEG/%u", JX_CODEC_JPEG},
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
        if (pHead != nullptr) m_Client->OnHead(pHead);
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

// The base of relative control URLs: the session-level control, or the
// stream URL when that is absent or "*".
const char* CRTPSocket::ControlBase() const
{
    if (m_Client == nullptr) return nullptr;
    const char* pSession = m_Client->m_Control;
    return (!CJXString::IsEmpty(pSession) && strcmp(pSession, "*") != 0) ? pSession : m_Client->GetRequestUrl();
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
        if (sscanf(pText, encoding.m_Pattern, &nRate) == 1) {
            // The depacketizer for the encoding is made here as the payload
            // formats are built; until then the encoding and clock are kept.
            m_Encoding = encoding.m_Codec;
            m_ClockRate = nRate;
            break;
        }
    }
    if (m_Media != nullptr) m_Media->m_PayloadType = m_PayloadType;
    return 1;
}

int CRTPSocket::ParseFMTP(const char* pLine)
{
    unsigned int nType = 0;
    if (sscanf(pLine, "a=fmtp:%u", &nType) != 1) return 0;
    if (nType != m_PayloadType) return 1;
    const char* pText = TextAfterSpace(pLine);
    if (pText != nullptr && m_Media != nullptr) m_Media->Setup(pText);
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
        return JX_ERR_UNSUPPORTED;   // unicast UDP needs the datagram port pair
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

int32_t CRTPSocket::Play(CJXString& /*request*/)
{
    return JX_OK;
}

int32_t CRTPSocket::OnSetup(CRTSPCommand& reply)
{
    if (!HasMedia()) return JX_ERR_STATE;
    uint32_t nMode = kTransportNone;
    unsigned short nFirst = 0;
    unsigned short nSecond = 1;
    unsigned int nSSRC = 0;
    char destination[64] = {};
    const char* pValue = reply.m_Transport ? CJXString::TrimL(reply.m_Transport) : nullptr;
    while (pValue != nullptr) {
        // One token, up to ';' or the end, in a bounded copy.
        const char* pEnd = strchr(pValue, ';');
        const size_t nToken = pEnd ? size_t(pEnd - pValue) : strlen(pValue);
        char token[kMaxTransportToken];
        const size_t nCopy = nToken < sizeof(token) - 1 ? nToken : sizeof(token) - 1;
        memcpy(token, pValue, nCopy);
        token[nCopy] = '\0';
        pValue = pEnd ? pEnd + 1 : nullptr;

        // The last transport token wins; a pattern that reads only part of
        // its values keeps what it read.
        if (CJXString::EqualNoCase(token, int32_t(strlen(token)), "RTP/AVP")) {
            nMode = kTransportUDP;
        } else if (CJXString::EqualNoCase(token, int32_t(strlen(token)), "RTP/AVP/TCP")) {
            nMode = kTransportInterleaved;
        } else if (CJXString::EqualNoCase(token, int32_t(strlen(token)), "multicast")) {
            nMode = kTransportMulticast;
        } else if (sscanf(token, "interleaved=%hu-%hu", &nFirst, &nSecond) == 2) {
        } else if (sscanf(token, "server_port=%hu-%hu", &nFirst, &nSecond) == 2) {
        } else if (sscanf(token, "server_port=%hu", &nFirst) == 1) {
            nSecond = static_cast<unsigned short>(nFirst + 1);
        } else if (sscanf(token, "port=%hu-%hu", &nFirst, &nSecond) == 2) {
        } else if (sscanf(token, "destination=%63s", destination) == 1) {
        } else if (sscanf(token, "ssrc=%x", &nSSRC) == 1) {
        }
    }
    if (m_Media != nullptr) m_Media->m_SSRC = nSSRC;
    m_Transport = nMode;
    m_PeerRtpPort = nFirst;
    m_PeerRtcpPort = nSecond;
    m_State = kStateSetupAnswered;
    // The datagram sockets of modes 1 and 4 are opened here once UDP
    // reception is built; the addresses are kept for them.
    if (nMode == kTransportUDP) CopyAddress(m_Address, m_Client ? m_Client->GetUrl().m_Host : nullptr);
    if (nMode == kTransportMulticast) CopyAddress(m_Address, destination);
    return JX_OK;
}

int32_t CRTPSocket::OnUDPPolling()
{
    return 0;   // no datagram socket is opened yet
}

int32_t CRTPSocket::OnPlay(CRTSPCommand& /*reply*/)
{
    m_State = kStatePlaying;
    return JX_OK;
}

int32_t CRTPSocket::GetHead(CJXMediaDesc* pDesc)
{
    if (pDesc == nullptr) {
        return JX_ERR_ARG;
    }
    if (m_Media == nullptr) {
        return JX_ERR_STATE;
    }
    return m_Media->GetHead(pDesc);
}

int CRTPSocket::OnRecvRTP(const unsigned char* pData, unsigned int nLength)
{
    CRTPParser rtp;
    int32_t nResult = rtp.Setup(pData, nLength);
    if (nResult == JX_OK) ++m_RecvRTP;
    if (nResult == JX_OK && m_Media != nullptr) {
        m_Media->OnRecvRTP(rtp);   // the depacketizer's result is its own business
    }
    return nResult;
}

int CRTPSocket::OnRecvRTCP(const unsigned char* /*pData*/, unsigned int /*nLength*/)
{
    ++m_RecvRTCP;
    return JX_OK;
}

int CRTPSocket::OnRecvFrame(CPacket* pFrame)
{
    if (pFrame == nullptr) {
        return JX_ERR_ARG;
    }
    if (m_Client == nullptr) {
        return JX_ERR_STATE;
    }
    return m_Client->OnData(pFrame);
}

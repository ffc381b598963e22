// Datagram sockets of a media stream: the unicast port pair, the multicast
// group, reading datagrams from the expected senders, and RTCP sent back.
#include "rtpdatagram.h"

#include <cstring>

namespace {

constexpr uint32_t kMaxPort = 65535;
constexpr uint32_t kFirstMulticastOctet = 224;
constexpr uint32_t kLastMulticastOctet = 239;

sockaddr_in MakeAddress(uint32_t nAddress, uint16_t nPort)
{
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = nAddress == INADDR_ANY ? htonl(INADDR_ANY) : nAddress;
    addr.sin_port = htons(nPort);
    return addr;
}

// Joins or leaves a group on the interface of pLocal.
int32_t ChangeMembership(JXSOCKET s, const sockaddr_in* pLocal, const sockaddr_in* pGroup, bool bJoin)
{
    if (s == JX_INVALID_SOCKET || pLocal == nullptr || pGroup == nullptr) return JX_ERR_ARG;
    ip_mreq request;
    memset(&request, 0, sizeof(request));
    request.imr_multiaddr = pGroup->sin_addr;
    request.imr_interface = pLocal->sin_addr;
    const int32_t nName = bJoin ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
    return JXSocketSetOpt(s, IPPROTO_IP, nName, &request, sizeof(request)) == JX_OK ? JX_OK : JX_ERR_FAIL;
}

}   // namespace

CRTPDatagramSockets::CRTPDatagramSockets() : m_RtpBuffer(nullptr, 5), m_RtcpBuffer(nullptr, 5) {}

CRTPDatagramSockets::~CRTPDatagramSockets()
{
    Close();
}

int32_t CRTPDatagramSockets::OpenPortPair(uint16_t& nRtpPort, uint16_t& nRtcpPort)
{
    uint16_t nPort = 0;   // 0: the system picks a free port
    for (int32_t nAttempt = 0; nAttempt < kPortPairAttempts; ++nAttempt) {
        Close();
        sockaddr_in rtp = MakeAddress(INADDR_ANY, nPort);
        m_RtpSocket = UDPOpen(&rtp);
        if (m_RtpSocket == JX_INVALID_SOCKET) continue;
        const uint32_t nBound = ntohs(rtp.sin_port);
        if (nBound % 2 != 0 || nBound == kMaxPort) {
            nPort = static_cast<uint16_t>(nBound == kMaxPort ? 0 : nBound + 1);
            continue;
        }
        sockaddr_in rtcp = MakeAddress(INADDR_ANY, static_cast<uint16_t>(nBound + 1));
        m_RtcpSocket = UDPOpen(&rtcp);
        if (m_RtcpSocket != JX_INVALID_SOCKET) {
            nRtpPort = static_cast<uint16_t>(nBound);
            nRtcpPort = ntohs(rtcp.sin_port);
            return JX_OK;
        }
        nPort = static_cast<uint16_t>(nBound + 2 > kMaxPort ? 0 : nBound + 2);
    }
    Close();
    return JX_ERR_FAIL;
}

int32_t CRTPDatagramSockets::Connect(bool bRtcp, const char* pHost, uint16_t nPort)
{
    const JXSOCKET s = bRtcp ? m_RtcpSocket : m_RtpSocket;
    if (s == JX_INVALID_SOCKET) return JX_ERR_STATE;   // as Poll and SendRtcp without their socket
    return UDPConnect(s, pHost, nPort);
}

int32_t CRTPDatagramSockets::OpenMulticast(const char* pGroup, uint16_t nRtpPort, uint16_t nRtcpPort)
{
    Close();
    if (pGroup == nullptr) return JX_ERR_ARG;
    m_Group = inet_addr(pGroup);
    m_GroupRtpPort = nRtpPort;
    m_GroupRtcpPort = nRtcpPort;
    m_RtpSocket = MulticastOpen("0.0.0.0", nRtpPort, pGroup, nRtpPort);
    if (m_RtpSocket == JX_INVALID_SOCKET) return JX_ERR_FAIL;
    m_RtcpSocket = MulticastOpen("0.0.0.0", nRtcpPort, pGroup, nRtcpPort);
    return JX_OK;
}

int32_t CRTPDatagramSockets::Reserve()
{
    const int32_t nRtp = m_RtpBuffer.Init(kDatagramBufferBytes);
    const int32_t nRtcp = m_RtcpBuffer.Init(kDatagramBufferBytes);
    return nRtp != JX_OK ? nRtp : nRtcp;
}

void CRTPDatagramSockets::SetSenders(uint32_t nServerIP, uint32_t nSourceIP)
{
    m_ServerIP = nServerIP;
    m_SourceIP = nSourceIP;
}

void CRTPDatagramSockets::CloseSocket(JXSOCKET& s, uint16_t nPort)
{
    if (s == JX_INVALID_SOCKET) return;
    if (m_Group != 0) {
        sockaddr_in local = MakeAddress(INADDR_ANY, nPort);
        sockaddr_in group = MakeAddress(m_Group, nPort);
        // A membership the system lost already needs no leaving: the socket goes either way.
        MulticastDropGroup(s, &local, &group);
    }
    JXSocketClose(s);
    s = JX_INVALID_SOCKET;
}

void CRTPDatagramSockets::Close()
{
    CloseSocket(m_RtpSocket, m_GroupRtpPort);
    CloseSocket(m_RtcpSocket, m_GroupRtcpPort);
    m_Group = 0;
    m_GroupRtpPort = m_GroupRtcpPort = 0;
}

int32_t CRTPDatagramSockets::GrantedRecvBuffer(int32_t& nBytes) const
{
    if (m_RtpSocket == JX_INVALID_SOCKET) return JX_ERR_STATE;
    return JXSocketGetOptInt(m_RtpSocket, SOL_SOCKET, SO_RCVBUF, &nBytes) == JX_OK ? JX_OK : JX_ERR_FAIL;
}

int32_t CRTPDatagramSockets::Poll(FReceive pReceive, void* pUser, bool bRtp, bool bRtcp)
{
    // RTP is read even where the RTCP socket could not be had.
    if (m_RtpSocket == JX_INVALID_SOCKET) return JX_ERR_STATE;
    const int32_t nRtp = bRtp ? Drain(m_RtpSocket, m_RtpBuffer, false, pReceive, pUser) : 0;
    if (!bRtcp || m_RtcpSocket == m_RtpSocket || m_RtcpSocket == JX_INVALID_SOCKET) return nRtp;
    return nRtp + Drain(m_RtcpSocket, m_RtcpBuffer, true, pReceive, pUser);
}

int32_t CRTPDatagramSockets::Drain(JXSOCKET s, CJXString& buffer, bool bRtcp, FReceive pReceive, void* pUser)
{
    // The sockets never block: each read takes what is there. A batch that
    // comes back short has emptied the socket, so no read is spent on
    // finding nothing; a receiver's failure ends the reading too.
    int32_t nRead = 0;
    while (nRead < kMaxDatagramsPerPoll) {
        int32_t nFailed = JX_OK;
        const int32_t nGot = RecvBatch(s, buffer, bRtcp, pReceive, pUser, nFailed);
        if (nGot <= 0) break;
        nRead += nGot;
        if (nGot < kBatch || nFailed < 0) break;
    }
    return nRead;
}

int32_t CRTPDatagramSockets::RecvBatch(JXSOCKET s, CJXString& buffer, bool bRtcp, FReceive pReceive, void* pUser,
                                       int32_t& nFailed)
{
    if (s == JX_INVALID_SOCKET || pReceive == nullptr) return JX_ERR_ARG;
    if (buffer.m_Data == nullptr || buffer.m_Size < kBatch * kSlotBytes) return JX_ERR_STATE;
    int32_t lens[kBatch];
    sockaddr_in from[kBatch];
    const int32_t nCount = JXSocketRecvBatch(s, buffer.m_Data, kSlotBytes, kBatch, lens, from);
    if (nCount <= 0) return nCount;
    for (int32_t i = 0; i < nCount; ++i) {
        const uint32_t nSender = from[i].sin_addr.s_addr;
        if (from[i].sin_family != AF_INET || (nSender != m_ServerIP && (m_SourceIP == 0 || nSender != m_SourceIP))) {
            ++m_DroppedSender;
            continue;
        }
        const uint8_t* pData = reinterpret_cast<const uint8_t*>(buffer.m_Data) + size_t(i) * size_t(kSlotBytes);
        const int32_t nRet = pReceive(pUser, pData, uint32_t(lens[i]), bRtcp);
        if (nRet < 0) nFailed = nRet;
    }
    return nCount;
}

int32_t CRTPDatagramSockets::SendRtcp(const uint8_t* pData, int32_t nLen)
{
    if (m_RtcpSocket == JX_INVALID_SOCKET) return JX_ERR_STATE;
    if (m_Group == 0) {
        // Connected to the server's RTCP port at SETUP.
        return JXSocketSend(m_RtcpSocket, pData, nLen) == nLen ? JX_OK : JX_ERR_FAIL;
    }
    const sockaddr_in group = MakeAddress(m_Group, m_GroupRtcpPort);
    const int32_t nSent =
        JXSocketSendTo(m_RtcpSocket, pData, nLen, reinterpret_cast<const sockaddr*>(&group), sizeof(group));
    return nSent == nLen ? JX_OK : JX_ERR_FAIL;
}

JXSOCKET CRTPDatagramSockets::UDPOpen(sockaddr_in* pAddr)
{
    if (pAddr == nullptr) return JX_INVALID_SOCKET;
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
    if (s == JX_INVALID_SOCKET) return s;
    // A larger receive buffer is asked for; a system that refuses keeps its own.
    // No SO_REUSEADDR: with it, two streams of one process could bind the
    // same unicast port and each receive part of the other's packets.
    JXSocketSetOptInt(s, SOL_SOCKET, SO_RCVBUF, kSocketRecvBufferBytes);
    int32_t nLen = sizeof(*pAddr);
    sockaddr* pGeneric = reinterpret_cast<sockaddr*>(pAddr);
    if (JXSocketSetBlocking(s, 0) != JX_OK ||
        JXSocketBind(s, pGeneric, nLen) != JX_OK || JXSocketGetName(s, pGeneric, &nLen) != JX_OK) {
        JXSocketClose(s);
        return JX_INVALID_SOCKET;
    }
    return s;
}

int32_t CRTPDatagramSockets::UDPConnect(JXSOCKET s, const char* pHost, uint16_t nPort)
{
    if (s == JX_INVALID_SOCKET || pHost == nullptr) return JX_ERR_ARG;
    sockaddr_in addr = MakeAddress(inet_addr(pHost), nPort);
    if (JXSocketConnect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != JX_OK) return JX_ERR_FAIL;
    JXPrintf("UDP connect [%s: %d] success!\n", pHost, int(nPort));
    return JX_OK;
}

int32_t CRTPDatagramSockets::MulticastAddGroup(JXSOCKET s, sockaddr_in* pLocal, sockaddr_in* pGroup)
{
    if (s == JX_INVALID_SOCKET || pLocal == nullptr || pGroup == nullptr) return JX_ERR_ARG;
    if (JXSocketSetOpt(s, IPPROTO_IP, IP_MULTICAST_IF, &pLocal->sin_addr, sizeof(pLocal->sin_addr)) != JX_OK) {
        return JX_ERR_FAIL;
    }
    if (ChangeMembership(s, pLocal, pGroup, true) != JX_OK) return JX_ERR_FAIL;
    JXPrintf("Add multicast membership success!\n");
    return JX_OK;
}

int32_t CRTPDatagramSockets::MulticastDropGroup(JXSOCKET s, sockaddr_in* pLocal, sockaddr_in* pGroup)
{
    const int32_t nRet = ChangeMembership(s, pLocal, pGroup, false);
    if (nRet == JX_OK) JXPrintf("Drop multicast membership success!\n");
    return nRet;
}

bool CRTPDatagramSockets::IsMulticastGroup(const char* pText)
{
    in_addr addr;
    if (pText == nullptr || inet_pton(AF_INET, pText, &addr) != 1) return false;
    const uint32_t nFirst = ntohl(addr.s_addr) >> 24;
    return nFirst >= kFirstMulticastOctet && nFirst <= kLastMulticastOctet;
}

JXSOCKET CRTPDatagramSockets::MulticastOpen(const char* pLocal, uint16_t nLocalPort, const char* pGroup, uint16_t nPort)
{
    JXPrintf("TTTTTTTTTTTTTTTTTT local: %s: %d\n", pLocal ? pLocal : "", int(nLocalPort));
    JXPrintf("TTTTTTTTTTTTTTTTTT remote: %s: %d\n", pGroup ? pGroup : "", int(nPort));
    if (pLocal == nullptr || pGroup == nullptr) return JX_INVALID_SOCKET;
    // Read as a number only: a lookup by name could hold up the worker.
    sockaddr_in group = MakeAddress(INADDR_ANY, nPort);
    JXSOCKET s = JX_INVALID_SOCKET;
    if (inet_pton(AF_INET, pGroup, &group.sin_addr) != 1 ||
        (s = JXSocketCreate(AF_INET, SOCK_DGRAM, 0)) == JX_INVALID_SOCKET) {
        JXPrintf("MulticastOpen error for %s, %d\n", pGroup, int(nPort));
        return JX_INVALID_SOCKET;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &group.sin_addr, text, sizeof(text));
    JXPrintf("AAAAAAAAAAAAAA addr: %s, port: %d\n", text, int(nPort));
    // Options the system refuses leave its defaults: the socket still works.
    JXSocketSetOptInt(s, SOL_SOCKET, SO_REUSEADDR, 1);
    JXSocketSetOptInt(s, SOL_SOCKET, SO_RCVBUF, kSocketRecvBufferBytes);
    // Non-blocking, like the unicast pair: the worker only ever reads what is there.
    sockaddr_in any = MakeAddress(INADDR_ANY, nPort);
    if (JXSocketSetBlocking(s, 0) != JX_OK || JXSocketBind(s, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != JX_OK ||
        ChangeMembership(s, &any, &group, true) != JX_OK) {
        // Most often another program holds the port without sharing it; the
        // stream then gets no data, so say why once here.
        JXPrintf("MulticastOpen cannot bind port %d or join %s (the port may be taken by another program)\n",
                 int(nPort), text);
        JXSocketClose(s);
        return JX_INVALID_SOCKET;
    }
    JXPrintf("OOOOOOOOOOOOOOOOOOOOOOOO Multicast connect success!\n");
    return s;
}

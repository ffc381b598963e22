// The datagram sockets of one media stream: the RTP/RTCP pair of unicast UDP
// or of a multicast group, the buffers datagrams are read into, the check of
// each datagram's sender, and the receiver reports sent back on them.
#pragma once

#include "JXRtspDefs.h"
#include "JXStream.h"

class JXRTSP_API CRTPDatagramSockets {
public:
    // The buffers every datagram is read into, the socket receive buffers
    // asked for (bursts between two passes are not lost), the attempts at a
    // local port pair, and the datagrams read per socket and pass.
    static constexpr int32_t kDatagramBufferBytes = 262144;
    static constexpr int32_t kSocketRecvBufferBytes = 2 << 20;   // a 4K key frame's burst
    static constexpr int32_t kPortPairAttempts = 5;
    static constexpr int32_t kMaxDatagramsPerPoll = 64;
    // One read takes up to kBatch datagrams, each into its own slot of the
    // buffer; a slot holds the largest datagram, so none is ever cut.
    static constexpr int32_t kBatch = 4;
    static constexpr int32_t kSlotBytes = kDatagramBufferBytes / kBatch;

    // Where an accepted datagram goes; the bytes are valid for the call. Its
    // result ends the pass on that socket when negative.
    using FReceive = int32_t (*)(void* pUser, const uint8_t* pData, uint32_t nLen, bool bRtcp);

    CRTPDatagramSockets();
    ~CRTPDatagramSockets();
    CRTPDatagramSockets(const CRTPDatagramSockets&) = delete;
    CRTPDatagramSockets& operator=(const CRTPDatagramSockets&) = delete;

    // Binds the local pair of unicast UDP: RTP on an even port, RTCP on the
    // next, written to nRtpPort and nRtcpPort. JX_OK, or JX_ERR_FAIL after
    // kPortPairAttempts attempts (no socket is left open).
    int32_t OpenPortPair(uint16_t& nRtpPort, uint16_t& nRtcpPort);
    // Connects the RTP (bRtcp false) or the RTCP socket of the pair to a
    // dotted IPv4 host. JX_OK, JX_ERR_STATE without that socket, JX_ERR_ARG
    // without a host, JX_ERR_FAIL.
    int32_t Connect(bool bRtcp, const char* pHost, uint16_t nPort);
    // Opens the pair joined to a dotted IPv4 group, on its RTP and RTCP ports.
    // JX_OK (the RTCP socket may be missing: HasRtcp), or JX_ERR_FAIL when the
    // RTP socket could not be had.
    int32_t OpenMulticast(const char* pGroup, uint16_t nRtpPort, uint16_t nRtcpPort);
    // Reserves the receive buffers (once a transport is known). JX_OK or JX_ERR_NOMEM.
    int32_t Reserve();
    // Only datagrams from these senders (first octet in the lowest byte)
    // are taken; nSource 0 for none besides the server.
    void SetSenders(uint32_t nServerIP, uint32_t nSourceIP);
    // Closes both sockets, leaving the group first. The buffers are kept.
    void Close();

    bool HasRtp() const { return m_RtpSocket != JX_INVALID_SOCKET; }
    bool HasRtcp() const { return m_RtcpSocket != JX_INVALID_SOCKET; }
    // The receive buffer the system granted the RTP socket, in bytes;
    // JX_ERR_STATE without one, JX_ERR_FAIL when the system does not say.
    int32_t GrantedRecvBuffer(int32_t& nBytes) const;

    // Reads what the sockets hold (of those bRtp and bRtcp name), without
    // waiting (at most kMaxDatagramsPerPoll per socket, kBatch per read),
    // handing each accepted datagram to pReceive. The datagrams read, or
    // JX_ERR_STATE without an RTP socket.
    int32_t Poll(FReceive pReceive, void* pUser, bool bRtp = true, bool bRtcp = true);
    // One batch read from s into buffer's slots: the datagrams read (each
    // accepted one handed to pReceive; a negative result of the receiver is
    // kept in nFailed), the read's result when it is 0 or less, JX_ERR_ARG
    // for no socket, JX_ERR_STATE without a buffer.
    int32_t RecvBatch(JXSOCKET s, CJXString& buffer, bool bRtcp, FReceive pReceive, void* pUser, int32_t& nFailed);
    // One RTCP packet to the server's RTCP port (unicast, connected) or to the
    // group's (multicast). JX_OK, JX_ERR_STATE without an RTCP socket,
    // JX_ERR_FAIL when it did not go out whole.
    int32_t SendRtcp(const uint8_t* pData, int32_t nLen);

    // A non-blocking UDP socket bound to *pAddr, the port bound written back;
    // JX_INVALID_SOCKET on failure or for a null address.
    static JXSOCKET UDPOpen(sockaddr_in* pAddr);
    // Connects a datagram socket to a dotted IPv4 host. JX_OK, JX_ERR_ARG, JX_ERR_FAIL.
    static int32_t UDPConnect(JXSOCKET s, const char* pHost, uint16_t nPort);
    // A non-blocking UDP socket bound to nPort and joined to the dotted IPv4
    // group on any interface; JX_INVALID_SOCKET on failure. The local address
    // and port are only logged. A group is never looked up by name.
    static JXSOCKET MulticastOpen(const char* pLocal, uint16_t nLocalPort, const char* pGroup, uint16_t nPort);
    // Joins (with the outgoing interface set) or leaves a group on the
    // interface of pLocal. JX_OK, JX_ERR_ARG, JX_ERR_FAIL.
    static int32_t MulticastAddGroup(JXSOCKET s, sockaddr_in* pLocal, sockaddr_in* pGroup);
    static int32_t MulticastDropGroup(JXSOCKET s, sockaddr_in* pLocal, sockaddr_in* pGroup);
    // A dotted IPv4 address from 224.0.0.0 to 239.255.255.255 (null: false).
    static bool IsMulticastGroup(const char* pText);

    JXSOCKET m_RtpSocket = JX_INVALID_SOCKET;
    JXSOCKET m_RtcpSocket = JX_INVALID_SOCKET;
    CJXString m_RtpBuffer;
    CJXString m_RtcpBuffer;
    uint32_t m_DroppedSender = 0;   // datagrams from another host than the senders, dropped

private:
    // Batch reads from s until it is empty, a receiver fails, or
    // kMaxDatagramsPerPoll were read. The datagrams read.
    int32_t Drain(JXSOCKET s, CJXString& buffer, bool bRtcp, FReceive pReceive, void* pUser);
    // Closes a socket and sets it to none; a multicast socket leaves the group
    // on nPort first.
    void CloseSocket(JXSOCKET& s, uint16_t nPort);

    uint32_t m_ServerIP = 0;   // first octet in the lowest byte
    uint32_t m_SourceIP = 0;   // the sender the SETUP answer named, 0 for none
    // The group the pair joined (network order) and its ports; 0 for unicast.
    uint32_t m_Group = 0;
    uint16_t m_GroupRtpPort = 0;
    uint16_t m_GroupRtcpPort = 0;
};

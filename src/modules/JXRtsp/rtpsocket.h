// One media stream of a session (one m= section of the SDP description): its
// depacketizer, control URL, transport and datagram sockets (CRTPDatagramSockets),
// and the route by which finished frames leave it for the client.
#pragma once

#include "JXRtspDefs.h"
#include "JXStream.h"
#include "rtcp.h"
#include "rtpdatagram.h"
#include "rtpreorder.h"
#include "rtsptransport.h"

#include <atomic>

class CRTSPClient;
class CRTPParser;
class CRTPSessionClock;
class CRTSPCommand;
class CRTPMedia;
class CSDPParser;

// Reception counts of one media stream. The worker alone writes them; the
// host's thread reads them at any time.
struct CRTPStreamCounters {
    std::atomic<uint64_t> m_PacketsReceived{0};
    std::atomic<uint64_t> m_PacketsLost{0};
    std::atomic<uint64_t> m_FramesDelivered{0};
    std::atomic<uint64_t> m_FramesDropped{0};
    std::atomic<uint32_t> m_JitterUs{0};

    // One writer: a load and a store, without a locked add on the receive path.
    static void Add(std::atomic<uint64_t>& n, uint64_t nMore)
    {
        n.store(n.load(std::memory_order_relaxed) + nMore, std::memory_order_relaxed);
    }
    void Clear();
    void CopyTo(CJXStreamMediaStats& out) const;
};

class JXRTSP_API CRTPSocket : public CJXObject {
public:
    // Media types.
    static constexpr uint32_t kMediaVideo = 1;
    static constexpr uint32_t kMediaAudio = 2;
    // States of the stream's SETUP and PLAY.
    static constexpr uint32_t kStateIdle = 0;
    static constexpr uint32_t kStateSetupSent = 3;
    static constexpr uint32_t kStateSetupAnswered = 4;
    static constexpr uint32_t kStatePlaying = 6;
    // Transport modes.
    static constexpr int32_t kTransportNone = CRTSPTransport::kModeNone;
    static constexpr int32_t kTransportUDP = CRTSPTransport::kModeUDP;
    static constexpr int32_t kTransportInterleaved = CRTSPTransport::kModeInterleaved;
    static constexpr int32_t kTransportMulticast = CRTSPTransport::kModeMulticast;
    // Room for one receiver report with its SDES CNAME.
    static constexpr uint32_t kMaxReportBytes = 128;

    CRTPSocket();
    ~CRTPSocket() override;
    CRTPSocket(const CRTPSocket&) = delete;
    CRTPSocket& operator=(const CRTPSocket&) = delete;

    // Reads the media section at the parser's current line.
    int32_t Open(CRTSPClient* pClient, CSDPParser& parser);
    // This stream's part of the media description, from its depacketizer.
    // JX_ERR_ARG without a description, JX_ERR_STATE without a depacketizer.
    int32_t GetHead(CJXMediaDesc* pDesc);
    // Transport line of the SETUP request; the SETUP reply; the PLAY reply.
    int32_t Setup(CJXString& request, int nMode);
    int32_t OnSetup(CRTSPCommand& reply);
    int32_t OnPlay(CRTSPCommand& reply);
    // The local port pair of unicast UDP (CRTPDatagramSockets::OpenPortPair),
    // kept in m_LocalRtpPort and m_LocalRtcpPort. JX_OK or JX_ERR_FAIL.
    int32_t SetupUDP();
    // Reads what the datagram sockets hold, without waiting (at most
    // CRTPDatagramSockets::kMaxDatagramsPerPoll per socket): 1 when a
    // datagram was read, else 0. Only the server's RTP, or that of the
    // sender its SETUP answer named, reaches the depacketizer.
    // bRtp, bRtcp: whether each socket is read (one reported ready); held
    // packets leave the reorder window after their wait either way.
    int32_t OnUDPPolling(bool bRtp = true, bool bRtcp = true);
    // Releases the depacketizer, the control URL and both sockets, leaving a
    // multicast group first. The state returns to kStateIdle. JX_OK.
    int32_t Close();

    // A dotted IPv4 text as a value with the first octet in the lowest byte
    // (the memory layout of a network-order address).
    static uint32_t Str2IP(const char* pText);
    // Attribute lines of the media section: non-zero when the line was of
    // the kind (whether or not it applied to this stream).
    int ParseControl(const char* pLine);
    int ParseRTPMap(const char* pLine);
    int ParseFMTP(const char* pLine);
    int ParseJXFrame(const char* pLine);
    // Adds nothing to a PLAY request. 0.
    int32_t Play(CJXString& request);
    // The section named an encoding that has a depacketizer.
    bool HasMedia() const { return m_Media != nullptr; }
    // The base of relative control URLs (null without a client).
    const char* ControlBase() const;

    // One received RTP packet (from UDP or interleaved on the RTSP connection):
    // parsed in place and, when the parser accepts it, handed to the
    // depacketizer. The parser's code.
    int32_t OnRecvRTP(const unsigned char* pData, unsigned int nLength);
    // One compound RTCP packet: a sender report of the stream's source maps
    // its RTP clock onto the camera's wall clock. 0, or the reader's code.
    int32_t OnRecvRTCP(const unsigned char* pData, unsigned int nLength);
    // A receiver report about the stream's source, with the session's CNAME,
    // into pOut. The bytes written, or a negative code (no source known yet).
    int32_t WriteReceiverReport(uint8_t* pOut, uint32_t nCap, const char* pCName, uint64_t nNowMs);
    // The same, sent on the stream's datagram socket (unicast UDP, multicast)
    // without waiting. JX_OK, or a negative code; interleaved streams are
    // sent by the client on its connection.
    int32_t SendReceiverReport(const char* pCName, uint64_t nNowMs);
    // The counts go to pCounters (null: the stream's own), the frame times
    // through the session's shared clock (null: the stream's own).
    void SetShared(CRTPStreamCounters* pCounters, CRTPSessionClock* pSession);
    // Every complete frame, from the depacketizer. The frame is valid for the
    // call; a receiver that keeps it takes its own reference.
    // JX_ERR_STATE without a client, else the client's result.
    virtual int32_t OnRecvFrame(CPacket* pFrame);

    CRTSPClient* m_Client = nullptr;   // not owned
    uint32_t m_State = kStateIdle;
    uint32_t m_MediaType = 0;   // kMediaVideo or kMediaAudio
    uint16_t m_LocalRtpPort = 0;
    uint16_t m_PeerRtpPort = 0;   // m= port; after SETUP the server's port or the RTP channel
    uint16_t m_LocalRtcpPort = 1;
    uint16_t m_PeerRtcpPort = 1;   // after SETUP the server's RTCP port or channel
    CRTPDatagramSockets m_Datagrams;   // unicast UDP and multicast
    uint16_t m_PayloadType = 0;     // payload type of the m= line
    char* m_ControlUrl = nullptr;   // heap text, released with free
    uint32_t m_Transport = kTransportNone;
    uint32_t m_ServerIP = 0;   // first octet in the lowest byte
    uint32_t m_SourceIP = 0;   // the sender the SETUP answer named (source=), 0 for none; as m_ServerIP
    char m_Address[16] = {};
    uint8_t m_MarkEnabled = 0;      // set when m_VI or m_PB is not 0
    uint16_t m_VI = 0;              // extension profile word marking a frame of type 9
    uint16_t m_PB = 0;              // extension profile word marking a frame of type 10
    uint16_t m_Codec = 0;           // private codec code of the stream's frames
    CRTPMedia* m_Media = nullptr;   // the depacketizer; owned
    uint8_t m_Encoding = 0;     // JX_CODEC_* named by the stream's a=rtpmap:, 0 when none
    uint32_t m_ClockRate = 0;   // clock rate of that a=rtpmap: line
    uint32_t m_RecvRTP = 0;     // packets the RTP parser accepted
    uint32_t m_RecvRTCP = 0;    // RTCP packets received (and dropped)
    uint32_t m_DroppedForeign = 0;   // RTP packets of another payload type, dropped
    CRTPReceiverStats m_RecvStats;   // of the depacketizer's source, for receiver reports
    // Datagrams (unicast UDP, multicast) pass it on their way to OnRecvRTP;
    // interleaved packets come in order on the connection and do not.
    CRTPReorder m_Reorder;
    uint32_t m_OwnSSRC = 0;          // ours, in the reports we send
    CRTPStreamCounters* m_Counters = &m_OwnCounters;

private:
    // Counts a packet of the stream's source and learns its loss and jitter.
    void CountPacket(const CRTPParser& rtp);
    // The depacketizer's clock rate and shared clock.
    void SetupClock();
    // Where the reorder window hands packets on: OnRecvRTP of pUser.
    static void ReleaseOrdered(void* pUser, const uint8_t* pData, uint32_t nLen);
    // Where the datagram sockets hand what they accepted: RTP into the
    // reorder window, RTCP to OnRecvRTCP (whose code it returns).
    static int32_t OnDatagram(void* pUser, const uint8_t* pData, uint32_t nLen, bool bRtcp);

    CRTPStreamCounters m_OwnCounters;
    CRTPSessionClock* m_SessionClock = nullptr;
    int64_t m_LostCounted = 0;          // the source's loss already added to the counts
    uint64_t m_DroppedCounted = 0;      // the depacketizer's drops already added
    uint32_t m_SwitchesCounted = 0;     // the depacketizer's source switches the statistics followed
    bool m_ReorderSet = false;          // the window's storage reserved (at the first datagram)
    // Opens reception for the transport the SETUP answer named: connects the
    // unicast pair, or opens the multicast pair.
    // JX_OK, or a negative code (logged) when the stream could receive nothing.
    int32_t OpenReception(bool bUsable, const char* pDestination);
    // The SETUP answer named a source other than the server (source=).
    bool HasOtherSource() const;
    void LogOtherSource() const;
    // One log line about this stream's set-up.
    void LogStream(const char* pWhy) const;
};

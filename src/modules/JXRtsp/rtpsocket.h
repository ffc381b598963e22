// One media stream of a session (one m= section of the SDP description): its
// depacketizer, control URL, transport and datagram sockets, and the route by
// which finished frames leave it for the client.
#pragma once

#include "JXRtspDefs.h"

class CRTSPClient;
class CRTSPCommand;
class CRTPMedia;
class CSDPParser;

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
    static constexpr int32_t kTransportNone = 0;
    static constexpr int32_t kTransportUDP = 1;
    static constexpr int32_t kTransportInterleaved = 2;
    static constexpr int32_t kTransportMulticast = 4;

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
    // Polls the datagram sockets once: 1 when one was readable, else 0.
    int32_t OnUDPPolling();
    // Attribute lines of the media section: non-zero when the line was of
    // the kind (whether or not it applied to this stream).
    int ParseControl(const char* pLine);
    int ParseRTPMap(const char* pLine);
    int ParseFMTP(const char* pLine);
    int ParseJXFrame(const char* pLine);
    // Adds nothing to a PLAY request. 0.
    int32_t Play(CJXString& request);
    // A depacketizer exists, or the section named an encoding that has one
    // (the payload formats create theirs as they are built).
    bool HasMedia() const { return m_Media != nullptr || m_Encoding != 0; }
    // The base of relative control URLs (null without a client).
    const char* ControlBase() const;

    // One received RTP packet (from UDP or interleaved on the RTSP connection):
    // parsed in place and, when the parser accepts it, handed to the
    // depacketizer. The parser's code.
    int OnRecvRTP(const unsigned char* pData, unsigned int nLength);
    // RTCP is received and discarded. 0.
    int OnRecvRTCP(const unsigned char* pData, unsigned int nLength);
    // Every complete frame, from the depacketizer. The frame is valid for the
    // call; a receiver that keeps it takes its own reference.
    // JX_ERR_STATE without a client, else the client's result.
    virtual int OnRecvFrame(CPacket* pFrame);

    CRTSPClient* m_Client = nullptr;   // not owned
    uint32_t m_State = kStateIdle;
    uint32_t m_MediaType = 0;   // kMediaVideo or kMediaAudio
    uint16_t m_LocalRtpPort = 0;
    uint16_t m_PeerRtpPort = 0;   // m= port; after SETUP the server's port or the RTP channel
    uint16_t m_LocalRtcpPort = 1;
    uint16_t m_PeerRtcpPort = 1;   // after SETUP the server's RTCP port or channel
    JXSOCKET m_RtpSocket = JX_INVALID_SOCKET;
    JXSOCKET m_RtcpSocket = JX_INVALID_SOCKET;
    CJXString m_RtpBuffer;
    CJXString m_RtcpBuffer;
    uint16_t m_PayloadType = 0;     // payload type of the m= line
    char* m_ControlUrl = nullptr;   // heap text, released with free
    uint32_t m_Transport = kTransportNone;
    uint32_t m_ServerIP = 0;   // first octet in the lowest byte
    char m_Address[16] = {};
    uint8_t m_MarkEnabled = 0;      // set when m_VI or m_PB is not 0
    uint16_t m_VI = 0;              // extension profile word marking a frame of type 9
    uint16_t m_PB = 0;              // extension profile word marking a frame of type 10
    uint16_t m_Codec = 0;           // private codec code of the stream's frames
    CRTPMedia* m_Media = nullptr;   // the depacketizer; owned
    // Session side, kept until every encoding has its depacketizer.
    uint8_t m_Encoding = 0;     // JX_CODEC_* named by the stream's a=rtpmap:, 0 when none
    uint32_t m_ClockRate = 0;   // clock rate of that a=rtpmap: line
    uint32_t m_RecvRTP = 0;     // packets the RTP parser accepted
    uint32_t m_RecvRTCP = 0;    // RTCP packets received (and dropped)
};

// Outgoing RTP packets, one at a time, framed for RTP interleaved on an RTSP
// connection (RFC 2326 10.12): H.264 (RFC 6184) and H.265 (RFC 7798) single
// NAL unit and fragmentation unit packets, and audio packets. The builder only
// formats: the caller chooses sequence numbers, timestamps and fragment sizes.
#pragma once

#include "JXRtspDefs.h"

// Header values of one packet, multi-byte fields in host order.
struct tag_RTPHDR {
    uint8_t nVersion;
    uint8_t nPadding;     // lowest bit used
    uint8_t nExtension;   // lowest bit used; no extension is written
    uint8_t nCSRCCount;   // low 4 bits used; no CSRC list is written
    uint8_t nMarker;      // not read: each build operation sets the marker itself
    uint8_t nPayloadType;
    uint16_t nSeqNo;
    uint32_t nTimeStamp;
    uint32_t nSSRC;
};

class JXRTSP_API CRTPData : public CJXObject {
public:
    // Interleaved channels written in byte 1.
    static constexpr uint8_t kVideoChannel = 0;
    static constexpr uint8_t kAudioChannel = 2;
    // "$", channel, 16-bit length.
    static constexpr uint16_t kFrameBytes = 4;
    static constexpr uint16_t kRTPHeadBytes = 12;
    // Fragment flags of BuildH264RTPFu and BuildH265RTPFu.
    static constexpr int kFlagStart = 4;
    static constexpr int kFlagEnd = 2;

    CRTPData();
    ~CRTPData() override;
    CRTPData(const CRTPData&) = delete;
    CRTPData& operator=(const CRTPData&) = delete;

    // Make the buffer hold at least nSize bytes; it only grows, and its contents
    // are not kept when it is replaced. 0 or JX_ERR_NOMEM.
    int AllocBuffer(unsigned short nSize);

    // Each builder: 0, JX_ERR_ARG (missing header or data, a payload too short,
    // or a packet that would pass 65535 bytes; nothing is built), or JX_ERR_FAIL
    // when no buffer can be had. The packet is m_Packet, m_Length bytes.

    // Single NAL unit: the header byte nNal, then nLen bytes. Marker set.
    int BuildH264RTP(tag_RTPHDR* pHdr, unsigned char nNal, unsigned char const* pData, unsigned short nLen);
    // One FU-A fragment of the NAL unit whose header byte is nNal. Marker set on
    // the end fragment.
    int BuildH264RTPFu(tag_RTPHDR* pHdr, unsigned char nNal, unsigned char const* pData, unsigned short nLen,
                       int nFlags);
    // Single NAL unit, 2-byte NAL header included in the data. Marker set.
    int BuildH265RTP(tag_RTPHDR* pHdr, unsigned char const* pData, unsigned short nLen);
    // One fragmentation unit: the payload header (the two bytes as they lie in
    // memory), the FU header (nFuType with S and E from nFlags), nLen bytes.
    int BuildH265RTPFu(tag_RTPHDR* pHdr, unsigned short nPayloadHdr, unsigned char nFuType, unsigned char const* pData,
                       unsigned short nLen, int nFlags);
    // Audio on channel 2: the first part then the second; a missing or empty
    // part is skipped. Marker set.
    int BuildPCMRTP(tag_RTPHDR* pHdr, unsigned char const* pData1, unsigned short nLen1, unsigned char const* pData2,
                    unsigned short nLen2);

    uint16_t m_Capacity = 0;       // bytes of m_Packet
    uint16_t m_Length = 0;         // bytes of the packet last built
    uint8_t* m_Packet = nullptr;   // malloc'ed, owned

private:
    // Buffer for nTotal bytes and the 16 bytes of framing and RTP header.
    // Returns where the payload goes, or null (nResult says why).
    uint8_t* BeginPacket(const tag_RTPHDR& hdr, uint8_t nChannel, bool bMarker, uint32_t nTotal, int& nResult);
};

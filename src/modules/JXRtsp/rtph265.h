// H.265 depacketizer (RTP payload format of RFC 7798): single NAL units,
// aggregation packets and fragmentation units, with VPS, SPS and PPS in-band
// or from the fmtp line. Built on what it shares with H.264 (CRTPNalVideo).
#pragma once

#include "rtph264.h"

class JXRTSP_API CRTPH265 : public CRTPNalVideo {
public:
    static constexpr uint16_t kDefaultPayloadType = 98;

    explicit CRTPH265(CRTPSocket* pSocket);
    ~CRTPH265() override;

    int OnRecvRTP(CRTPParser& rtp) override;
    // One NAL unit: its two header bytes and the nLen bytes after them.
    int OnRecvRTPNal(const uint8_t* pHeader, const uint8_t* pData, int nLen);
    // Payloads with their two-byte payload header: aggregation packet, fragmentation unit.
    int OnRecvRTP48(const uint8_t* pPayload, int nLen);
    int OnRecvRTP49(const uint8_t* pPayload, int nLen);

protected:
    void SetupPiece(const char* pPiece) override;
    uint16_t SetFlag(const uint8_t* pHeader) const override;
    int32_t TakeNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen) override;
};

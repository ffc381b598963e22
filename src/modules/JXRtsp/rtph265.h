// H.265 depacketizer (RTP payload format of RFC 7798): single NAL units,
// aggregation packets and fragmentation units, with VPS, SPS and PPS in-band
// or from the fmtp line. Built on what it shares with H.264 (CRTPNalVideo).
// Every IRAP picture (BLA, IDR, CRA) is a key frame; the RASL pictures behind
// a CRA or BLA the stream resumed at are left out. With decoding-order
// numbers (sprop-max-don-diff or sprop-depack-buf-nalus above 0) each unit's
// DONL or DOND is read and stripped, and a frame's units are put in decoding
// order; a stream whose order crosses frames is refused.
#pragma once

#include "rtph264.h"

class JXRTSP_API CRTPH265 : public CRTPNalVideo {
public:
    static constexpr uint16_t kDefaultPayloadType = 98;
    // Units of one frame whose place in the frame is kept for reordering; a
    // unit that arrives out of order behind more of them drops the frame.
    static constexpr int32_t kMaxOrderedUnits = 64;

    explicit CRTPH265(CRTPSocket* pSocket);
    ~CRTPH265() override;

    int OnRecvRTP(CRTPParser& rtp) override;
    // One NAL unit: its two header bytes and the nLen bytes after them.
    int OnRecvRTPNal(const uint8_t* pHeader, const uint8_t* pData, int nLen);
    // Payloads with their two-byte payload header: aggregation packet, fragmentation unit.
    int OnRecvRTP48(const uint8_t* pPayload, int nLen);
    int OnRecvRTP49(const uint8_t* pPayload, int nLen);
    // The RASL pictures behind a random-access point the stream resumed at
    // are dropped here (they refer to pictures before it); else as the base.
    int PackFrame() override;
    // The base's rules, and: the units kept for reordering lie in the frame,
    // in order, each behind a start code; a refused stream gathers nothing.
    int32_t CheckInvariants() const override;

    // Units carry decoding-order numbers (from the fmtp line).
    bool m_DonPresent = false;

protected:
    void SetupPiece(const char* pPiece) override;
    int32_t TakeNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen) override;
    void OnFrameReset(bool bLost) override;

private:
    // A unit stored at the frame's end from nStart on, with decoding-order
    // number nDon: moved in front of the units that follow it in decoding order.
    int32_t PlaceUnit(int32_t nStart, uint16_t nDon);
    // A unit with decoding-order number nDon is about to be taken: JX_OK, or
    // JX_ERR_UNSUPPORTED (the stream is refused) when it belongs before a frame
    // already closed, or JX_ERR_CONTENT (frame dropped) while a fragment is open.
    int32_t CheckDon(uint16_t nDon, bool bFragment);
    // One unit with its number, taken and placed.
    int32_t TakeOrderedNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, uint16_t nDon);
    int OnRecvOrderedAggregate(const uint8_t* pPayload, int nLen);

    struct SUnit {
        int32_t nStart;   // offset of the unit's start code in the frame
        int32_t nRel;     // its number less the frame's first number, signed 16-bit distance
    };
    SUnit m_Units[kMaxOrderedUnits] = {};
    int32_t m_UnitCount = 0;           // units in m_Units
    bool m_UnitsFull = false;          // units came in order beyond m_Units: none may go before them
    bool m_FrameHasDon = false;        // a number of this frame was seen: m_FrameDon and m_MaxRel hold
    uint16_t m_FrameDon = 0;           // the first number seen in the frame
    int32_t m_MaxRel = 0;              // the largest distance from it
    bool m_LastDonKnown = false;       // a frame with numbers was closed
    uint16_t m_LastDon = 0;            // its largest number
    uint16_t m_FragDon = 0;            // the open fragment's number, with numbers
    bool m_DonRefused = false;         // order across frames: every packet refused
    uint8_t m_PicType = 0xFF;          // NAL type of the frame's first slice, 0xFF none yet
    bool m_SkipRASL = false;           // resumed at a CRA or BLA: its RASL pictures are dropped
};

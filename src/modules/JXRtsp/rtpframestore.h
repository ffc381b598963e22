// The frame under assembly, gathered straight into the packet that will carry
// it out, so that delivery copies nothing: each payload byte is copied once,
// from the receive buffer into that packet.
#pragma once

#include "JXRtspDefs.h"

class JXRTSP_API CRTPFrameStore {
public:
    // nFront: bytes kept free in front of the frame, for what delivery puts
    // before it (parameter sets); nTail: bytes kept free behind it; nFirst:
    // packet bytes taken for the first frame; nMax: the frame cap, which a
    // packet is never sized beyond.
    CRTPFrameStore(int32_t nFront, int32_t nTail, int32_t nFirst, int32_t nMax);
    ~CRTPFrameStore();
    CRTPFrameStore(const CRTPFrameStore&) = delete;
    CRTPFrameStore& operator=(const CRTPFrameStore&) = delete;

    // nLen bytes behind the frame. JX_OK, or JX_ERR_NOMEM when no packet could
    // hold them (nothing appended). The caller bounds the frame by its cap.
    int32_t Append(const void* pData, int32_t nLen);
    // Forgets the frame; its packet stays for the next one.
    void Empty();
    // The packet holding the frame, cleared of any frame fields, its payload
    // starting nFront bytes in front of the frame's first byte (the frame
    // moves once into a larger packet when its room in front is smaller).
    // The store keeps its reference until Handed. Null when no packet could
    // be had, or nFront is negative.
    CPacket* Seal(int32_t nFront);
    // After the sealed packet went out: the store drops its reference (a
    // receiver holds its own) and is empty; the next frame takes a packet
    // sized from the recent frames.
    void Handed();
    // Null when the storage is sound, else the rule that is broken.
    const char* Fault() const;

    char* m_Data = nullptr;   // the frame's first byte, inside the packet; null without one
    int32_t m_Length = 0;     // bytes of the frame
    int32_t m_Size = 0;       // bytes the packet holds for the frame
    uint32_t m_Moves = 0;     // frames moved into a larger packet

private:
    // A packet that holds nBytes of frame behind nFront bytes of room, the
    // frame's bytes moved into it when the packet is another. JX_OK or JX_ERR_NOMEM.
    int32_t Reserve(int32_t nFront, int32_t nBytes);

    CPacket* m_Packet = nullptr;
    int32_t m_Front;      // room in front of the frame in the packet held now
    int32_t m_WantFront;  // room a new packet is taken with: the largest asked for yet
    const int32_t m_Tail;
    const int32_t m_Max;
    int32_t m_SizeHint;   // frame bytes a new packet is taken for: recent frames' largest, fading
};

// A small reorder window in front of the depacketizer, for datagram
// transports: a packet that comes a little out of order waits for the ones
// before it instead of dropping the whole frame, and a duplicate is dropped.
// A packet in order is handed on at once from the caller's bytes; only a
// packet that came early is copied, into storage reserved once.
#pragma once

#include "JXRtspDefs.h"

class JXRTSP_API CRTPReorder {
public:
    // Sequence numbers the window spans from the next one expected: a packet
    // further ahead moves the window on, declaring the packets it passes lost.
    static constexpr uint32_t kSlots = 16;
    // The longest a packet waits for the ones before it.
    static constexpr uint64_t kMaxWaitMs = 50;
    // Storage of one slot. A datagram larger than this (only past a 1500-byte
    // MTU, in IP fragments) is never held: when it comes early, what is held
    // goes out, then it, as though the packets between were lost.
    static constexpr uint32_t kSlotBytes = 2048;
    // Further back than this a packet is not late but a restarted sequence
    // (RFC 3550 A.1, MAX_MISORDER); further ahead than this not a gap but a
    // jump (MAX_DROPOUT). Either is handed on at once and the window starts
    // again from it.
    static constexpr uint16_t kMaxMisorder = 100;
    static constexpr uint16_t kMaxDropout = 3000;

    // Where packets leave the window, in order; the bytes are valid for the call.
    using FRelease = void (*)(void* pUser, const uint8_t* pData, uint32_t nLen);

    CRTPReorder() = default;
    ~CRTPReorder();
    CRTPReorder(const CRTPReorder&) = delete;
    CRTPReorder& operator=(const CRTPReorder&) = delete;

    // Reserves the slots (once) and sets where packets go. JX_OK, JX_ERR_ARG
    // without a release function, or JX_ERR_NOMEM (the window then passes every
    // packet through as it comes).
    int32_t Init(FRelease pRelease, void* pUser);
    bool IsReady() const { return m_Storage != nullptr; }
    // One datagram that arrived at nNowMs (monotonic). Bytes too short for an
    // RTP header, or of another version, pass straight through. JX_OK, or
    // JX_ERR_CONTENT for a duplicate or a packet too late (dropped).
    int32_t Push(const uint8_t* pData, uint32_t nLen, uint64_t nNowMs);
    // Hands on what has waited kMaxWaitMs, with what is in order behind it.
    void Poll(uint64_t nNowMs);
    // Hands on everything held, in order, the gaps between declared lost.
    void Flush();
    // Forgets what is held and the sequence (a new reception).
    void Reset();

    uint32_t Held() const { return m_Held; }
    uint64_t m_Dropped = 0;     // duplicates and packets too late, dropped
    uint64_t m_Reordered = 0;   // packets held and handed on in their place

private:
    struct CSlot {
        bool m_Used = false;
        uint16_t m_Seq = 0;
        uint32_t m_Len = 0;
        uint64_t m_ArrivalMs = 0;
    };
    uint8_t* SlotData(uint32_t nSlot) const { return m_Storage + size_t(nSlot) * kSlotBytes; }
    void Release(const uint8_t* pData, uint32_t nLen) { m_Release(m_User, pData, nLen); }
    // Hands on the held packets from the next expected one for as long as they
    // are in order.
    void Drain();
    // Moves the next expected number to nSeq, handing on what is held before it.
    void AdvanceTo(uint16_t nSeq);
    // Everything held out, then this packet, and the window starts again behind it.
    void Restart(const uint8_t* pData, uint32_t nLen, uint16_t nSeq, uint32_t nSSRC);

    uint8_t* m_Storage = nullptr;   // kSlots * kSlotBytes, reserved by Init
    CSlot m_Slots[kSlots];
    FRelease m_Release = nullptr;
    void* m_User = nullptr;
    bool m_HasNext = false;
    uint16_t m_NextSeq = 0;   // the sequence number expected next
    uint32_t m_SSRC = 0;      // the source whose numbers the window follows
    uint32_t m_Held = 0;
};

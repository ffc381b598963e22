// H.264 depacketizer (RTP payload format of RFC 6184), and CRTPNalVideo, what
// it shares with the H.265 one: the fmtp parameters, out-of-band parameter
// sets, frame marking from the header extension, fragmented NAL units and the
// closing of a frame. A frame is a sequence of NAL units, each behind
// 00 00 00 01; key frames are led by the parameter sets the head keeps.
#pragma once

#include "rtpmedia.h"

class JXRTSP_API CRTPNalVideo : public CRTPMediaVideo {
public:
    ~CRTPNalVideo() override;

    // The stream's a=fmtp: parameters, pieces apart by ';'. Always 0.
    int Setup(const char* pText) override;
    // A comma-separated list of Base64 parameter sets, each given to the head.
    // JX_ERR_ARG when the text is empty or is not a list of sets.
    int SetupSPS_PPS(const char* pText);
    // Closes the frame: dropped when it holds no slice, a fragment is still
    // open, the head does not know the picture yet, or it is not a key frame
    // while the stream waits for one; else delivered, a key frame led by the
    // head's parameter sets.
    int PackFrame() override;
    // The base's rules, and: a frame begins with a start code, a typed frame
    // holds data, an open fragment lies inside the frame.
    int32_t CheckInvariants() const override;

    // What a depacketizer of this family is.
    struct SFormat {
        const char* pName;        // class name for log lines
        const char* pSetsTag;     // a sprop value beginning with this is no list of sets
        int32_t nHeadBytes;       // bytes of a NAL unit header
        uint8_t nCodec;           // JX_CODEC_* of the frames
        uint16_t nPrivateFirst;   // range of the stream's private codec codes (a=JXFrame:)
        uint16_t nPrivateLast;
        uint16_t nLeadSet;        // the set the head writes first (JX_NAL_FLAG_*)
        // The NAL unit type: the first header byte shifted right, then masked.
        uint8_t nTypeShift;
        uint8_t nTypeMask;
        // The types of the parameter sets; kNoSetType for a set the format lacks.
        uint8_t nTypeVPS;
        uint8_t nTypeSPS;
        uint8_t nTypePPS;
    };
    static constexpr uint8_t kNoSetType = 0xFF;

    uint16_t m_PacketMode = 1;       // packetization-mode: recorded only, every mode is taken
    uint32_t m_ProfileLevelId = 0;   // profile-level-id: recorded only

protected:
    static constexpr int32_t kSizeBytes = 2;   // the size in front of each aggregated unit

    // Takes ownership of pHead (may be null when it could not be allocated:
    // then no frame is delivered).
    CRTPNalVideo(CRTPSocket* pSocket, CJXVideoHead* pHead, const SFormat& format);

    // An fmtp piece other than profile-level-id and packetization-mode.
    virtual void SetupPiece(const char* pPiece) = 0;
    // The NAL unit type of a header.
    uint8_t NalType(const uint8_t* pHeader) const
    {
        return static_cast<uint8_t>((pHeader[0] >> m_Format.nTypeShift) & m_Format.nTypeMask);
    }
    // The in-band flag of a parameter-set header (JX_NAL_FLAG_*), else 0.
    uint16_t SetFlag(const uint8_t* pHeader) const;
    // One whole NAL unit (header, the bytes after it, their count >= 1): sets
    // the frame's type and flags and stores it. 0 or a negative code.
    virtual int32_t TakeNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen) = 0;

    // The order checks of the base, then the frame mark. A packet that begins a
    // new timestamp out of sequence shows a loss at the frame boundary, which
    // the base does not look for: the end of the last frame or the start of
    // this one is gone, so neither is delivered. Then a packet without payload
    // is refused, and one other than a later fragment (of NAL type
    // nFragmentType) drops a frame whose fragmented unit is open
    // (DropInsideFragment). 0: the subclass takes the payload.
    int32_t BeginPacket(CRTPParser& rtp, uint8_t nFragmentType);
    // Frame marking: a header extension whose profile word is the stream's VI
    // or PB value marks the frame.
    void MarkFrame(const CRTPParser& rtp);
    // A packet other than a later fragment while a fragmented unit is open:
    // the unit's end was lost, and what came would be stored inside it. The
    // frame is dropped; true when it was.
    bool DropInsideFragment();
    // An in-band parameter set to the head. Refused, the frame is dropped: its
    // slices must not go out behind the head's older sets.
    int32_t FeedHead(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, uint16_t nFlag);
    // The first fragment of a NAL unit; bEnd: it is also the last.
    int32_t OpenFragment(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, bool bEnd);
    // A later fragment; bEnd closes the unit.
    int32_t AddFragment(const uint8_t* pData, int32_t nLen, bool bEnd);
    // What the FU header behind a fragmentation unit's payload header says.
    struct SFUnit {
        uint8_t nFU;            // the FU header
        bool bStart;
        bool bEnd;
        const uint8_t* pData;   // the fragment behind it
        int32_t nData;
    };
    // Reads it: false, the frame dropped, for a packet too short to hold it.
    bool ReadFUnit(const uint8_t* pPayload, int32_t nLen, SFUnit& out);
    // Stores a whole unit behind its start code and, for a slice (nFrameType
    // not kNoType), types the frame by it. 0 or the store's code.
    int32_t StoreNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, uint16_t nFrameType);
    bool IsFragmentOpen() const { return (m_NalFlags & kNalFragmentOpen) != 0; }
    // Offset of the open fragment's NAL header in the frame; only while one is open.
    int32_t FragmentStart() const { return m_Fragment.nStart; }
    // An aggregation packet: units behind a 16-bit size from pUnits on, each at
    // least nMinSize bytes. A unit cut short drops the frame.
    int32_t TakeAggregate(const uint8_t* pUnits, int32_t nLen, int32_t nMinSize);
    void LogError(const char* pFunc, int nLine) const;
    // The first parameter set in the frame is the one the head writes first,
    // so the frame's own sets stand in order.
    bool SetsLeadFrame() const;

    SFormat m_Format;

private:
    // Where the open fragmented unit stands and what it is. Read only while
    // m_NalFlags holds kNalFragmentOpen: that flag alone says one is open.
    struct SFragment {
        int32_t nStart;   // offset of its NAL header in the frame
        uint16_t nSet;    // the parameter set it is (to the head at its end), 0 for none
    };
    SFragment m_Fragment = {0, 0};
    bool m_SeqKnown = false;             // a packet of the stream was recorded: its number is the last
};

class JXRTSP_API CRTPH264 : public CRTPNalVideo {
public:
    static constexpr uint16_t kDefaultPayloadType = 96;

    explicit CRTPH264(CRTPSocket* pSocket);
    ~CRTPH264() override;

    int OnRecvRTP(CRTPParser& rtp) override;
    // One NAL unit: its header byte and the nLen bytes after it.
    int OnRecvRTPNal(uint8_t nHeader, const uint8_t* pData, int nLen);
    // Payloads, each with its first byte: STAP-A, STAP-B, MTAP16, MTAP24, FU-A.
    int OnRecvRTP24(const uint8_t* pPayload, int nLen);
    int OnRecvRTP25(const uint8_t* pPayload, int nLen);
    int OnRecvRTP26(const uint8_t* pPayload, int nLen);
    int OnRecvRTP27(const uint8_t* pPayload, int nLen);
    int OnRecvRTP28(const uint8_t* pPayload, int nLen);

protected:
    void SetupPiece(const char* pPiece) override;
    int32_t TakeNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen) override;
};

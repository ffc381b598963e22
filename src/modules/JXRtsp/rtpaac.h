// AAC audio depacketizers: MPEG-4 generic in the AAC-hbr and AAC-lbr modes
// (RFC 3640) and MP4A-LATM with the configuration out of band (RFC 6416,
// cpresent=0). Every AAC access unit becomes one audio frame, passed on
// undecoded and stamped from the stream's RTP clock; the media description
// carries the AudioSpecificConfig a decoder needs.
#pragma once

#include "rtpaacconfig.h"
#include "rtpmedia.h"

// Common to both payload formats: the configuration, the order checks, the
// fragment of an access unit gathered across packets, and the delivery of
// access units one frame each (through m_Buffer, which is empty between
// packets unless it holds a fragment).
class JXRTSP_API CRTPAACMedia : public CRTPMediaAudio {
public:
    // A config with more channels is refused.
    static constexpr uint16_t kMaxChannels = CAACConfig::kMaxChannels;

    // A config was read: the stream takes packets.
    bool IsReady() const { return m_Ready; }
    // (JX_CODEC_AAC, channels, rate) and the AudioSpecificConfig. JX_ERR_ARG
    // for no description, JX_ERR_STATE before a config was read.
    int GetHead(CJXMediaDesc* pDesc) override;
    // Order checks, then the payload format's own reading. JX_OK;
    // JX_ERR_CONTENT for a packet refused (with the access unit it belongs
    // to); JX_ERR_STATE before a config was read.
    int OnRecvRTP(CRTPParser& rtp) override;
    int32_t CheckInvariants() const override;

    CAACConfig m_Config;
    // RTP ticks of one access unit when the a=fmtp: line gives them; 0: from
    // the config's frame length, the core's rate and the clock rate.
    uint32_t m_ConstantDuration = 0;

protected:
    explicit CRTPAACMedia(CRTPSocket* pSocket);
    ~CRTPAACMedia() override;

    // How the packet stands to what was gathered before it.
    enum EPacketStart {
        kStartsNew,   // nothing of it was gathered: the payload begins afresh
        kContinues,   // the next packet of the open fragment
    };
    // The payload of one packet that the order checks let through.
    virtual int32_t TakePayload(const CRTPParser& rtp, EPacketStart nStart) = 0;
    // At a new timestamp with a fragment still open: true when the subclass
    // delivered it whole after all (a sender that leaves the marker bit off).
    virtual bool CloseFragment() { return false; }
    // Bytes of the open fragment; the subclass that gathers elsewhere than in
    // m_Buffer says so, and empties that store in EmptyFragment.
    virtual int32_t GatheredLength() const { return m_Buffer.m_Length; }
    virtual void EmptyFragment() { m_Buffer.Empty(); }
    // The open fragment is dropped (counted as a frame dropped); bSkipRest
    // also refuses the rest of its packets, up to a marked one or the next
    // timestamp.
    void DropFragment(bool bSkipRest);
    // The open fragment was delivered: nothing is gathered.
    void CloseDelivered();
    // A config read with result nResult: the stream is ready on JX_OK; any
    // other code is logged with pWhat and returned.
    int32_t UseConfig(int32_t nResult, const char* pWhat);
    // RTP time of the access unit nOffset units after one at nTimeStamp.
    uint32_t UnitTime(uint32_t nTimeStamp, uint32_t nOffset) const;
    // One access unit as a frame stamped nTimeStamp. An empty unit is skipped.
    int32_t DeliverUnit(const uint8_t* pData, int32_t nLen, uint32_t nTimeStamp);
    // A packet that is not whole units: counted as a frame dropped (bCount),
    // logged once per stream with the reason. JX_ERR_CONTENT.
    int32_t Refuse(const char* pWhy, bool bCount);

    bool m_Ready = false;
    bool m_FragmentOpen = false;    // the start of an access unit (or element) is gathered
    bool m_SkipTimeStamp = false;   // the rest of a dropped unit's packets is refused
    uint32_t m_FragmentTimeStamp = 0;

private:
    bool m_RefusalLogged = false;
    bool m_NotReadyLogged = false;
};

// MPEG-4 generic, RFC 3640: AU headers of the sizes the a=fmtp: line gives,
// several access units in one packet, or one access unit in fragments.
class JXRTSP_API CRTPAAC : public CRTPAACMedia {
public:
    // Widest AU-header field the format allows us to read at once.
    static constexpr uint32_t kMaxFieldBits = 32;

    explicit CRTPAAC(CRTPSocket* pSocket);
    ~CRTPAAC() override;

    // The a=fmtp: parameters: mode (AAC-hbr or AAC-lbr), config (hex), and
    // the AU-header fields: sizelength, indexlength, indexdeltalength,
    // ctsdeltalength, dtsdeltalength, randomaccessindication,
    // streamstateindication, auxiliarydatasizelength, constantsize,
    // constantduration, streamtype. JX_OK or a negative code (logged; the
    // stream then takes no packet).
    int Setup(const char* pText) override;
    int32_t CheckInvariants() const override;

    // The AU-header layout in bits, from the a=fmtp: line.
    uint32_t m_SizeLength = 0;
    uint32_t m_IndexLength = 0;
    uint32_t m_IndexDeltaLength = 0;
    uint32_t m_CTSDeltaLength = 0;
    uint32_t m_DTSDeltaLength = 0;
    uint32_t m_RandomAccess = 0;     // 1: a RAP flag in every header
    uint32_t m_StreamStateLength = 0;
    uint32_t m_AuxSizeLength = 0;
    uint32_t m_ConstantSize = 0;     // bytes of every unit, when sizelength is 0
    uint32_t m_FragmentSize = 0;     // size of the unit being gathered, from its AU header

protected:
    int32_t TakePayload(const CRTPParser& rtp, EPacketStart nStart) override;

private:
    // The AU-header section is present: some field has a length.
    bool HasHeaders() const;
    // What the AU headers of one packet say.
    struct CUnits {
        int32_t m_DataAt = 0;       // where the first access unit begins
        uint32_t m_Count = 0;       // AU headers (access units)
        uint32_t m_FirstSize = 0;   // size of the first unit
        int64_t m_Total = 0;        // sum of the sizes
    };
    // Walks the packet's AU headers (and auxiliary section), checking each
    // against the packet: JX_OK when they are whole, else JX_ERR_CONTENT.
    // With bDeliver, the units are delivered (the caller has checked that
    // they fill the payload).
    int32_t WalkUnits(const uint8_t* p, int32_t n, uint32_t nTimeStamp, bool bDeliver, CUnits& out);
};

// MP4A-LATM, RFC 6416, cpresent=0: each packet is one or more whole
// audioMuxElements, or one element in fragments with the marker bit on its
// last; every element is a PayloadLengthInfo and a PayloadMux per access unit.
class JXRTSP_API CRTPLATM : public CRTPAACMedia {
public:
    explicit CRTPLATM(CRTPSocket* pSocket);
    ~CRTPLATM() override;

    // The a=fmtp: parameters: cpresent (0 only) and config, the
    // StreamMuxConfig in hex. JX_OK or a negative code (logged).
    int Setup(const char* pText) override;
    int32_t CheckInvariants() const override;

    uint32_t m_SubFrames = 1;    // access units in one audioMuxElement
    uint32_t m_OtherBytes = 0;   // other data behind them
    CJXString m_Element;         // the fragments of one element, gathered

protected:
    int32_t TakePayload(const CRTPParser& rtp, EPacketStart nStart) override;
    bool CloseFragment() override;
    int32_t GatheredLength() const override { return m_Element.m_Length; }
    void EmptyFragment() override { m_Element.Empty(false); }

private:
    // Reads whole elements from the bytes; with bDeliver false only checks
    // that they fill them exactly.
    int32_t WalkElements(const uint8_t* p, int32_t n, uint32_t nTimeStamp, bool bDeliver);

    bool m_MarkerLogged = false;
};

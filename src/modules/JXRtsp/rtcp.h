// RTCP as a receiver speaks it (RFC 3550): the sender reports a server sends,
// the reception statistics of one source, and the receiver report with its
// SDES CNAME that goes back. Nothing here does I/O: bytes in, bytes out.
#pragma once

#include "JXRtspDefs.h"

// The sender information of one SR packet.
struct CRTCPSenderReport {
    uint32_t m_SSRC = 0;
    uint64_t m_NtpTime = 0;   // 64-bit NTP time stamp: seconds since 1900 in the high word
    uint32_t m_RtpTime = 0;   // the same instant on the sender's RTP clock
    uint32_t m_PacketCount = 0;
    uint32_t m_OctetCount = 0;
};

// Reads one compound RTCP packet (several RTCP packets back to back, as a
// datagram or one interleaved frame carries them). Every length is checked
// against what remains before a byte of it is read.
class JXRTSP_API CRTCPReader {
public:
    // Packets read from one compound packet at most; the rest is ignored.
    static constexpr uint32_t kMaxPackets = 64;

    // JX_OK when every packet was well-formed (version 2, a length inside the
    // datagram, an SR or BYE no shorter than its fixed part: the sender info
    // and the report blocks, the list of SSRCs leaving); JX_ERR_CONTENT
    // at the first that is not (what was read before it is kept); JX_ERR_ARG
    // for no data. The members are cleared first.
    int32_t Read(const uint8_t* pData, uint32_t nLen);
    // The first sender report of the compound packet whose SSRC is nSSRC, or
    // of any SSRC when nSSRC is 0. Null when there is none.
    const CRTCPSenderReport* FindSenderReport(uint32_t nSSRC) const;

    CRTCPSenderReport m_Reports[4];   // the first sender reports, in order
    uint32_t m_ReportCount = 0;
    bool m_HasBye = false;
    uint32_t m_ByeSSRC = 0;           // the first SSRC a BYE names (a BYE naming none leaves both unset)
    uint32_t m_PacketCount = 0;       // RTCP packets read
};

// Reception statistics of one RTP source (RFC 3550 A.1, A.3, A.8) and the
// receiver report about it.
class JXRTSP_API CRTPReceiverStats {
public:
    // Packets in sequence before a source counts as valid (RFC 3550 A.1).
    static constexpr uint32_t kMinSequential = 2;
    static constexpr uint32_t kMaxDropout = 3000;
    static constexpr uint32_t kMaxMisorder = 100;
    // The shortest interval between reports, before the random factor.
    static constexpr uint32_t kMinIntervalMs = 5000;

    // Forgets the source (a new session or SSRC).
    void Reset();
    // One RTP packet of the source. nArrival is its arrival time in units of
    // the stream's RTP clock, for the interarrival jitter.
    void OnPacket(uint16_t nSeq, uint32_t nTimeStamp, uint32_t nArrival);
    // A sender report of the source, received at nNowMs (monotonic ms): the
    // LSR and DLSR fields of the next report come from it.
    void OnSenderReport(uint64_t nNtpTime, uint64_t nNowMs);

    uint64_t Received() const;          // packets counted since the source was valid
    uint32_t ExtendedMax() const;       // highest sequence number, with its cycles
    int64_t CumulativeLost() const;     // expected less received; negative with duplicates
    uint32_t Jitter() const;            // interarrival jitter in RTP clock units

    // Writes a receiver report (RR, one report block about nSourceSSRC) and
    // an SDES packet with the CNAME, as one compound packet. The fraction lost
    // covers the time since the previous report, whose counters then move on.
    // The bytes written, or JX_ERR_ARG (no room, no CNAME, a CNAME over 255
    // bytes) with nothing changed.
    int32_t WriteReport(uint8_t* pOut, uint32_t nCap, uint32_t nOwnSSRC, uint32_t nSourceSSRC, const char* pCname,
                        uint64_t nNowMs);

    // The randomised interval to the next report (RFC 3550 6.3.1 and A.7 for a
    // receiver at the 5 s minimum): kMinIntervalMs times a factor of 0.5 to
    // 1.5 drawn from nRandom (0 to 65535 uniform), divided by e - 3/2.
    static uint32_t ReportIntervalMs(uint32_t nRandom);

private:
    // RFC 3550 A.1: starts the counts at nSeq; and whether a packet counts.
    void InitSeq(uint16_t nSeq);
    bool UpdateSeq(uint16_t nSeq);
    // RFC 3550 A.8, for a packet that counted.
    void UpdateJitter(uint32_t nTimeStamp, uint32_t nArrival);

    // RFC 3550 A.1 source state.
    uint16_t m_MaxSeq = 0;
    uint32_t m_Cycles = 0;
    uint32_t m_BaseSeq = 0;
    uint32_t m_BadSeq = 0;
    uint32_t m_Probation = kMinSequential;
    uint64_t m_Received = 0;
    uint64_t m_ExpectedPrior = 0;
    uint64_t m_ReceivedPrior = 0;
    bool m_Started = false;
    // A.8 jitter, kept scaled by 16.
    uint32_t m_Jitter = 0;
    int64_t m_Transit = 0;
    bool m_HasTransit = false;
    // The last sender report: middle 32 bits of its NTP time, and when it came.
    uint32_t m_LastSR = 0;
    uint64_t m_LastSRArrivalMs = 0;
    bool m_HasSR = false;
};

// Depacketizer bases: packet order and SSRC checks, the frame assembly buffer,
// the frame-rate estimate, the frame time from the RTP clock, the closing of
// a frame at its marked last packet, and the delivery of a finished frame;
// and CRTPFrame, a reference-counted list offered to other modules.
#pragma once

#include "JXRtspDefs.h"
#include "rtpclock.h"
#include "rtpframestore.h"

class CRTPParser;
class CRTPSocket;

class JXRTSP_API CRTPMedia : public CJXObject {
public:
    explicit CRTPMedia(CRTPSocket* pSocket);
    ~CRTPMedia() override;
    CRTPMedia(const CRTPMedia&) = delete;
    CRTPMedia& operator=(const CRTPMedia&) = delete;

    // Parameters of the stream's a=fmtp: line. JX_ERR_UNSUPPORTED in the base.
    virtual int Setup(const char* pText);
    // One RTP packet whose header the parser accepted. JX_ERR_UNSUPPORTED in the base.
    virtual int OnRecvRTP(CRTPParser& rtp);
    // How the stream hands a packet in: OnRecvRTP, then what follows the
    // packet's payload (a frame whose last packet this was is delivered).
    // OnRecvRTP's result.
    int Receive(CRTPParser& rtp);
    // After OnRecvRTP took a packet's payload; nothing in the base.
    virtual void EndPacket(const CRTPParser& rtp);
    // The stream's parameter-set head, or null.
    virtual CJXMediaHead* GetHead();
    // Fill this stream's part of the media description.
    virtual int GetHead(CJXMediaDesc* pDesc) = 0;
    // Turn the gathered frame into a packet and hand it on. JX_ERR_UNSUPPORTED in the base.
    virtual int PackFrame();
    // JX_ERR_UNSUPPORTED; fRate is not written.
    virtual int GetFrameRate(double& fRate);
    // What must hold between two packets. JX_OK, or JX_ERR_STATE with one log
    // line naming the rule that is broken. Subclasses extend it: their own
    // rules after the base's.
    virtual int32_t CheckInvariants() const;

    // Packets of another SSRC in a row, in sequence with each other, after
    // which the stream follows that source (an encoder that restarted).
    static constexpr uint32_t kSourceSwitchPackets = 4;

    CRTPSocket* m_Socket;   // the owning stream; never null
    uint32_t m_SSRC = 0;    // SSRC the stream accepts; 0 until known (or learned as 0)
    uint16_t m_PayloadType = 0;
    uint16_t m_SeqNo = 0;           // of the last accepted packet
    uint32_t m_TimeStamp = 0;       // of the last accepted packet
    uint32_t m_PrevTimeStamp = 0;   // of the packet before it
    // The stream's RTP clock mapped onto ours; the stream sets its rate.
    CRTPClock m_Clock;
    // Frames begun and not delivered: lost data, waiting for a key frame.
    uint64_t m_FramesDropped = 0;
    // Times the stream took up another source after it had one.
    uint32_t m_SourceSwitches = 0;

protected:
    // What the order checks found for one packet.
    enum EPacketOrder {
        kOrderForeign,      // another payload type: nothing checked or recorded
        kOrderBadSSRC,      // not the stream's SSRC
        kOrderNewFrame,     // the timestamp changed: the previous frame is complete
        kOrderInSequence,   // same timestamp, next sequence number
        kOrderGap,          // same timestamp, sequence numbers missing
        // The packet made the stream follow its SSRC: the source, its sequence
        // and its clock are new. m_PrevTimeStamp is that of the new source's
        // packet before it: when equal, the packet's frame began unseen.
        kOrderNewSource,
    };
    // Learns the SSRC, follows a new one (kSourceSwitchPackets), records
    // sequence number and timestamps, and classifies the packet. nPrevSeq
    // receives the sequence number recorded before.
    EPacketOrder TrackPacket(const CRTPParser& rtp, uint16_t& nPrevSeq);
    // A packet of this stream's payload type and source.
    bool IsOwnPacket(const CRTPParser& rtp) const;
    // After kOrderBadSSRC: the refusal began an attempt of another source to
    // take the stream over (the one to log; its next packets are refused quietly).
    bool IsFirstRefusal() const { return m_FirstRefusal; }
    // The time of the frame with timestamp nTimeStamp whose last packet came
    // at nArrivalMs (monotonic), as a stamp: seconds and ms of the wall clock.
    CJXTime StampFrame(uint32_t nTimeStamp, int64_t nArrivalMs);
    // Appends to a frame buffer unless it would pass nMax bytes. JX_OK,
    // JX_ERR_CONTENT when it would (nothing appended), or the buffer's code.
    static int32_t AppendBounded(CJXString& buffer, const void* pData, int32_t nLen, int32_t nMax);
    static int32_t AppendBounded(CRTPFrameStore& buffer, const void* pData, int32_t nLen, int32_t nMax);
    // JX_OK when the buffer holds at most nMax bytes inside its storage; else
    // logs pWho's broken rule and returns JX_ERR_STATE.
    static int32_t CheckBuffer(const CJXString& buffer, int32_t nMax, const char* pWho);
    static int32_t CheckBuffer(const CRTPFrameStore& buffer, int32_t nMax, const char* pWho);

private:
    // A packet of another SSRC: kOrderNewSource once kSourceSwitchPackets of
    // that source came in sequence, else kOrderBadSSRC (IsFirstRefusal
    // tells the first refusal of each attempt).
    EPacketOrder TrySwitchSource(const CRTPParser& rtp);

    // The first packet carried SSRC 0: it is the stream's, learned once like any other.
    bool m_ZeroSSRCLearned = false;
    // The other source seen since the stream's own last packet: its SSRC, the
    // packets of it in sequence so far (0: none), its last sequence number
    // and timestamp.
    uint32_t m_NewSSRC = 0;
    uint32_t m_NewCount = 0;
    uint16_t m_NewSeqNo = 0;
    uint32_t m_NewTimeStamp = 0;
    bool m_FirstRefusal = false;
};

class JXRTSP_API CRTPMediaVideo : public CRTPMedia {
public:
    // Packet bytes taken for the first frame; a frame that outgrows its packet
    // moves to a larger one, and later packets follow the recent frame sizes.
    static constexpr int32_t kInitialBuffer = 65536;
    // Largest frame gathered. A frame that grows beyond is dropped, and the
    // stream waits for the next key frame.
    static constexpr int32_t kMaxFrameBytes = 8 << 20;
    // Zero bytes written behind every delivered video frame, not counted in its length.
    static constexpr int32_t kZeroTail = 32;
    static constexpr uint16_t kNoType = 0xFF;
    // In front of every NAL unit of a frame.
    static constexpr uint8_t kStartCode[4] = {0x00, 0x00, 0x00, 0x01};
    static constexpr int32_t kStartCodeBytes = sizeof(kStartCode);
    // Room kept in front of every frame for the parameter sets a key frame is
    // delivered behind (a larger head moves its frame once).
    static constexpr int32_t kFrontRoom = 256;
    // The one record that a fragmented NAL unit is open.
    static constexpr uint16_t kNalFragmentOpen = 0x0001;
    // Every flag m_NalFlags may hold: the open fragment and the in-band SPS, PPS, VPS.
    static constexpr uint16_t kNalFlagsKnown = kNalFragmentOpen | JX_NAL_FLAG_SPS | JX_NAL_FLAG_PPS | JX_NAL_FLAG_VPS;
    // Frame types a header extension may mark (m_FrameMark).
    static constexpr uint16_t kMarkVI = 9;
    static constexpr uint16_t kMarkPB = 10;
    static constexpr uint32_t kClockRate = 90000;
    // Frames in a row whose marker bit closed them as their timestamp did,
    // before frames are handed on at the marked packet.
    static constexpr uint32_t kMarkerTrustFrames = 8;

    explicit CRTPMediaVideo(CRTPSocket* pSocket);
    ~CRTPMediaVideo() override;

    // Order and SSRC checks; closes the previous frame when the timestamp changes.
    // 0: the subclass takes the payload. JX_ERR_CONTENT: a packet of another
    // SSRC, or of a frame dropped after a loss; the subclass leaves it out.
    int OnRecvRTP(CRTPParser& rtp) override;
    // A marked packet of a stream whose marks are trusted closes its frame.
    void EndPacket(const CRTPParser& rtp) override;
    CJXMediaHead* GetHead() override;
    int GetHead(CJXMediaDesc* pDesc) override;
    // Empties the frame; bLost (data was lost) also makes the stream wait for a key frame.
    // Subclass state goes with it through OnFrameReset.
    void ClearBuffer(int bLost);
    // The frame buffer, flags, frame type and mark, drop state and frame-rate
    // estimate are sound (see CRTPMedia::CheckInvariants).
    int32_t CheckInvariants() const override;

    // From DeliverFrame, before the frame is stamped: the frame's timestamp
    // joins the median spacing that gives the frame rate.
    int UpdateFrameRate();
    // Time of the frame being packed, from its RTP timestamp and the arrival
    // of its last packet.
    int GetFrameTime(CJXTime& t);
    // The marker bits have closed the last kMarkerTrustFrames frames.
    bool IsMarkerTrusted() const { return m_MarkerTrusted; }

    CJXVideoHead* m_Head = nullptr;   // created and owned by the H.264 and H.265 subclasses
    uint16_t m_Width = 0;             // picture size, JPEG only
    uint16_t m_Height = 0;
    uint32_t m_FrameCount = 0;     // frames delivered
    double m_FrameRate = 0.0;      // from the median spacing; 0 before the first frame
    CRTPFrameStore m_Buffer;          // the frame being gathered, in the packet it goes out in
    uint16_t m_NalFlags = 0;          // 0x0001 fragment open; 0x0100/0x0200/0x0400 SPS/PPS/VPS in-band
    uint16_t m_FrameType = kNoType;   // 0xFF no slice yet, 0 non-key, 1 key
    uint16_t m_FrameMark = kNoType;   // 0xFF none, else 9 or 10 from the header extension
    uint32_t m_WaitKey = 1;           // 1: non-key frames are dropped until a key frame

protected:
    // Subclasses put frame data in only through AppendFrame and AppendNAL, so
    // the size limit and the refusal of a dropped frame's rest hold for all.
    bool IsBufferEmpty() const { return m_Buffer.m_Length == 0 || m_Buffer.m_Data == nullptr; }
    // Frame data in; bounded by kMaxFrameBytes. JX_OK, or JX_ERR_CONTENT when the
    // frame grew too large (it is dropped and the rest of it ignored).
    int32_t AppendFrame(const void* pData, int32_t nLen);
    // One NAL unit: 00 00 00 01, the NAL header (1 byte H.264, 2 bytes H.265)
    // and the bytes after it, bounded as AppendFrame.
    int32_t AppendNAL(const uint8_t* pHead, int32_t nHead, const uint8_t* pData, int32_t nLen);
    // For PackFrame: false when a non-key frame arrives while the stream waits
    // for a key frame (the frame is dropped); true otherwise, ending the wait.
    bool CheckWaitKey();
    // The frame delivery: frame rate, frame time, and the packet the frame was
    // gathered in, pPrefix's parameter sets (when given) written in front of
    // it and kZeroTail zero bytes behind, handed to the stream and released
    // (the store is then empty). 0 or a negative code.
    int32_t DeliverFrame(uint8_t nType, uint8_t nCodec, uint16_t nWidth, uint16_t nHeight,
                         CJXMediaHead* pPrefix = nullptr, uint16_t nPrefixFlags = 0);
    // Drops the frame being gathered (as ClearBuffer(1)) and refuses the rest
    // of its packets until the timestamp changes.
    void DropFrame();
    // Called at the end of every reset of the frame (a new timestamp,
    // ClearBuffer, a drop, a non-key frame refused while waiting), after the
    // base's own frame state is reset: a subclass resets what it keeps per
    // frame here, so that no path can leave it behind. bLost: data was lost.
    virtual void OnFrameReset(bool /*bLost*/) {}

private:
    // Why the frame is reset. Each empties the frame and forgets its type,
    // flags and mark; what else it does is noted.
    enum EFrameReset {
        kResetNewFrame,   // the timestamp changed: also ends the refusal of a dropped frame's rest
        kResetCleared,    // ClearBuffer(0)
        kResetLost,       // ClearBuffer(1), a non-key frame while waiting: wait for a key frame
        kResetNewSource,  // another source: wait for its key frame; a new frame begins
        kResetDropped,    // DropFrame: also refuse the frame's remaining packets
    };
    // The one place that resets the frame state.
    void ResetFrame(EFrameReset nWhy);
    // JX_OK when nLen more bytes fit the frame; otherwise the frame is dropped.
    int32_t MakeRoom(int32_t nLen);
    void DropOversized();
    // Whether the marker bits agree with the timestamps, judged on packets in sequence.
    void JudgeMarker(EPacketOrder nOrder, const CRTPParser& rtp, uint16_t nPrevSeq);

    bool m_SkipFrame = false;   // the current frame was dropped; its rest is refused
    bool m_OverflowLogged = false;
    bool m_FrameDelivered = false;   // the frame gathered now went out
    uint32_t m_FrameTimeStamp = 0;   // RTP timestamp of the frame gathered now
    int64_t m_FrameArrivalMs = 0;    // when its last packet so far came (monotonic; see OnRecvRTP)
    CFrameRateMedian m_RateMedian;
    bool m_PrevMarked = false;        // the last packet of the stream carried the marker bit
    bool m_HasLastPacket = false;
    uint32_t m_MarkerAgreed = 0;      // frames in a row closed by marker and timestamp alike
    bool m_MarkerTrusted = false;
    bool m_MarkerDistrustLogged = false;
};

class JXRTSP_API CRTPMediaAudio : public CRTPMedia {
public:
    static constexpr int32_t kInitialBuffer = 65536;
    // Largest audio frame gathered (over two minutes of G.711).
    static constexpr int32_t kMaxFrameBytes = 1 << 20;

    explicit CRTPMediaAudio(CRTPSocket* pSocket);
    ~CRTPMediaAudio() override;

    // Order and SSRC checks; closes the previous frame when the timestamp changes.
    int OnRecvRTP(CRTPParser& rtp) override;
    virtual void ClearBuffer();
    int32_t CheckInvariants() const override;

    CRTPFrameStore m_Buffer;   // the frame being gathered, in the packet it goes out in

protected:
    bool IsBufferEmpty() const { return m_Buffer.m_Length == 0 || m_Buffer.m_Data == nullptr; }
    // Audio data in; a frame that would pass kMaxFrameBytes is dropped. JX_OK or JX_ERR_CONTENT.
    int32_t AppendFrame(const void* pData, int32_t nLen);
    // The audio frame delivery: the packet the frame was gathered in, of type
    // audio (no zero tail), one channel at nRate samples a second, stamped
    // from the stream's RTP clock (the frame's timestamp, m_FrameTimeStamp),
    // handed to the stream and released. 0, JX_ERR_STATE for an empty
    // frame, or JX_ERR_NOMEM.
    // nSamples, when known, is the frame's length in samples: its last
    // sample came that much after its timestamp's, which the arrival time
    // is corrected for.
    int32_t DeliverFrame(uint8_t nCodec, uint32_t nRate, uint32_t nSamples = 0);

    uint32_t m_FrameTimeStamp = 0;   // RTP timestamp of the frame gathered now
};

// A reference-counted list of items; the last Release deletes it, freeing the
// items through OnDataFree. Create it with new.
class JXRTSP_API CRTPFrame : public CJXListOBJ {
public:
    CRTPFrame();
    // One more reference: the new count, or JX_ERR_STATE when the count is full.
    int Acquire();
    // One reference less; at 0 the object deletes itself. The new count (a count
    // that is already 0 stays 0 and nothing happens).
    int Release();

protected:
    ~CRTPFrame() override;

    CJXMutex m_RefMutex;
    uint16_t m_RefCount = 1;
};

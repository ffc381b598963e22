// The one RTP harness of the depacketizer tests: a stream that records every
// frame handed on, the loss operations done to a packet sequence, and the
// packet-script tokens that every script shares.
#pragma once

#include "rtp_capture.h"
#include "rtpmedia.h"
#include "rtpsocket.h"

#include <string>
#include <vector>

// One frame as the stream received it.
struct CSunkFrame {
    Bytes m_Data;
    bool m_ZeroTail = false;   // video: the kZeroTail bytes behind it are zero
    int m_Type = 0, m_Codec = 0, m_Width = 0, m_Height = 0;
    float m_FPS = 0;
    uint32_t m_Freq = 0;
    int32_t m_Refs = 0;         // references held while it was handed on
    int64_t m_Ms = 0;           // its stamp, in ms on a line without days' breaks
    uint32_t m_RTPTime = 0;     // audio: the RTP timestamp it was stamped from
};

// A stream that owns one depacketizer and copies every frame it hands on
// (no reference kept unless m_Hold: the packet goes back to the pool).
class CFrameSink : public CRTPSocket {
public:
    explicit CFrameSink(uint16_t nPayloadType = 96) { m_PayloadType = nPayloadType; }
    ~CFrameSink() override;
    // The stream takes the depacketizer (made on this stream) and gives it its payload type.
    template <class T>
    T* Use(T* pMedia)
    {
        m_Media = pMedia;
        pMedia->m_PayloadType = m_PayloadType;
        return pMedia;
    }
    int OnRecvFrame(CPacket* p) override;
    // Parses an exact heap copy of the packet (a read past it shows under
    // AddressSanitizer), hands it to the depacketizer and checks its
    // invariants: Receive's result, or the parser's.
    int Feed(const Bytes& packet);
    void FeedAll(const std::vector<Bytes>& packets);

    std::vector<CSunkFrame> m_Frames;
    // Keep a reference to every packet handed on, as a receiver that queues
    // frames does (released with the sink); m_Held[i] carried m_Frames[i].
    bool m_Hold = false;
    std::vector<CPacket*> m_Held;
};

// What is done to one packet of a sequence (counted in the original).
struct CLoss {
    enum EOp { kDrop, kDuplicate, kSwapWithNext, kCut, kStraySSRC, kTimestampOfPrevious };
    EOp m_Op;
    size_t m_At;
    long m_Keep = 0;   // kCut: bytes kept, or when negative bytes cut off the end
};
std::vector<Bytes> ApplyLosses(const std::vector<Bytes>& packets, const std::vector<CLoss>& losses);

// The words of a script, apart by cSep; empty ones skipped.
std::vector<std::string> Words(const std::string& text, char cSep = ' ');

// The tokens every packet script shares, done to the builder: "|" the next
// frame (timestamp + nStep, "|n" + n), "-" a packet lost, "seq=", "ssrc=",
// "pt=", "ts=" its fields, "jump=" the timestamp alone. True when the token
// was one of these; *pStep gets the timestamp step of a "|".
bool BuilderToken(const std::string& token, CTestRTP& b, uint32_t nStep, int64_t* pStep = nullptr);

// A trailing result mark taken off the token: "!" JX_ERR_CONTENT, "?"
// JX_ERR_ARG, "~" JX_ERR_FAIL, "#" JX_ERR_UNSUPPORTED; JX_OK when none.
int32_t TakeResultMark(std::string& token);

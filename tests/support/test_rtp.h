// RTP test helpers shared by every RTP test: a packet builder with every header
// field under the test's control, a media stream stand-in that records the
// frames its depacketizer hands on, and a capture of the log.
#pragma once

#include "rtpsocket.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Bytes of a text: ToBytes("\x65" "idr") gives 65 69 64 72.
Bytes ToBytes(std::string_view text);
// "24 00 00 0f 80" from spaced or unspaced hex digits.
Bytes HexBytes(std::string_view hex);
// Lower-case hex, bytes separated by spaces, for readable failures.
std::string ToHex(const uint8_t* p, size_t n);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

// Builds RTP packets. Fields are plain members; Next() writes one packet with
// the current values and then advances the sequence number.
//   CTestRTP b;  b.m_TS = 3000;  auto pkt = b.Next("\x65" "idr", true);
class CTestRTP {
public:
    uint8_t m_Version = 2;
    uint8_t m_PT = 96;
    uint16_t m_Seq = 1000;
    uint32_t m_TS = 90000;
    uint32_t m_SSRC = 0x11223344;
    std::vector<uint32_t> m_CSRC;       // written as the CSRC list
    int m_CCField = -1;                 // >= 0: CC written instead of the list's size (hostile packets)
    bool m_Ext = false;                 // X bit and an extension
    uint16_t m_ExtProfile = 0;
    Bytes m_ExtBody;                    // a multiple of 4 bytes for a well-formed packet
    int m_ExtWordsField = -1;           // >= 0: length field written instead of m_ExtBody's words
    uint8_t m_PadBytes = 0;             // padding bytes appended, count byte included; P set when > 0
    int m_PadCountField = -1;           // >= 0: value of the last byte instead of m_PadBytes
    bool m_PBit = false;                // P set even without padding bytes

    // One packet with the current fields; does not advance.
    Bytes Build(const uint8_t* pPayload, size_t nPayload, bool bMark = false) const;
    Bytes Build(std::string_view payload, bool bMark = false) const
    {
        return Build(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), bMark);
    }
    // Build, then m_Seq + 1 (0 follows 65535).
    Bytes Next(const uint8_t* pPayload, size_t nPayload, bool bMark = false);
    Bytes Next(std::string_view payload, bool bMark = false)
    {
        return Next(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), bMark);
    }
    Bytes Next(const Bytes& payload, bool bMark = false) { return Next(payload.data(), payload.size(), bMark); }
};

// A media stream whose OnRecvFrame keeps every frame it receives (one reference
// each, released by the destructor or Clear).
class CTestFrameSink : public CRTPSocket {
public:
    CTestFrameSink() = default;
    ~CTestFrameSink() override;

    int OnRecvFrame(CPacket* pFrame) override;
    // Feed one packet through the stream's parser into its depacketizer.
    int Feed(const Bytes& packet) { return OnRecvRTP(packet.data(), static_cast<unsigned int>(packet.size())); }

    size_t Count() const { return m_Frames.size(); }
    CPacket* Frame(size_t i) const { return m_Frames.at(i); }
    // The frame's counted bytes.
    Bytes Payload(size_t i) const;
    // The 32 bytes behind the counted bytes (video frames).
    Bytes Tail(size_t i, size_t n = 32) const;
    void Clear();

    int m_Result = 0;   // what OnRecvFrame returns

private:
    std::vector<CPacket*> m_Frames;
};

// Collects every log line while it lives (one at a time). Lines carry the log's
// time stamp in front; Contains matches the text behind it.
class CRTPLogCapture {
public:
    CRTPLogCapture();
    ~CRTPLogCapture();
    CRTPLogCapture(const CRTPLogCapture&) = delete;
    CRTPLogCapture& operator=(const CRTPLogCapture&) = delete;

    // Lines whose text (after the time stamp) equals the given text exactly,
    // line feed included.
    int Count(std::string_view line) const;
    // Lines containing the given piece.
    int CountContaining(std::string_view piece) const;
    size_t Size() const;
    std::vector<std::string> Lines() const;
    void Clear();

private:
    static void OnLine(const char* pLine, void* pUser);
    mutable std::mutex m_Mutex;
    std::vector<std::string> m_Lines;
};

// RTP test helpers shared by the RTP and RTSP tests: a packet builder and a
// capture of the log. Hostile packets are written in hex by the parser table.
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
inline std::string ToHex(const Bytes& b)
{
    return ToHex(b.data(), b.size());
}

// The NAL units of an Annex B stream, start codes and trailing zero bytes removed.
std::vector<Bytes> SplitNals(const Bytes& data);

// Builds version-2 RTP packets without CSRC, extension or padding. Next()
// writes one packet with the current fields, then advances the sequence number.
//   CTestRTP b;  b.m_TS = 3000;  auto pkt = b.Next("\x65" "idr", true);
class CTestRTP {
public:
    uint8_t m_PT = 96;
    uint16_t m_Seq = 1000;
    uint32_t m_TS = 90000;
    uint32_t m_SSRC = 0x11223344;

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
    std::vector<std::string> Lines() const;

private:
    static void OnLine(const char* pLine, void* pUser);
    mutable std::mutex m_Mutex;
    std::vector<std::string> m_Lines;
};

// Bit reader over the payload of one NAL unit: fixed-width fields and
// exp-Golomb codes (ue(v), se(v)), most significant bit first.
#pragma once

#include "JXBaseDefs.h"

class JXBASE_API CJXBitReader {
public:
    // Payload bytes kept after emulation prevention is removed; the fields a
    // parameter set is read for all lie well inside this.
    static constexpr int32_t kMaxBytes = 4096;

    // Copies the NAL payload into the reader's own buffer, dropping every 0x03
    // that follows two zero bytes (emulation prevention). At most kMaxBytes are
    // kept; reads beyond them fail like reads beyond the end.
    CJXBitReader(const uint8_t* pData, int32_t nLen);

    // n bits (0..32) as an unsigned value. Past the end: 0 and the error flag.
    uint32_t ReadBits(int32_t n);
    uint32_t ReadBit() { return ReadBits(1); }
    void SkipBits(int32_t n);
    // ue(v). More than 31 leading zero bits cannot encode a 32-bit value: 0 and
    // the error flag.
    uint32_t ReadUE();
    // se(v), from ue(v) k: (k + 1) / 2 for odd k, -(k / 2) for even k.
    int32_t ReadSE();

    // Skip the start of a video usability information block that H.264 and
    // H.265 share: aspect ratio, overscan, video signal type and chroma sample
    // location, up to the codec's own fields.
    void SkipVuiPrefix();

    // True once any read ran past the end or met an over-long code; every later
    // read then gives 0.
    bool HasError() const { return m_Error; }
    int32_t GetBitsLeft() const { return m_Error ? 0 : m_Bits - m_Pos; }
    // Bytes kept after emulation prevention was removed.
    int32_t GetLength() const { return m_Bits / 8; }

private:
    uint8_t m_Data[kMaxBytes];
    int32_t m_Bits = 0;   // bits held
    int32_t m_Pos = 0;    // next bit to read
    bool m_Error = false;
};

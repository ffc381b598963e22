#include "JXBitReader.h"

namespace {
// An exp-Golomb code with more leading zeros than this does not fit 32 bits.
constexpr int32_t kMaxLeadingZeros = 31;
}   // namespace

CJXBitReader::CJXBitReader(const uint8_t* pData, int32_t nLen)
{
    if (pData == nullptr || nLen <= 0) return;
    int32_t nOut = 0;
    int32_t nZeros = 0;
    for (int32_t i = 0; i < nLen && nOut < kMaxBytes; ++i) {
        uint8_t b = pData[i];
        if (nZeros >= 2 && b == 0x03) {
            // 00 00 03: the 03 was inserted by the encoder so that the payload
            // never looks like a start code (H.264 / H.265 7.4.1).
            nZeros = 0;
            continue;
        }
        m_Data[nOut++] = b;
        nZeros = (b == 0) ? nZeros + 1 : 0;
    }
    m_Bits = nOut * 8;
}

uint32_t CJXBitReader::ReadBits(int32_t n)
{
    if (m_Error || n < 0 || n > 32 || n > m_Bits - m_Pos) {
        m_Error = true;
        return 0;
    }
    uint32_t nValue = 0;
    for (int32_t i = 0; i < n; ++i) {
        uint32_t nBit = (m_Data[m_Pos >> 3] >> (7 - (m_Pos & 7))) & 1u;
        nValue = (nValue << 1) | nBit;
        ++m_Pos;
    }
    return nValue;
}

void CJXBitReader::SkipBits(int32_t n)
{
    if (m_Error || n < 0 || n > m_Bits - m_Pos) {
        m_Error = true;
        return;
    }
    m_Pos += n;
}

uint32_t CJXBitReader::ReadUE()
{
    int32_t nZeros = 0;
    while (!m_Error && ReadBit() == 0) {
        if (m_Error) return 0;
        if (++nZeros > kMaxLeadingZeros) {
            m_Error = true;
            return 0;
        }
    }
    if (m_Error) return 0;
    // 2^z - 1 + the z bits behind the leading one; z <= 31 keeps it below 2^32.
    uint32_t nSuffix = ReadBits(nZeros);
    if (m_Error) return 0;
    return ((1u << nZeros) - 1u) + nSuffix;
}

int32_t CJXBitReader::ReadSE()
{
    uint32_t k = ReadUE();
    if (m_Error) return 0;
    int64_t nValue = (k & 1u) ? (static_cast<int64_t>(k) + 1) / 2 : -(static_cast<int64_t>(k) / 2);
    return static_cast<int32_t>(nValue);
}

void CJXBitReader::SkipVuiPrefix()
{
    const uint32_t kExtendedSAR = 255;
    if (ReadBit()) {                                     // aspect_ratio_info_present_flag
        if (ReadBits(8) == kExtendedSAR) SkipBits(32);   // sar_width, sar_height
    }
    if (ReadBit())   // overscan_info_present_flag
        SkipBits(1);
    if (ReadBit()) {     // video_signal_type_present_flag
        SkipBits(4);     // video_format, video_full_range_flag
        if (ReadBit())   // colour_description_present_flag
            SkipBits(24);
    }
    if (ReadBit()) {   // chroma_loc_info_present_flag
        ReadUE();
        ReadUE();
    }
}

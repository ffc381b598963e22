// A reader of the bits of a byte range, for the fields of AAC configs and
// AU headers that do not fall on byte boundaries.
#pragma once

#include <cstdint>

// Bits of a byte range, most significant first. A read past the end gives 0
// and sets the error flag; the range is never read beyond.
class CBitSpan {
public:
    CBitSpan(const uint8_t* pData, int64_t nBits) : m_Data(pData), m_Bits(nBits < 0 ? 0 : nBits) {}

    uint32_t Read(uint32_t nCount)
    {
        if (nCount > 32 || static_cast<int64_t>(nCount) > m_Bits - m_Pos) {
            m_Error = true;
            m_Pos = m_Bits;
            return 0;
        }
        uint64_t nValue = 0;
        for (uint32_t i = 0; i < nCount; ++i, ++m_Pos) {
            nValue = (nValue << 1) | ((m_Data[m_Pos >> 3] >> (7 - (m_Pos & 7))) & 1u);
        }
        return static_cast<uint32_t>(nValue);
    }
    void Skip(int64_t nCount)
    {
        if (nCount < 0 || nCount > m_Bits - m_Pos) {
            m_Error = true;
            m_Pos = m_Bits;
            return;
        }
        m_Pos += nCount;
    }
    // The next nCount bits (at most 32) without taking them; 0 when fewer are left.
    uint32_t Peek(uint32_t nCount) const
    {
        CBitSpan copy = *this;
        const uint32_t nValue = copy.Read(nCount);
        return copy.m_Error ? 0 : nValue;
    }
    int64_t Pos() const { return m_Pos; }
    int64_t Left() const { return m_Bits - m_Pos; }
    bool Error() const { return m_Error; }

private:
    const uint8_t* m_Data;
    int64_t m_Bits;
    int64_t m_Pos = 0;
    bool m_Error = false;
};

#include "JXMediaHead.h"

#include <cstring>

namespace {
constexpr uint8_t kStartCode[4] = {0x00, 0x00, 0x00, 0x01};
constexpr int32_t kStartCodeBytes = 4;
}   // namespace

void CJXMediaHead::Release()
{
    delete this;
}

int32_t CJXMediaHead::SetBytes(uint16_t nFlags, uint16_t nFlag, int32_t nLen)
{
    if ((nFlags & nFlag) != 0 || nLen <= 0) return 0;
    return kStartCodeBytes + nLen;
}

int32_t CJXMediaHead::PutSet(uint8_t* pOut, uint16_t nFlags, uint16_t nFlag, const uint8_t* pSet, int32_t nLen)
{
    int32_t n = SetBytes(nFlags, nFlag, nLen);
    if (n == 0) return 0;
    memcpy(pOut, kStartCode, kStartCodeBytes);
    memcpy(pOut + kStartCodeBytes, pSet, static_cast<size_t>(nLen));
    return n;
}

// H.265 parameter sets (VPS, SPS, PPS) and the picture size read from the SPS.
#pragma once

#include "JXH264Head.h"

// Read an H.265 SPS (the bytes after the two NAL header bytes, emulation
// prevention bytes still in). 0, or JX_ERR_CONTENT.
extern "C" JXBASE_API int32_t JXParseH265SPS(const uint8_t* pData, int32_t nLen, JXSpsInfo* pInfo);

class JXBASE_API CJXH265Head : public CJXVideoHead {
public:
    static constexpr int32_t kMaxSetBytes = 1024;

    CJXH265Head() = default;
    ~CJXH265Head() override;

    int32_t GetCodec() const override;
    int32_t SetNAL(uint16_t nHeader, const uint8_t* pData, int32_t nLen) override;
    int32_t WriteHead(uint8_t* pOut, uint16_t nFlags) override;
    int32_t GetHeadSize(uint16_t nFlags) override;
    bool IsReady() override;

    // Stored sets with their two NAL header bytes; length 0 when absent.
    uint8_t m_VPS[kMaxSetBytes];
    int32_t m_VPSLen = 0;
    uint8_t m_SPS[kMaxSetBytes];
    int32_t m_SPSLen = 0;
    uint8_t m_PPS[kMaxSetBytes];
    int32_t m_PPSLen = 0;
};

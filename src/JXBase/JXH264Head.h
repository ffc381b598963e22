// H.264 parameter sets (SPS, PPS) and the picture size read from the SPS.
#pragma once

#include "JXMediaHead.h"

struct JXSpsInfo {
    uint16_t nWidth = 0;   // after frame cropping / conformance window
    uint16_t nHeight = 0;
    float fFPS = 0.0f;   // from VUI timing, 0 when absent
    uint8_t nProfile = 0;
    uint8_t nLevel = 0;
};

// Read an H.264 SPS (the bytes after the NAL header byte, emulation prevention
// bytes still in). 0, or JX_ERR_CONTENT for a truncated or impossible SPS.
extern "C" JXBASE_API int32_t JXParseH264SPS(const uint8_t* pData, int32_t nLen, JXSpsInfo* pInfo);

class JXBASE_API CJXH264Head : public CJXVideoHead {
public:
    // Longest parameter set kept.
    static constexpr int32_t kMaxSetBytes = 1024;

    CJXH264Head() = default;
    ~CJXH264Head() override;

    int32_t GetCodec() const override;
    int32_t SetNAL(uint16_t nHeader, const uint8_t* pData, int32_t nLen) override;
    int32_t WriteHead(uint8_t* pOut, uint16_t nFlags) override;
    int32_t GetHeadSize(uint16_t nFlags) override;
    bool IsReady() override;

    // Stored sets with their NAL header byte; length 0 when absent.
    uint8_t m_SPS[kMaxSetBytes];
    int32_t m_SPSLen = 0;
    uint8_t m_PPS[kMaxSetBytes];
    int32_t m_PPSLen = 0;
};

#include "JXH264Head.h"

#include "JXBitReader.h"
#include "JXPacket.h"

#include <cstring>

namespace {

constexpr uint8_t kNalSPS = 7;
constexpr uint8_t kNalPPS = 8;

constexpr uint32_t kMaxSpsId = 31;
constexpr uint32_t kMaxChromaFormat = 3;
constexpr uint32_t kMaxBitDepthMinus8 = 6;
constexpr uint32_t kMaxLog2Minus4 = 12;   // log2_max_frame_num / pic_order_cnt_lsb
constexpr uint32_t kMaxPocType = 2;
constexpr uint32_t kMaxPocCycle = 255;
constexpr uint32_t kMaxPictureSide = 0xFFFF;   // the size fields are 16 bits
constexpr float kMaxFPS = 1000.0f;             // above this the timing is not a frame rate

// Profiles whose SPS carries chroma_format_idc, bit depths and scaling lists.
bool HasChromaInfo(uint32_t nProfile)
{
    switch (nProfile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

// scaling_list() of 7.3.2.1.1.1: only the deltas are read, the values are not kept.
bool SkipScalingList(CJXBitReader& br, int32_t nSize)
{
    int32_t nLast = 8;
    int32_t nNext = 8;
    for (int32_t j = 0; j < nSize; ++j) {
        if (nNext != 0) {
            int32_t nDelta = br.ReadSE();
            if (br.HasError() || nDelta < -128 || nDelta > 127) return false;
            nNext = (nLast + nDelta + 256) % 256;
        }
        nLast = (nNext == 0) ? nLast : nNext;
    }
    return true;
}

// VUI (Annex E.1.1) up to the timing information: the frame rate, or 0 when the
// VUI has no timing or cannot be read that far.
float ReadVuiFPS(CJXBitReader& br)
{
    br.SkipVuiPrefix();
    if (!br.ReadBit())   // timing_info_present_flag
        return 0.0f;
    uint32_t nUnits = br.ReadBits(32);   // num_units_in_tick
    uint32_t nScale = br.ReadBits(32);   // time_scale
    if (br.HasError() || nUnits == 0 || nScale == 0) return 0.0f;
    // One frame is two ticks (a tick is one field).
    double fFPS = static_cast<double>(nScale) / (2.0 * nUnits);
    return fFPS > kMaxFPS ? 0.0f : static_cast<float>(fFPS);
}

}   // namespace

int32_t JXParseH264SPS(const uint8_t* pData, int32_t nLen, JXSpsInfo* pInfo)
{
    if (pInfo == nullptr || (pData == nullptr && nLen > 0)) return JX_ERR_ARG;
    if (nLen < 4) return JX_ERR_CONTENT;
    CJXBitReader br(pData, nLen);

    uint32_t nProfile = br.ReadBits(8);
    br.SkipBits(8);   // constraint_set flags, reserved bits
    uint32_t nLevel = br.ReadBits(8);
    if (br.ReadUE() > kMaxSpsId) return JX_ERR_CONTENT;

    uint32_t nChroma = 1;   // 4:2:0 unless the profile says otherwise
    uint32_t nSeparatePlanes = 0;
    if (HasChromaInfo(nProfile)) {
        nChroma = br.ReadUE();
        if (nChroma > kMaxChromaFormat) return JX_ERR_CONTENT;
        if (nChroma == 3) nSeparatePlanes = br.ReadBit();
        if (br.ReadUE() > kMaxBitDepthMinus8 || br.ReadUE() > kMaxBitDepthMinus8) return JX_ERR_CONTENT;
        br.SkipBits(1);       // qpprime_y_zero_transform_bypass_flag
        if (br.ReadBit()) {   // seq_scaling_matrix_present_flag
            int32_t nLists = (nChroma != 3) ? 8 : 12;
            for (int32_t i = 0; i < nLists; ++i) {
                if (br.ReadBit() && !SkipScalingList(br, i < 6 ? 16 : 64)) return JX_ERR_CONTENT;
            }
        }
    }
    if (br.ReadUE() > kMaxLog2Minus4)   // log2_max_frame_num_minus4
        return JX_ERR_CONTENT;
    uint32_t nPocType = br.ReadUE();
    if (nPocType > kMaxPocType) return JX_ERR_CONTENT;
    if (nPocType == 0) {
        if (br.ReadUE() > kMaxLog2Minus4)   // log2_max_pic_order_cnt_lsb_minus4
            return JX_ERR_CONTENT;
    } else if (nPocType == 1) {
        br.SkipBits(1);   // delta_pic_order_always_zero_flag
        br.ReadSE();      // offset_for_non_ref_pic
        br.ReadSE();      // offset_for_top_to_bottom_field
        uint32_t nCycle = br.ReadUE();
        if (nCycle > kMaxPocCycle) return JX_ERR_CONTENT;
        for (uint32_t i = 0; i < nCycle && !br.HasError(); ++i)
            br.ReadSE();   // offset_for_ref_frame[i]
    }
    br.ReadUE();      // max_num_ref_frames
    br.SkipBits(1);   // gaps_in_frame_num_value_allowed_flag
    uint64_t nWidthMbs = static_cast<uint64_t>(br.ReadUE()) + 1;
    uint64_t nHeightUnits = static_cast<uint64_t>(br.ReadUE()) + 1;
    uint32_t nFrameMbsOnly = br.ReadBit();
    if (!nFrameMbsOnly) br.SkipBits(1);   // mb_adaptive_frame_field_flag
    br.SkipBits(1);                       // direct_8x8_inference_flag
    uint64_t nCrop[4] = {0, 0, 0, 0};     // left, right, top, bottom
    if (br.ReadBit()) {                   // frame_cropping_flag
        for (uint64_t& n : nCrop)
            n = br.ReadUE();
    }
    if (br.HasError()) return JX_ERR_CONTENT;

    // Field-coded streams count map units of two macroblock rows.
    uint64_t nWidth = nWidthMbs * 16;
    uint64_t nHeight = nHeightUnits * 16 * (2 - nFrameMbsOnly);
    // Crop units (7.4.2.1.1): luma samples per chroma sample, doubled vertically
    // for field coding; monochrome and separate planes crop in luma samples.
    uint64_t nCropX = 1;
    uint64_t nCropY = 2 - nFrameMbsOnly;
    if (!nSeparatePlanes && nChroma != 0) {
        nCropX = (nChroma == 3) ? 1 : 2;
        nCropY *= (nChroma == 1) ? 2 : 1;
    }
    uint64_t nCutX = nCropX * (nCrop[0] + nCrop[1]);
    uint64_t nCutY = nCropY * (nCrop[2] + nCrop[3]);
    if (nCutX >= nWidth || nCutY >= nHeight) return JX_ERR_CONTENT;
    nWidth -= nCutX;
    nHeight -= nCutY;
    if (nWidth > kMaxPictureSide || nHeight > kMaxPictureSide) return JX_ERR_CONTENT;

    pInfo->nWidth = static_cast<uint16_t>(nWidth);
    pInfo->nHeight = static_cast<uint16_t>(nHeight);
    pInfo->nProfile = static_cast<uint8_t>(nProfile);
    pInfo->nLevel = static_cast<uint8_t>(nLevel);
    pInfo->fFPS = 0.0f;
    if (br.ReadBit())   // vui_parameters_present_flag
        pInfo->fFPS = ReadVuiFPS(br);
    return JX_OK;
}

CJXH264Head::~CJXH264Head() = default;

int32_t CJXH264Head::GetCodec() const
{
    return JX_CODEC_H264;
}

int32_t CJXH264Head::SetNAL(uint16_t nHeader, const uint8_t* pData, int32_t nLen)
{
    // Each set is kept behind its header byte.
    if (pData == nullptr || nHeader > 0xFF || nLen < 1 || nLen > kMaxSetBytes - 1) return JX_ERR_ARG;
    uint8_t nType = nHeader & 0x1F;
    if (nType == kNalSPS) {
        // Cameras repeat the same set before every key frame: it is read once.
        if (m_SPSLen == nLen + 1 && m_SPS[0] == nHeader && memcmp(m_SPS + 1, pData, size_t(nLen)) == 0) return JX_OK;
        JXSpsInfo info;
        int32_t nRet = JXParseH264SPS(pData, nLen, &info);
        if (nRet != JX_OK) return nRet;
        m_SPS[0] = static_cast<uint8_t>(nHeader);
        memcpy(m_SPS + 1, pData, static_cast<size_t>(nLen));
        m_SPSLen = nLen + 1;
        m_Width = info.nWidth;
        m_Height = info.nHeight;
        m_FPS = info.fFPS;
        return JX_OK;
    }
    if (nType == kNalPPS) {
        m_PPS[0] = static_cast<uint8_t>(nHeader);
        memcpy(m_PPS + 1, pData, static_cast<size_t>(nLen));
        m_PPSLen = nLen + 1;
        return JX_OK;
    }
    return JX_ERR_UNSUPPORTED;
}

int32_t CJXH264Head::GetHeadSize(uint16_t nFlags)
{
    return SetBytes(nFlags, JX_NAL_FLAG_SPS, m_SPSLen) + SetBytes(nFlags, JX_NAL_FLAG_PPS, m_PPSLen);
}

int32_t CJXH264Head::WriteHead(uint8_t* pOut, uint16_t nFlags)
{
    if (pOut == nullptr) return 0;
    int32_t n = PutSet(pOut, nFlags, JX_NAL_FLAG_SPS, m_SPS, m_SPSLen);
    n += PutSet(pOut + n, nFlags, JX_NAL_FLAG_PPS, m_PPS, m_PPSLen);
    return n;
}

bool CJXH264Head::IsReady()
{
    return m_SPSLen > 0 && m_Width != 0 && m_Height != 0;
}

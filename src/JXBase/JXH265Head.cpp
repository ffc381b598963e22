#include "JXH265Head.h"

#include "JXBitReader.h"
#include "JXPacket.h"

#include <cstring>

namespace {

constexpr uint8_t kNalVPS = 32;
constexpr uint8_t kNalSPS = 33;
constexpr uint8_t kNalPPS = 34;
constexpr int32_t kHeaderBytes = 2;

constexpr uint32_t kMaxSubLayersMinus1 = 6;
constexpr uint32_t kMaxSpsId = 15;
constexpr uint32_t kMaxChromaFormat = 3;
constexpr uint32_t kMaxPictureSide = 0xFFFF;   // the size fields are 16 bits
constexpr uint32_t kMaxBitDepthMinus8 = 8;
constexpr uint32_t kMaxLog2PocLsbMinus4 = 12;
constexpr uint32_t kMaxShortTermSets = 64;
constexpr uint32_t kMaxDeltaPocs = 16;     // pictures a reference set can name
constexpr uint32_t kMaxPocDelta = 32767;   // delta_poc_sX_minus1, abs_delta_rps_minus1
constexpr uint32_t kMaxLongTermPics = 32;
constexpr float kMaxFPS = 1000.0f;   // above this the timing is not a frame rate

// Bits of profile_tier_level() for one layer: profile space, tier, profile,
// 32 compatibility flags, 4 source flags and 44 reserved/constraint bits.
constexpr int32_t kProfileBits = 88;
constexpr int32_t kLevelBits = 8;

// profile_tier_level(1, nSubLayersMinus1) of 7.3.3; keeps the general profile and level.
void ReadProfileTierLevel(CJXBitReader& br, uint32_t nSubLayersMinus1, JXSpsInfo& info)
{
    br.SkipBits(3);   // general_profile_space, general_tier_flag
    info.nProfile = static_cast<uint8_t>(br.ReadBits(5));
    br.SkipBits(kProfileBits - 8);
    info.nLevel = static_cast<uint8_t>(br.ReadBits(kLevelBits));
    bool bProfile[kMaxSubLayersMinus1] = {};
    bool bLevel[kMaxSubLayersMinus1] = {};
    for (uint32_t i = 0; i < nSubLayersMinus1; ++i) {
        bProfile[i] = br.ReadBit() != 0;
        bLevel[i] = br.ReadBit() != 0;
    }
    if (nSubLayersMinus1 > 0) br.SkipBits(2 * static_cast<int32_t>(8 - nSubLayersMinus1));   // reserved_zero_2bits
    for (uint32_t i = 0; i < nSubLayersMinus1; ++i) {
        if (bProfile[i]) br.SkipBits(kProfileBits);
        if (bLevel[i]) br.SkipBits(kLevelBits);
    }
}

// scaling_list_data() of 7.3.4: read and dropped.
bool SkipScalingListData(CJXBitReader& br)
{
    for (int32_t nSizeId = 0; nSizeId < 4; ++nSizeId) {
        for (int32_t nMatrixId = 0; nMatrixId < 6; nMatrixId += (nSizeId == 3) ? 3 : 1) {
            if (!br.ReadBit()) {   // scaling_list_pred_mode_flag
                br.ReadUE();       // scaling_list_pred_matrix_id_delta
                continue;
            }
            int32_t nCoefs = (nSizeId == 0) ? 16 : 64;
            if (nSizeId > 1) br.ReadSE();   // scaling_list_dc_coef_minus8
            for (int32_t i = 0; i < nCoefs && !br.HasError(); ++i)
                br.ReadSE();   // scaling_list_delta_coef
        }
    }
    return !br.HasError();
}

// One short-term reference picture set: the POC deltas of its pictures before
// (S0, negative) and after (S1, positive) the current one.
struct JXRefSet {
    uint32_t nNegative = 0;
    uint32_t nPositive = 0;
    // One more than a set may hold: a set predicted from a full one has up to
    // 17 candidates, and is refused after it was built.
    int32_t nS0[kMaxDeltaPocs + 1] = {};
    int32_t nS1[kMaxDeltaPocs + 1] = {};
};

// st_ref_pic_set(nIdx) of 7.3.7 as it stands in an SPS. A set predicted from the
// one before it needs that set's deltas (7.4.8) to know how many flags follow.
bool ReadShortTermRefSet(CJXBitReader& br, uint32_t nIdx, JXRefSet* pSets)
{
    JXRefSet& cur = pSets[nIdx];
    if (nIdx != 0 && br.ReadBit()) {   // inter_ref_pic_set_prediction_flag
        // In an SPS the reference is always the set just before (delta_idx_minus1 = 0).
        const JXRefSet& ref = pSets[nIdx - 1];
        uint32_t nSign = br.ReadBit();       // delta_rps_sign
        uint32_t nAbsMinus1 = br.ReadUE();   // abs_delta_rps_minus1
        if (br.HasError() || nAbsMinus1 > kMaxPocDelta) return false;
        int32_t nDeltaRps = (nSign ? -1 : 1) * static_cast<int32_t>(nAbsMinus1 + 1);
        uint32_t nRefCount = ref.nNegative + ref.nPositive;
        bool bUse[kMaxDeltaPocs + 1] = {};
        for (uint32_t j = 0; j <= nRefCount; ++j) {
            bool bUsed = br.ReadBit() != 0;         // used_by_curr_pic_flag
            bUse[j] = bUsed || br.ReadBit() != 0;   // use_delta_flag, 1 when absent
        }
        if (br.HasError()) return false;
        // Equations 7-61 and 7-62.
        uint32_t i = 0;
        for (uint32_t j = ref.nPositive; j-- > 0;) {
            int32_t d = ref.nS1[j] + nDeltaRps;
            if (d < 0 && bUse[ref.nNegative + j]) cur.nS0[i++] = d;
        }
        if (nDeltaRps < 0 && bUse[nRefCount]) cur.nS0[i++] = nDeltaRps;
        for (uint32_t j = 0; j < ref.nNegative; ++j) {
            int32_t d = ref.nS0[j] + nDeltaRps;
            if (d < 0 && bUse[j]) cur.nS0[i++] = d;
        }
        cur.nNegative = i;
        i = 0;
        for (uint32_t j = ref.nNegative; j-- > 0;) {
            int32_t d = ref.nS0[j] + nDeltaRps;
            if (d > 0 && bUse[j]) cur.nS1[i++] = d;
        }
        if (nDeltaRps > 0 && bUse[nRefCount]) cur.nS1[i++] = nDeltaRps;
        for (uint32_t j = 0; j < ref.nPositive; ++j) {
            int32_t d = ref.nS1[j] + nDeltaRps;
            if (d > 0 && bUse[ref.nNegative + j]) cur.nS1[i++] = d;
        }
        cur.nPositive = i;
        // More pictures than a set can name: not a set we can follow.
        return cur.nNegative + cur.nPositive <= kMaxDeltaPocs;
    }
    cur.nNegative = br.ReadUE();
    cur.nPositive = br.ReadUE();
    if (br.HasError() || cur.nNegative > kMaxDeltaPocs || cur.nPositive > kMaxDeltaPocs - cur.nNegative) return false;
    int32_t nPoc = 0;
    for (uint32_t i = 0; i < cur.nNegative; ++i) {
        uint32_t nMinus1 = br.ReadUE();   // delta_poc_s0_minus1
        br.SkipBits(1);                   // used_by_curr_pic_s0_flag
        if (nMinus1 > kMaxPocDelta) return false;
        nPoc -= static_cast<int32_t>(nMinus1) + 1;
        cur.nS0[i] = nPoc;
    }
    nPoc = 0;
    for (uint32_t i = 0; i < cur.nPositive; ++i) {
        uint32_t nMinus1 = br.ReadUE();   // delta_poc_s1_minus1
        br.SkipBits(1);                   // used_by_curr_pic_s1_flag
        if (nMinus1 > kMaxPocDelta) return false;
        nPoc += static_cast<int32_t>(nMinus1) + 1;
        cur.nS1[i] = nPoc;
    }
    return !br.HasError();
}

// VUI (Annex E.2.1) up to its timing information: time_scale / num_units_in_tick,
// or 0 when absent or not readable.
float ReadVuiFPS(CJXBitReader& br)
{
    br.SkipVuiPrefix();
    br.SkipBits(3);       // neutral_chroma, field_seq, frame_field_info
    if (br.ReadBit()) {   // default_display_window_flag
        for (int32_t i = 0; i < 4; ++i)
            br.ReadUE();
    }
    if (!br.ReadBit())   // vui_timing_info_present_flag
        return 0.0f;
    uint32_t nUnits = br.ReadBits(32);   // vui_num_units_in_tick
    uint32_t nScale = br.ReadBits(32);   // vui_time_scale
    if (br.HasError() || nUnits == 0 || nScale == 0) return 0.0f;
    double fFPS = static_cast<double>(nScale) / nUnits;
    return fFPS > kMaxFPS ? 0.0f : static_cast<float>(fFPS);
}

// The SPS fields from after the conformance window to the VUI; the frame rate
// when they all read, else 0.
float ReadFPSAfterSize(CJXBitReader& br, uint32_t nSubLayersMinus1)
{
    if (br.ReadUE() > kMaxBitDepthMinus8 || br.ReadUE() > kMaxBitDepthMinus8) return 0.0f;
    uint32_t nLog2PocLsbMinus4 = br.ReadUE();
    if (nLog2PocLsbMinus4 > kMaxLog2PocLsbMinus4) return 0.0f;
    // sps_sub_layer_ordering_info_present_flag: one entry per sub-layer, or only the last.
    uint32_t nFirst = br.ReadBit() ? 0 : nSubLayersMinus1;
    for (uint32_t i = nFirst; i <= nSubLayersMinus1; ++i) {
        br.ReadUE();   // sps_max_dec_pic_buffering_minus1
        br.ReadUE();   // sps_max_num_reorder_pics
        br.ReadUE();   // sps_max_latency_increase_plus1
    }
    for (int32_t i = 0; i < 6; ++i)
        br.ReadUE();   // coding block sizes, transform sizes and depths
    if (br.ReadBit() && br.ReadBit() && !SkipScalingListData(br))
        return 0.0f;      // scaling_list_enabled, sps_scaling_list_data_present
    br.SkipBits(2);       // amp_enabled_flag, sample_adaptive_offset_enabled_flag
    if (br.ReadBit()) {   // pcm_enabled_flag
        br.SkipBits(8);   // pcm sample bit depths
        br.ReadUE();
        br.ReadUE();
        br.SkipBits(1);   // pcm_loop_filter_disabled_flag
    }
    uint32_t nSets = br.ReadUE();   // num_short_term_ref_pic_sets
    if (br.HasError() || nSets > kMaxShortTermSets) return 0.0f;
    JXRefSet sets[kMaxShortTermSets];
    for (uint32_t i = 0; i < nSets; ++i) {
        if (!ReadShortTermRefSet(br, i, sets)) return 0.0f;
    }
    if (br.ReadBit()) {   // long_term_ref_pics_present_flag
        uint32_t nLong = br.ReadUE();
        if (nLong > kMaxLongTermPics) return 0.0f;
        for (uint32_t i = 0; i < nLong; ++i)
            br.SkipBits(static_cast<int32_t>(nLog2PocLsbMinus4) + 4 + 1);   // poc lsb, used flag
    }
    br.SkipBits(2);                       // temporal_mvp, strong_intra_smoothing
    if (br.HasError() || !br.ReadBit())   // vui_parameters_present_flag
        return 0.0f;
    return ReadVuiFPS(br);
}

}   // namespace

int32_t JXParseH265SPS(const uint8_t* pData, int32_t nLen, JXSpsInfo* pInfo)
{
    if (pInfo == nullptr || (pData == nullptr && nLen > 0)) return JX_ERR_ARG;
    if (nLen < 1) return JX_ERR_CONTENT;
    CJXBitReader br(pData, nLen);

    br.SkipBits(4);   // sps_video_parameter_set_id
    uint32_t nSubLayersMinus1 = br.ReadBits(3);
    if (nSubLayersMinus1 > kMaxSubLayersMinus1) return JX_ERR_CONTENT;
    br.SkipBits(1);   // sps_temporal_id_nesting_flag
    JXSpsInfo info;
    ReadProfileTierLevel(br, nSubLayersMinus1, info);
    if (br.ReadUE() > kMaxSpsId) return JX_ERR_CONTENT;
    uint32_t nChroma = br.ReadUE();
    if (nChroma > kMaxChromaFormat) return JX_ERR_CONTENT;
    uint32_t nSeparatePlanes = (nChroma == 3) ? br.ReadBit() : 0;
    uint64_t nWidth = br.ReadUE();
    uint64_t nHeight = br.ReadUE();
    uint64_t nWin[4] = {0, 0, 0, 0};   // left, right, top, bottom
    if (br.ReadBit()) {                // conformance_window_flag
        for (uint64_t& n : nWin)
            n = br.ReadUE();
    }
    if (br.HasError() || nWidth == 0 || nHeight == 0) return JX_ERR_CONTENT;

    // The window is given in chroma samples (Table 6-1); monochrome and separate
    // colour planes count luma samples.
    uint64_t nUnitX = 1;
    uint64_t nUnitY = 1;
    if (!nSeparatePlanes && (nChroma == 1 || nChroma == 2)) {
        nUnitX = 2;
        nUnitY = (nChroma == 1) ? 2 : 1;
    }
    uint64_t nCutX = nUnitX * (nWin[0] + nWin[1]);
    uint64_t nCutY = nUnitY * (nWin[2] + nWin[3]);
    if (nCutX >= nWidth || nCutY >= nHeight) return JX_ERR_CONTENT;
    nWidth -= nCutX;
    nHeight -= nCutY;
    if (nWidth > kMaxPictureSide || nHeight > kMaxPictureSide) return JX_ERR_CONTENT;

    info.nWidth = static_cast<uint16_t>(nWidth);
    info.nHeight = static_cast<uint16_t>(nHeight);
    info.fFPS = ReadFPSAfterSize(br, nSubLayersMinus1);
    *pInfo = info;
    return JX_OK;
}

CJXH265Head::~CJXH265Head() = default;

int32_t CJXH265Head::GetCodec() const
{
    return JX_CODEC_H265;
}

int32_t CJXH265Head::SetNAL(uint16_t nHeader, const uint8_t* pData, int32_t nLen)
{
    // Each set is kept behind its two header bytes.
    if (pData == nullptr || nLen < 1 || nLen > kMaxSetBytes - kHeaderBytes) return JX_ERR_ARG;
    uint8_t* pStore = nullptr;
    int32_t* pStoreLen = nullptr;
    switch ((nHeader >> 9) & 0x3F) {
    case kNalVPS:
        pStore = m_VPS;
        pStoreLen = &m_VPSLen;
        break;
    case kNalSPS: {
        // Cameras repeat the same set before every key frame: it is read once.
        if (m_SPSLen == nLen + kHeaderBytes && m_SPS[0] == (nHeader >> 8) && m_SPS[1] == (nHeader & 0xFF) &&
            memcmp(m_SPS + kHeaderBytes, pData, size_t(nLen)) == 0) {
            return JX_OK;
        }
        JXSpsInfo info;
        int32_t nRet = JXParseH265SPS(pData, nLen, &info);
        if (nRet != JX_OK) return nRet;
        m_Width = info.nWidth;
        m_Height = info.nHeight;
        m_FPS = info.fFPS;
        pStore = m_SPS;
        pStoreLen = &m_SPSLen;
        break;
    }
    case kNalPPS:
        pStore = m_PPS;
        pStoreLen = &m_PPSLen;
        break;
    default:
        return JX_ERR_UNSUPPORTED;
    }
    pStore[0] = static_cast<uint8_t>(nHeader >> 8);
    pStore[1] = static_cast<uint8_t>(nHeader & 0xFF);
    memcpy(pStore + kHeaderBytes, pData, static_cast<size_t>(nLen));
    *pStoreLen = nLen + kHeaderBytes;
    return JX_OK;
}

int32_t CJXH265Head::GetHeadSize(uint16_t nFlags)
{
    return SetBytes(nFlags, JX_NAL_FLAG_VPS, m_VPSLen) + SetBytes(nFlags, JX_NAL_FLAG_SPS, m_SPSLen) +
           SetBytes(nFlags, JX_NAL_FLAG_PPS, m_PPSLen);
}

int32_t CJXH265Head::WriteHead(uint8_t* pOut, uint16_t nFlags)
{
    if (pOut == nullptr) return 0;
    int32_t n = PutSet(pOut, nFlags, JX_NAL_FLAG_VPS, m_VPS, m_VPSLen);
    n += PutSet(pOut + n, nFlags, JX_NAL_FLAG_SPS, m_SPS, m_SPSLen);
    n += PutSet(pOut + n, nFlags, JX_NAL_FLAG_PPS, m_PPS, m_PPSLen);
    return n;
}

bool CJXH265Head::IsReady()
{
    return m_SPSLen > 0 && m_Width != 0 && m_Height != 0;
}

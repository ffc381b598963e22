// Access units are found the way a decoder finds them: a new picture starts
// at a slice that is the first of its picture, or at the NAL units that may
// only come before a picture's first slice (AUD, parameter sets, SEI).
#include "clip_video.h"

#include "JXBase.h"

namespace {
const uint8_t kH264Idr = 5;
const uint8_t kH264Sei = 6;
const uint8_t kH264Sps = 7;
const uint8_t kH264Pps = 8;
const uint8_t kH264Aud = 9;
const uint8_t kH264FirstReserved = 14;   // 14..18 come before a picture too
const uint8_t kH264LastReserved = 18;
const uint8_t kH264LastVcl = 5;
const uint8_t kH265LastVcl = 31;
const uint8_t kH265FirstIrap = 16;
const uint8_t kH265LastIrap = 23;
const uint8_t kH265Vps = 32;
const uint8_t kH265Sps = 33;
const uint8_t kH265Pps = 34;
const uint8_t kH265Aud = 35;
const uint8_t kH265PrefixSei = 39;
const uint8_t kH265FirstReservedPrefix = 41;   // 41..44 and 48..55 as well
const uint8_t kH265LastReservedPrefix = 44;
const uint8_t kH265FirstUnspecPrefix = 48;
const uint8_t kH265LastUnspecPrefix = 55;
const uint8_t kFirstSliceBit = 0x80;   // first_mb_in_slice == 0 / first_slice_segment_in_pic_flag

// Position after the next start code (00 00 01) at or after i, or n.
size_t NextStart(const uint8_t* p, size_t n, size_t i)
{
    for (; i + 3 <= n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
    }
    return n;
}
}   // namespace

uint8_t CClipVideo::NalType(const JXClipNal& nal) const
{
    const uint8_t b = m_Data[nal.nOffset];
    return m_H265 ? uint8_t((b >> 1) & 0x3F) : uint8_t(b & 0x1F);
}

bool CClipVideo::IsVcl(uint8_t nType) const
{
    return m_H265 ? nType <= kH265LastVcl : (nType >= 1 && nType <= kH264LastVcl);
}

bool CClipVideo::IsKey(uint8_t nType) const
{
    return m_H265 ? (nType >= kH265FirstIrap && nType <= kH265LastIrap) : nType == kH264Idr;
}

bool CClipVideo::StartsPicture(const JXClipNal& nal) const
{
    const uint32_t nHeader = m_H265 ? 2 : 1;
    if (nal.nLength <= nHeader) return false;
    return (m_Data[nal.nOffset + nHeader] & kFirstSliceBit) != 0;
}

bool CClipVideo::StartsUnitBeforeVcl(uint8_t nType) const
{
    if (m_H265) {
        return (nType >= kH265Vps && nType <= kH265Aud) || nType == kH265PrefixSei ||
               (nType >= kH265FirstReservedPrefix && nType <= kH265LastReservedPrefix) ||
               (nType >= kH265FirstUnspecPrefix && nType <= kH265LastUnspecPrefix);
    }
    return nType == kH264Sei || nType == kH264Sps || nType == kH264Pps || nType == kH264Aud ||
           (nType >= kH264FirstReserved && nType <= kH264LastReserved);
}

void CClipVideo::KeepParameterSet(const JXClipNal& nal)
{
    const uint8_t nType = NalType(nal);
    std::vector<uint8_t>* pKeep = nullptr;
    if (m_H265) {
        if (nType == kH265Vps) pKeep = &m_Vps;
        if (nType == kH265Sps) pKeep = &m_Sps;
        if (nType == kH265Pps) pKeep = &m_Pps;
    } else {
        if (nType == kH264Sps) pKeep = &m_Sps;
        if (nType == kH264Pps) pKeep = &m_Pps;
    }
    if (pKeep == nullptr || !pKeep->empty()) return;
    pKeep->assign(NalData(nal), NalData(nal) + nal.nLength);
}

int32_t CClipVideo::Parse(std::vector<uint8_t>&& data, bool bH265, std::string& sWhy)
{
    m_H265 = bH265;
    m_Data = std::move(data);
    m_Nals.clear();
    m_Units.clear();
    m_Vps.clear();
    m_Sps.clear();
    m_Pps.clear();
    const uint8_t* p = m_Data.data();
    const size_t n = m_Data.size();
    const size_t nHeader = bH265 ? 2 : 1;
    size_t nStart = NextStart(p, n, 0);
    while (nStart < n) {
        const size_t nNext = NextStart(p, n, nStart);
        size_t nEnd = nNext == n ? n : nNext - 3;
        while (nEnd > nStart && p[nEnd - 1] == 0) --nEnd;   // zero bytes belong to the next start code
        if (nEnd - nStart >= nHeader) m_Nals.push_back({uint32_t(nStart), uint32_t(nEnd - nStart)});
        nStart = nNext;
    }

    bool bUnitHasVcl = false;
    for (uint32_t i = 0; i < m_Nals.size(); ++i) {
        const uint8_t nType = NalType(m_Nals[i]);
        KeepParameterSet(m_Nals[i]);
        const bool bVcl = IsVcl(nType);
        const bool bNewUnit = m_Units.empty() || (bUnitHasVcl && ((bVcl && StartsPicture(m_Nals[i])) ||
                                                                   (!bVcl && StartsUnitBeforeVcl(nType))));
        if (bNewUnit) {
            m_Units.push_back({i, 0, false, false});
            bUnitHasVcl = false;
        }
        JXClipUnit& unit = m_Units.back();
        ++unit.nNals;
        if (bVcl) bUnitHasVcl = true;
        if (IsKey(nType)) unit.bKey = true;
        if (nType == (bH265 ? kH265Sps : kH264Sps)) unit.bHasParams = true;
    }
    // A trailing unit without a picture (parameter sets only) is no frame.
    if (!m_Units.empty() && !bUnitHasVcl) m_Units.pop_back();
    const char* pCodec = bH265 ? "H.265" : "H.264";
    if (m_Units.empty()) {
        sWhy = std::string("no ") + pCodec + " picture found (an Annex B file is expected)";
        return JX_ERR_CONTENT;
    }
    if (m_Sps.empty() || m_Pps.empty() || (bH265 && m_Vps.empty())) {
        sWhy = std::string("no ") + pCodec + " parameter sets in the clip";
        return JX_ERR_CONTENT;
    }
    if (!m_Units[0].bKey) {
        sWhy = "the clip does not begin with a key frame";
        return JX_ERR_CONTENT;
    }
    return JX_OK;
}

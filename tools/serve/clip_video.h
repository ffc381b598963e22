// An H.264 or H.265 Annex B clip cut into access units, with the parameter
// sets it carries, for streaming in a loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct JXClipNal {
    uint32_t nOffset;   // in CClipVideo::m_Data, after the start code
    uint32_t nLength;   // trailing zero bytes removed
};

struct JXClipUnit {
    uint32_t nFirstNal;
    uint32_t nNals;
    bool bKey;         // an IDR (H.264) or IRAP (H.265) picture
    bool bHasParams;   // carries its own SPS (and VPS for H.265)
};

class CClipVideo {
public:
    // Cut the Annex B bytes into NAL units and access units. 0, or
    // JX_ERR_CONTENT with the reason in sWhy (no picture, no key frame, no
    // parameter sets).
    int32_t Parse(std::vector<uint8_t>&& data, bool bH265, std::string& sWhy);

    const uint8_t* NalData(const JXClipNal& nal) const { return m_Data.data() + nal.nOffset; }
    uint8_t NalType(const JXClipNal& nal) const;

    bool m_H265 = false;
    std::vector<uint8_t> m_Data;
    std::vector<JXClipNal> m_Nals;
    std::vector<JXClipUnit> m_Units;
    // The first of each parameter set (VPS for H.265 only), as NAL units.
    std::vector<uint8_t> m_Vps;
    std::vector<uint8_t> m_Sps;
    std::vector<uint8_t> m_Pps;

private:
    bool IsVcl(uint8_t nType) const;
    bool StartsPicture(const JXClipNal& nal) const;   // first slice of a picture
    bool StartsUnitBeforeVcl(uint8_t nType) const;    // AUD, parameter sets, SEI...
    bool IsKey(uint8_t nType) const;
    void KeepParameterSet(const JXClipNal& nal);
};

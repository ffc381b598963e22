// A G.711 WAVE clip: 8 kHz mono, A-law (format 6) or mu-law (format 7).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CClipAudio {
public:
    static constexpr uint16_t kFormatALaw = 6;
    static constexpr uint16_t kFormatMuLaw = 7;
    static constexpr uint32_t kRate = 8000;

    // Read the RIFF chunks of the file's bytes. 0, or JX_ERR_CONTENT with the
    // reason in sWhy (not WAVE, another format, rate or channel count, no data).
    int32_t Parse(const std::vector<uint8_t>& file, std::string& sWhy);

    uint16_t m_Format = 0;
    std::vector<uint8_t> m_Samples;   // one byte a sample
};

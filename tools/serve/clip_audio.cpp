// Chunks are walked with their sizes checked against what is left, so a
// truncated or hostile file stops the walk instead of reading past the end.
#include "clip_audio.h"

#include "JXBase.h"

#include <cstring>

namespace {
const size_t kRiffHead = 12;    // "RIFF", size, "WAVE"
const size_t kChunkHead = 8;    // id, size
const size_t kFmtMinimum = 16;  // format, channels, rate, byte rate, block, bits
const uint16_t kBitsPerSample = 8;

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
}   // namespace

int32_t CClipAudio::Parse(const std::vector<uint8_t>& file, std::string& sWhy)
{
    m_Format = 0;
    m_Samples.clear();
    const uint8_t* p = file.data();
    const size_t n = file.size();
    if (n < kRiffHead || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "WAVE", 4) != 0) {
        sWhy = "not a WAVE file";
        return JX_ERR_CONTENT;
    }
    bool bFmt = false;
    size_t i = kRiffHead;
    while (i + kChunkHead <= n) {
        const uint8_t* pChunk = p + i;
        const size_t nSize = Le32(pChunk + 4);
        const size_t nLeft = n - i - kChunkHead;
        const uint8_t* pBody = pChunk + kChunkHead;
        if (memcmp(pChunk, "fmt ", 4) == 0) {
            if (nSize < kFmtMinimum || nSize > nLeft) break;
            m_Format = Le16(pBody);
            const uint16_t nChannels = Le16(pBody + 2);
            const uint32_t nRate = Le32(pBody + 4);
            const uint16_t nBits = Le16(pBody + 14);
            if ((m_Format != kFormatALaw && m_Format != kFormatMuLaw) || nChannels != 1 || nRate != kRate ||
                nBits != kBitsPerSample) {
                sWhy = "WAVE format " + std::to_string(m_Format) + ", " + std::to_string(nChannels) + " channel(s), " +
                       std::to_string(nRate) + " Hz: only G.711 A-law (6) or mu-law (7), 8000 Hz mono is served";
                return JX_ERR_CONTENT;
            }
            bFmt = true;
        } else if (memcmp(pChunk, "data", 4) == 0) {
            if (!bFmt) break;
            // A data size past the end (a file cut short) keeps what is there.
            const size_t nTake = nSize < nLeft ? nSize : nLeft;
            m_Samples.assign(pBody, pBody + nTake);
            if (!m_Samples.empty()) return JX_OK;
            sWhy = "no samples in the WAVE file";
            return JX_ERR_CONTENT;
        }
        if (nSize > nLeft) break;
        i += kChunkHead + nSize + (nSize & 1);   // chunks are padded to even sizes
    }
    sWhy = bFmt ? "no data chunk in the WAVE file" : "no usable fmt chunk in the WAVE file";
    return JX_ERR_CONTENT;
}

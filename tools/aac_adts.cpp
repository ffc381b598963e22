// ISO 14496-3 1.6.2.1 (AudioSpecificConfig) and 1.A.2 (ADTS); only the
// fields ADTS repeats are read from a config.
#include "aac_adts.h"

namespace {

const uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
const uint16_t kChannels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
const uint32_t kObjectTypeEscape = 31;
const uint32_t kRateEscape = 15;
const uint32_t kObjectTypeSBR = 5;
const uint32_t kObjectTypePS = 29;
const uint32_t kMaxAdtsObjectType = 4;
const uint16_t kBufferFullnessVbr = 0x7FF;

// Bits of a byte range, most significant first; past the end reads 0 and
// sets the error flag.
struct CBits {
    const uint8_t* p;
    size_t nBits;
    size_t nPos = 0;
    bool bError = false;

    uint32_t Read(uint32_t n)
    {
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; ++i, ++nPos) {
            if (nPos >= nBits) {
                bError = true;
                return 0;
            }
            v = (v << 1) | ((p[nPos / 8] >> (7 - nPos % 8)) & 1u);
        }
        return v;
    }
    uint32_t ObjectType()
    {
        const uint32_t n = Read(5);
        return n == kObjectTypeEscape ? 32 + Read(6) : n;
    }
};

}   // namespace

bool JXAdtsFromConfig(const uint8_t* pConfig, size_t nLen, JXAdtsFormat& out)
{
    if (pConfig == nullptr) return false;
    CBits bits{pConfig, nLen * 8};
    uint32_t nType = bits.ObjectType();
    const uint32_t nRateIndex = bits.Read(4);
    const uint32_t nChannelConfig = bits.Read(4);
    if (nType == kObjectTypeSBR || nType == kObjectTypePS) {
        if (bits.Read(4) == kRateEscape) bits.Read(24);   // the output rate; ADTS keeps the core's
        nType = bits.ObjectType();
    }
    if (bits.bError || nType == 0 || nType > kMaxAdtsObjectType || nRateIndex >= 13 || nChannelConfig == 0 ||
        nChannelConfig > 7) {
        return false;
    }
    // GASpecificConfig begins with frameLengthFlag: 960-sample frames.
    const bool bShortFrames = bits.Read(1) != 0;
    if (bits.bError) return false;
    out.nFrameSamples = bShortFrames ? 960 : 1024;
    out.nProfile = uint8_t(nType - 1);
    out.nRateIndex = uint8_t(nRateIndex);
    out.nChannelConfig = uint8_t(nChannelConfig);
    out.nRate = kRates[nRateIndex];
    out.nChannels = kChannels[nChannelConfig];
    return true;
}

//   syncword 12 | ID 1 | layer 2 | protection_absent 1 | profile 2 | rate index 4 |
//   private 1 | channels 3 | original 1 | home 1 | copyright bits 2 |
//   frame length 13 | buffer fullness 11 | raw data blocks less one 2
void JXAdtsHeader(const JXAdtsFormat& format, size_t nUnit, uint8_t* pOut)
{
    const uint32_t nFrame = uint32_t(nUnit + kAdtsHeaderBytes);
    pOut[0] = 0xFF;
    pOut[1] = 0xF1;   // MPEG-4, no CRC
    pOut[2] = uint8_t((format.nProfile << 6) | (format.nRateIndex << 2) | (format.nChannelConfig >> 2));
    pOut[3] = uint8_t(((format.nChannelConfig & 3) << 6) | (nFrame >> 11));
    pOut[4] = uint8_t(nFrame >> 3);
    pOut[5] = uint8_t(((nFrame & 7) << 5) | (kBufferFullnessVbr >> 6));
    pOut[6] = uint8_t((kBufferFullnessVbr & 0x3F) << 2);
}

bool JXAdtsRead(const uint8_t* p, size_t n, size_t& nHead, size_t& nFrame, JXAdtsFormat& out)
{
    if (n < kAdtsHeaderBytes || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
    nHead = (p[1] & 1) != 0 ? kAdtsHeaderBytes : kAdtsHeaderBytes + 2;
    nFrame = (size_t(p[3] & 3) << 11) | (size_t(p[4]) << 3) | (p[5] >> 5);
    out.nProfile = uint8_t(p[2] >> 6);
    out.nRateIndex = uint8_t((p[2] >> 2) & 0x0F);
    out.nChannelConfig = uint8_t(((p[2] & 1) << 2) | (p[3] >> 6));
    if (nFrame <= nHead || nFrame > n || out.nRateIndex >= 13 || out.nChannelConfig == 0) return false;
    out.nRate = kRates[out.nRateIndex];
    out.nChannels = kChannels[out.nChannelConfig];
    return true;
}

void JXAdtsConfig(const JXAdtsFormat& format, uint8_t* pOut)
{
    const uint32_t nType = format.nProfile + 1u;
    pOut[0] = uint8_t((nType << 3) | (format.nRateIndex >> 1));
    pOut[1] = uint8_t(((format.nRateIndex & 1) << 7) | (format.nChannelConfig << 3));
}

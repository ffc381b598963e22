// AudioSpecificConfig (ISO 14496-3 1.6.2.1) and StreamMuxConfig (1.7.3) reading.
#include "rtpaacconfig.h"

#include "rtpbits.h"

#include <cstring>

namespace {

constexpr uint32_t kObjectTypeEscape = 31;
constexpr uint32_t kObjectTypeSBR = 5;
constexpr uint32_t kObjectTypePS = 29;
constexpr uint32_t kObjectTypeERBSAC = 22;
constexpr uint32_t kObjectTypeLD = 23;
constexpr uint32_t kRateEscape = 15;
constexpr uint32_t kSyncExtensionSBR = 0x2B7;   // 11 bits: SBR signalled behind a config
constexpr uint32_t kSyncExtensionPS = 0x548;
constexpr uint32_t kSyncExtensionBits = 11;

// ISO 14496-3 Table 1.18: samplingFrequencyIndex; 0 for the reserved ones.
const uint32_t kRates[15] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                             16000, 12000, 11025, 8000,  7350,  0,     0};
// Table 1.19: channelConfiguration; 0 where a PCE or nothing tells.
const uint16_t kChannels[16] = {0, 1, 2, 3, 4, 5, 6, 8, 0, 0, 0, 7, 8, 24, 8, 0};

// GetAudioObjectType(): 5 bits, 31 escaping to 32 + 6 more.
uint32_t ReadObjectType(CBitSpan& bits)
{
    const uint32_t nType = bits.Read(5);
    return nType == kObjectTypeEscape ? 32 + bits.Read(6) : nType;
}

// samplingFrequencyIndex, or 24 bits of rate behind index 15; 0 when reserved.
uint32_t ReadRate(CBitSpan& bits)
{
    const uint32_t nIndex = bits.Read(4);
    return nIndex == kRateEscape ? bits.Read(24) : kRates[nIndex];
}

// AAC object types carried by GASpecificConfig (Table 1.17).
bool IsGeneralAudio(uint32_t nType)
{
    switch (nType) {
    case 1: case 2: case 3: case 4: case 6: case 7:
    case 17: case 19: case 20: case 21: case 22: case 23:
        return true;
    default:
        return false;
    }
}

// Error-resilient types end the config with epConfig.
bool IsErrorResilient(uint32_t nType)
{
    return nType == 17 || (nType >= 19 && nType <= 27);
}

// program_config_element() (4.4.1.1): the channels it lays out. Its
// byte_alignment() counts from the start of the AudioSpecificConfig, nStart.
uint16_t ReadProgramConfig(CBitSpan& bits, int64_t nStart)
{
    bits.Skip(4 + 2 + 4);   // element_instance_tag, object_type, sampling_frequency_index
    const uint32_t nFront = bits.Read(4);
    const uint32_t nSide = bits.Read(4);
    const uint32_t nBack = bits.Read(4);
    const uint32_t nLfe = bits.Read(2);
    const uint32_t nAssoc = bits.Read(3);
    const uint32_t nCc = bits.Read(4);
    if (bits.Read(1) != 0) bits.Skip(4);   // mono_mixdown_element_number
    if (bits.Read(1) != 0) bits.Skip(4);   // stereo_mixdown_element_number
    if (bits.Read(1) != 0) bits.Skip(3);   // matrix_mixdown_idx, pseudo_surround_enable
    uint32_t nChannels = nLfe;
    for (uint32_t i = 0; i < nFront + nSide + nBack; ++i) {
        nChannels += bits.Read(1) != 0 ? 2 : 1;   // a channel pair or a single channel
        bits.Skip(4);
    }
    bits.Skip(4 * (nLfe + nAssoc) + 5 * nCc);
    const int64_t nMisaligned = (bits.Pos() - nStart) & 7;
    if (nMisaligned != 0) bits.Skip(8 - nMisaligned);
    bits.Skip(8 * static_cast<int64_t>(bits.Read(8)));   // comment_field_bytes
    return static_cast<uint16_t>(nChannels);
}

// AudioSpecificConfig() (1.6.2.1) from the bits' position, which nStart is.
int32_t ReadAudioSpecificConfig(CBitSpan& bits, int64_t nStart, CAACConfig& out)
{
    uint32_t nType = ReadObjectType(bits);
    out.m_CoreRate = ReadRate(bits);
    out.m_SampleRate = out.m_CoreRate;
    const uint32_t nChannelConfig = bits.Read(4);
    out.m_Channels = kChannels[nChannelConfig];
    bool bParametricStereo = false;
    const bool bExplicitSBR = nType == kObjectTypeSBR || nType == kObjectTypePS;
    if (bExplicitSBR) {
        bParametricStereo = nType == kObjectTypePS;
        out.m_SampleRate = ReadRate(bits);   // of the decoded sound; the core runs at half
        nType = ReadObjectType(bits);
        if (nType == kObjectTypeERBSAC) bits.Skip(4);   // extensionChannelConfiguration
    }
    out.m_ObjectType = nType;
    if (bits.Error()) return JX_ERR_CONTENT;
    if (!IsGeneralAudio(nType)) return JX_ERR_UNSUPPORTED;
    if (out.m_CoreRate == 0 || out.m_SampleRate == 0) return JX_ERR_CONTENT;
    // GASpecificConfig (4.4.1): the frame length, and the fields up to its end.
    const bool bShortFrame = bits.Read(1) != 0;
    if (nType == kObjectTypeLD) {
        out.m_FrameSamples = bShortFrame ? 480 : 512;
    } else {
        out.m_FrameSamples = bShortFrame ? 960 : 1024;
    }
    if (bits.Read(1) != 0) bits.Skip(14);   // dependsOnCoreCoder: coreCoderDelay
    const bool bExtension = bits.Read(1) != 0;
    if (nChannelConfig == 0) out.m_Channels = ReadProgramConfig(bits, nStart);
    if (nType == 6 || nType == 20) bits.Skip(3);   // layerNr
    if (bExtension) {
        if (nType == kObjectTypeERBSAC) bits.Skip(5 + 11);   // numOfSubFrame, layer_length
        if (nType == 17 || nType == 19 || nType == 20 || nType == 23) bits.Skip(3);   // resilience flags
        bits.Skip(1);   // extensionFlag3
    }
    if (IsErrorResilient(nType) && bits.Read(2) >= 2) {
        return JX_ERR_UNSUPPORTED;   // epConfig 2 and 3 carry an error protection config
    }
    // SBR signalled behind the config (1.6.5.2), as encoders write it to keep
    // old decoders working: present, it doubles the rate of the sound. In a
    // StreamMuxConfig the config's length is not given, so the extension is
    // known by its sync word (what may follow there, frameLengthType 2, is not
    // taken anyway).
    if (!bExplicitSBR && bits.Left() >= 16 && bits.Peek(kSyncExtensionBits) == kSyncExtensionSBR) {
        bits.Skip(kSyncExtensionBits);
        const uint32_t nExtension = ReadObjectType(bits);
        if (nExtension == kObjectTypeSBR && bits.Read(1) != 0) {
            out.m_SampleRate = ReadRate(bits);
            if (bits.Left() >= 12 && bits.Peek(kSyncExtensionBits) == kSyncExtensionPS) {
                bits.Skip(kSyncExtensionBits);
                bParametricStereo = bits.Read(1) != 0;
            }
        } else if (nExtension == kObjectTypeERBSAC && bits.Read(1) != 0) {
            out.m_SampleRate = ReadRate(bits);
            bits.Skip(4);   // extensionChannelConfiguration
        }
        if (out.m_SampleRate == 0) return JX_ERR_CONTENT;
    }
    if (bParametricStereo && out.m_Channels == 1) out.m_Channels = 2;
    if (bits.Error() || out.m_Channels == 0) return JX_ERR_CONTENT;
    return out.m_Channels > CAACConfig::kMaxChannels ? JX_ERR_UNSUPPORTED : JX_OK;
}

// nCount bits from bit nFrom of pData into whole bytes at pOut, the last
// padded with zero bits. The bytes written.
int32_t CopyBits(const uint8_t* pData, int64_t nFrom, int64_t nCount, uint8_t* pOut)
{
    CBitSpan bits(pData, nFrom + nCount);
    bits.Skip(nFrom);
    const int32_t nBytes = static_cast<int32_t>((nCount + 7) / 8);
    for (int32_t i = 0; i < nBytes; ++i) {
        const uint32_t nTake = nCount - 8 * i >= 8 ? 8 : static_cast<uint32_t>(nCount - 8 * i);
        pOut[i] = static_cast<uint8_t>(bits.Read(nTake) << (8 - nTake));
    }
    return nBytes;
}

// LatmGetValue() (1.7.3): 1 to 4 bytes, their count in 2 bits first.
uint32_t ReadLatmValue(CBitSpan& bits)
{
    const uint32_t nBytes = bits.Read(2) + 1;
    uint32_t nValue = 0;
    for (uint32_t i = 0; i < nBytes; ++i) {
        nValue = (nValue << 8) | bits.Read(8);
    }
    return nValue;
}

}   // namespace

// ---------------------------------------------------------------------------
// CAACConfig

int32_t CAACConfig::Parse(const uint8_t* pData, int32_t nLen)
{
    *this = CAACConfig();
    if (pData == nullptr || nLen <= 0 || nLen > JX_AUDIO_CONFIG_BYTES) return JX_ERR_CONTENT;
    CBitSpan bits(pData, 8 * static_cast<int64_t>(nLen));
    const int32_t nResult = ReadAudioSpecificConfig(bits, 0, *this);
    if (nResult != JX_OK) return nResult;
    // The bytes as given, with whatever follows the fields read (an SBR
    // extension signalled behind them): a decoder reads them all.
    memcpy(m_Bytes, pData, static_cast<size_t>(nLen));
    m_Length = nLen;
    return JX_OK;
}

int32_t CAACConfig::ParseStreamMux(const uint8_t* pData, int32_t nLen, uint32_t& nSubFrames, uint32_t& nOtherBytes)
{
    *this = CAACConfig();
    if (pData == nullptr || nLen <= 0 || nLen > JX_AUDIO_CONFIG_BYTES) return JX_ERR_CONTENT;
    CBitSpan bits(pData, 8 * static_cast<int64_t>(nLen));
    const uint32_t nVersion = bits.Read(1);
    if (nVersion == 1 && bits.Read(1) != 0) return JX_ERR_UNSUPPORTED;   // audioMuxVersionA 1: reserved
    if (nVersion == 1) ReadLatmValue(bits);                              // taraBufferFullness
    const uint32_t nSameTimeFraming = bits.Read(1);
    nSubFrames = bits.Read(6) + 1;
    const uint32_t nPrograms = bits.Read(4) + 1;
    const uint32_t nLayers = bits.Read(3) + 1;
    if (bits.Error()) return JX_ERR_CONTENT;
    if (nSameTimeFraming != 1 || nPrograms != 1 || nLayers != 1) return JX_ERR_UNSUPPORTED;
    const uint32_t nConfigBits = nVersion == 1 ? ReadLatmValue(bits) : 0;
    const int64_t nStart = bits.Pos();
    const int32_t nResult = ReadAudioSpecificConfig(bits, nStart, *this);
    if (nResult != JX_OK) return nResult;
    int64_t nUsed = bits.Pos() - nStart;
    if (nVersion == 1) {
        // The length given counts the fill bits behind the fields read.
        if (nConfigBits < nUsed) return JX_ERR_CONTENT;
        bits.Skip(nConfigBits - nUsed);
        nUsed = nConfigBits;
    }
    if (bits.Error() || (nUsed + 7) / 8 > JX_AUDIO_CONFIG_BYTES) return JX_ERR_CONTENT;
    // GStreamer's payloader ends the config right behind the AudioSpecificConfig;
    // the fields it leaves out read as 0, which is what it means: lengths in
    // PayloadLengthInfo, no other data, no checksum.
    const uint32_t nFrameLengthType = bits.Read(3);
    if (nFrameLengthType != 0) return JX_ERR_UNSUPPORTED;   // fixed-length and CELP/HVXC frames
    bits.Skip(8);                                           // latmBufferFullness
    uint64_t nOtherBits = 0;
    if (bits.Read(1) != 0) {
        if (nVersion == 1) {
            nOtherBits = ReadLatmValue(bits);
        } else {
            uint32_t nEscape = 1;
            for (int i = 0; nEscape != 0 && i < 4; ++i) {   // 4 bytes hold any 32-bit length
                nEscape = bits.Read(1);
                nOtherBits = (nOtherBits << 8) + bits.Read(8);
            }
            if (nEscape != 0) return JX_ERR_CONTENT;
        }
    }
    if (nOtherBits > 8u * CRTPMediaAudio::kMaxFrameBytes) return JX_ERR_CONTENT;
    nOtherBytes = static_cast<uint32_t>((nOtherBits + 7) / 8);
    m_Length = CopyBits(pData, nStart, nUsed, m_Bytes);
    return JX_OK;
}

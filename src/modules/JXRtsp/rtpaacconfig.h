// The AAC configuration of a stream: an AudioSpecificConfig, given as such
// (MPEG-4 generic) or inside an MP4A-LATM StreamMuxConfig, read field by field
// with every length bounded by the bytes given.
#pragma once

#include "rtpmedia.h"

// What an AudioSpecificConfig (ISO 14496-3 1.6.2.1) tells a receiver.
struct JXRTSP_API CAACConfig {
    // A config with more channels is refused.
    static constexpr uint16_t kMaxChannels = 48;

    // The config as a decoder takes it, byte-aligned: JX_AUDIO_CONFIG_BYTES at most.
    uint8_t m_Bytes[JX_AUDIO_CONFIG_BYTES] = {};
    int32_t m_Length = 0;
    uint32_t m_ObjectType = 0;   // 2 AAC LC, 5 with SBR, 29 with PS: the core's type is kept
    uint32_t m_CoreRate = 0;     // samples a second of the core coder: the frame's clock
    uint32_t m_SampleRate = 0;   // of the decoded sound (twice the core's with SBR)
    uint16_t m_Channels = 0;     // 0 when neither the channel configuration nor a PCE tells
    uint16_t m_FrameSamples = 0; // core samples in one access unit: 1024, 960, 512 or 480

    // Reads a whole AudioSpecificConfig from nLen bytes. JX_OK, JX_ERR_CONTENT
    // for one that runs short or is malformed, JX_ERR_UNSUPPORTED for an
    // object type that is not AAC.
    int32_t Parse(const uint8_t* pData, int32_t nLen);
    // Reads an MP4A-LATM StreamMuxConfig (ISO 14496-3 1.7.3) of one program
    // and one layer, keeping its AudioSpecificConfig. nSubFrames receives the
    // access units of one audioMuxElement, nOtherBytes the other data that
    // ends each. Codes as Parse.
    int32_t ParseStreamMux(const uint8_t* pData, int32_t nLen, uint32_t& nSubFrames, uint32_t& nOtherBytes);
};

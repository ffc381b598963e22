// Description of a session's media: one video part and one audio part, each
// absent (null) until filled.
#pragma once

#include "JXMediaHead.h"

class CPacket;

struct JXVideoDesc {
    uint16_t nCodec = 0;   // JX_CODEC_*, or a stream's private code (16..47)
    uint16_t nWidth = 0;
    uint16_t nHeight = 0;
    float fFPS = 0.0f;
};

// Room for an audio codec's configuration: an AAC AudioSpecificConfig is a
// few bytes, 64 hold any that a camera sends.
constexpr int32_t JX_AUDIO_CONFIG_BYTES = 64;

struct JXAudioDesc {
    uint16_t nCodec = 0;
    uint16_t nChannels = 0;
    uint32_t nRate = 0;   // samples per second
    // Appended behind the fields above, which hosts built before them read
    // unchanged: the codec's configuration (AAC: the AudioSpecificConfig,
    // as a decoder or a container takes it), nConfigLen bytes; 0 for codecs
    // that have none.
    uint16_t nConfigLen = 0;
    uint8_t aConfig[JX_AUDIO_CONFIG_BYTES] = {};
};

class JXBASE_API CJXMediaDesc : public CJXObject {
public:
    // A new, empty description (nVersion: 1, kept for the contract); null when
    // memory runs out.
    static CJXMediaDesc* Create(int32_t nVersion = 1);
    // Copy for a caller, who releases it.
    CJXMediaDesc* Clone() const;
    void Release();

    // Fill the video part from a key frame (H.264 or H.265 parameter sets in
    // front of the frame, or a JPEG picture's frame header), or the audio part
    // from an audio frame. 0, JX_ERR_ARG, or JX_ERR_CONTENT when the frame
    // tells no size.
    int32_t Setup(const CPacket* pPacket);
    // Codec, channels and rate of the audio part; any configuration it held is
    // cleared. 0, JX_ERR_ARG (no channels or rate) or JX_ERR_NOMEM.
    int32_t SetupAudio(uint16_t nCodec, uint16_t nChannels, uint32_t nRate);
    // The audio codec's configuration, after SetupAudio. 0, JX_ERR_STATE (no
    // audio part), or JX_ERR_ARG (null, or longer than JX_AUDIO_CONFIG_BYTES).
    int32_t SetAudioConfig(const uint8_t* pConfig, int32_t nLen);
    // Fill the video part from a parameter-set head that is ready. 0, JX_ERR_ARG
    // or JX_ERR_STATE (head not ready).
    int32_t SetVideoHead(CJXMediaHead* pHead);

    JXVideoDesc* m_Video = nullptr;
    JXAudioDesc* m_Audio = nullptr;

private:
    CJXMediaDesc() = default;
    ~CJXMediaDesc() override;
    CJXMediaDesc(const CJXMediaDesc&) = delete;
    CJXMediaDesc& operator=(const CJXMediaDesc&) = delete;
};

// Size of a JPEG picture from its SOF frame header. 0 or JX_ERR_CONTENT.
extern "C" JXBASE_API int32_t JXParseJpegSize(const uint8_t* pData, int32_t nLen, uint16_t* pWidth, uint16_t* pHeight);

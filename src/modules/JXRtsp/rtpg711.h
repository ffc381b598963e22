// G.711 audio depacketizers: the 8-bit samples of each group of RTP packets
// that share a timestamp become one audio frame, passed on undecoded.
#pragma once

#include "rtpmedia.h"

// A-law. The law is the class's, chosen from the stream's a=rtpmap: line, so a
// dynamic payload type mapped to PCMA is delivered and described as A-law.
class JXRTSP_API CRTPPCMA : public CRTPMediaAudio {
public:
    static constexpr uint16_t kDefaultPayloadType = 8;
    static constexpr uint32_t kSampleRate = 8000;
    static constexpr uint16_t kChannels = 1;

    explicit CRTPPCMA(CRTPSocket* pSocket);
    ~CRTPPCMA() override;

    // Order checks, then the payload is appended to the frame.
    int OnRecvRTP(CRTPParser& rtp) override;
    // One audio frame of the gathered samples. 0, or a negative code.
    int PackFrame() override;
    // (codec, 1 channel, 8000 Hz). 0, or JX_ERR_ARG for no description.
    int GetHead(CJXMediaDesc* pDesc) override;
    int32_t CheckInvariants() const override;

    const uint8_t m_Codec;   // JX_CODEC_PCMA or JX_CODEC_PCMU

protected:
    CRTPPCMA(CRTPSocket* pSocket, uint8_t nCodec, uint16_t nPayloadType);
};

// Mu-law.
class JXRTSP_API CRTPPCMU : public CRTPPCMA {
public:
    static constexpr uint16_t kDefaultPayloadType = 0;

    explicit CRTPPCMU(CRTPSocket* pSocket);
    ~CRTPPCMU() override;
};

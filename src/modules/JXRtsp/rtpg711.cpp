// G.711 audio depacketizers.
#include "rtpg711.h"

#include "rtpparser.h"

CRTPPCMA::CRTPPCMA(CRTPSocket* pSocket) : CRTPPCMA(pSocket, JX_CODEC_PCMA, kDefaultPayloadType) {}

CRTPPCMA::CRTPPCMA(CRTPSocket* pSocket, uint8_t nCodec, uint16_t nPayloadType)
    : CRTPMediaAudio(pSocket), m_Codec(nCodec)
{
    m_PayloadType = nPayloadType;   // the stream sets its own at once
}

CRTPPCMA::~CRTPPCMA() = default;

int CRTPPCMA::OnRecvRTP(CRTPParser& rtp)
{
    const int nResult = CRTPMediaAudio::OnRecvRTP(rtp);
    if (nResult != 0) {
        return nResult;
    }
    const int32_t nAppend = AppendFrame(rtp.Payload(), rtp.PayloadLength());
    if (nAppend != JX_OK) {
        return nAppend;
    }
    // Every G.711 packet is whole samples: it goes out at once, not when the
    // next one shows that its timestamp ended.
    PackFrame();
    return JX_OK;
}

int CRTPPCMA::PackFrame()
{
    // One byte a sample.
    return DeliverFrame(m_Codec, kSampleRate, static_cast<uint32_t>(m_Buffer.m_Length));
}

int CRTPPCMA::GetHead(CJXMediaDesc* pDesc)
{
    if (pDesc == nullptr) {
        return JX_ERR_ARG;
    }
    return pDesc->SetupAudio(m_Codec, kChannels, kSampleRate);
}

int32_t CRTPPCMA::CheckInvariants() const
{
    const int32_t nResult = CRTPMediaAudio::CheckInvariants();
    if (nResult != JX_OK) {
        return nResult;
    }
    if (m_Codec != JX_CODEC_PCMA && m_Codec != JX_CODEC_PCMU) {
        JXPrintf("g711: invariant broken: codec neither A-law nor mu-law\n");
        return JX_ERR_STATE;
    }
    return JX_OK;
}

CRTPPCMU::CRTPPCMU(CRTPSocket* pSocket) : CRTPPCMA(pSocket, JX_CODEC_PCMU, kDefaultPayloadType) {}

CRTPPCMU::~CRTPPCMU() = default;

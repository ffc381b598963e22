// G.711 depacketizers. Input: records [2-byte big-endian length][RTP packet],
// each fed through the RTP header parser into an A-law and a mu-law
// depacketizer. After every packet both must pass their invariants; every
// delivered frame must be audio of its class's law holding the gathered bytes.
#include "rtpg711.h"
#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstdlib>
#include <cstring>

namespace {

class CFuzzSink : public CRTPSocket {
public:
    // The frame must be audio of the class's law and hold exactly the bytes
    // still gathered in the depacketizer, which packs before it clears.
    int OnRecvFrame(CPacket* pFrame) override
    {
        const CJXString& buffer = m_G711->m_Buffer;
        if (pFrame->FrameGetType() != JX_FRAME_AUDIO || pFrame->FrameGetCodec() != m_Codec ||
            pFrame->FrameGetLength() == 0 || pFrame->FrameGetLength() != static_cast<uint32_t>(buffer.m_Length) ||
            memcmp(pFrame->FrameGetData(), buffer.m_Data, pFrame->FrameGetLength()) != 0) {
            abort();
        }
        return 0;
    }
    CRTPPCMA* m_G711 = nullptr;
    uint8_t m_Codec = 0;
};

void FeedOne(const uint8_t* pData, size_t nLen, CRTPPCMA& g711)
{
    CRTPParser rtp;
    if (rtp.Setup(pData, static_cast<uint32_t>(nLen)) == JX_OK) {
        g711.Receive(rtp);
    }
    if (g711.CheckInvariants() != JX_OK) {
        abort();
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzSink sinkA, sinkU;
    auto* pA = new CRTPPCMA(&sinkA);
    auto* pU = new CRTPPCMU(&sinkU);
    sinkA.m_Media = pA;   // deleted with their streams
    sinkU.m_Media = pU;
    sinkA.m_G711 = pA;
    sinkU.m_G711 = pU;
    sinkA.m_Codec = JX_CODEC_PCMA;
    sinkU.m_Codec = JX_CODEC_PCMU;
    pU->m_PayloadType = 97;   // a dynamic number: the law is still the class's
    size_t nPos = 0;
    while (nSize - nPos >= 2) {
        const size_t nLen = (static_cast<size_t>(pData[nPos]) << 8) | pData[nPos + 1];
        nPos += 2;
        const size_t nTake = nLen < nSize - nPos ? nLen : nSize - nPos;
        // An exact heap copy, so that a read past the packet is caught.
        uint8_t* pCopy = static_cast<uint8_t*>(malloc(nTake > 0 ? nTake : 1));
        if (pCopy == nullptr) {
            return 0;
        }
        memcpy(pCopy, pData + nPos, nTake);
        nPos += nTake;
        FeedOne(pCopy, nTake, *pA);
        FeedOne(pCopy, nTake, *pU);
        free(pCopy);
    }
    return 0;
}

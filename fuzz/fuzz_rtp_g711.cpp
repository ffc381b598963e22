// G.711 depacketizers. Input: records [2-byte big-endian length][RTP packet],
// each fed through the RTP header parser into an A-law and a mu-law
// depacketizer. After every packet both must pass their invariants; every
// delivered frame must be audio of its class's law holding the gathered bytes.
#include "rtpg711.h"
#include "fuzz_rtp_records.h"
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
        const CRTPFrameStore& buffer = m_G711->m_Buffer;
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
    CRTPMedia* aMedia[] = {pA, pU};
    FeedRtpRecords(pData, nSize, 0, aMedia, 2);
    return 0;
}

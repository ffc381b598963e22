// AAC depacketizers. Input: one byte choosing the form and its a=fmtp: line
// (bit 0: MP4A-LATM, else mpeg4-generic; bits 1-2: one of four lines of that
// form), then records [2-byte big-endian length][RTP packet], each fed
// through the RTP header parser. After every packet the depacketizer must
// pass its invariants; every delivered frame must be a non-empty AAC audio
// frame at the config's rate, no larger than the packets fed so far.
#include "rtpaac.h"
#include "fuzz_rtp_records.h"
#include "rtpsocket.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const kGenericLines[] = {
    "streamtype=5;mode=AAC-hbr;config=1408;sizelength=13;indexlength=3;indexdeltalength=3",
    "mode=AAC-lbr;config=1190",   // the mode's lengths: 6, 2, 2
    // Every optional field: RAP flag, stream state, auxiliary section.
    ("mode=AAC-hbr;config=1408;sizelength=13;indexlength=3;indexdeltalength=3;randomaccessindication=1;"
     "streamstateindication=2;auxiliarydatasizelength=8"),
    "mode=AAC-hbr;config=1408;sizelength=0;indexlength=2;indexdeltalength=2;constantsize=4",
};
const char* const kLatmLines[] = {
    "cpresent=0;config=40002810",
    "cpresent=0;config=410028103fc0",       // two units an element
    "cpresent=0;config=400028103fe100",     // 2 bytes of other data an element
    "cpresent=0;config=8ff80001014081fe00",  // version 1
};

class CFuzzSink : public CRTPSocket {
public:
    int OnRecvFrame(CPacket* pFrame) override
    {
        if (pFrame->FrameGetType() != JX_FRAME_AUDIO || pFrame->FrameGetCodec() != JX_CODEC_AAC ||
            pFrame->FrameGetLength() == 0 || pFrame->FrameGetLength() > m_BytesFed ||
            pFrame->FrameGetFreq() != m_Rate) {
            abort();
        }
        return 0;
    }
    uint64_t m_BytesFed = 0;
    uint32_t m_Rate = 0;
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) {
        return 0;
    }
    const bool bLatm = (pData[0] & 1) != 0;
    const size_t nLine = (pData[0] >> 1) & 3;
    CFuzzSink sink;
    CRTPAACMedia* pAAC = bLatm ? static_cast<CRTPAACMedia*>(new CRTPLATM(&sink)) : new CRTPAAC(&sink);
    sink.m_Media = pAAC;   // deleted with its stream
    pAAC->m_PayloadType = 96;
    pAAC->m_Clock.SetRate(16000);
    if (pAAC->Setup(bLatm ? kLatmLines[nLine] : kGenericLines[nLine]) != JX_OK) {
        abort();   // every line above is one the depacketizer takes
    }
    sink.m_Rate = pAAC->m_Config.m_SampleRate;
    CRTPMedia* aMedia[] = {pAAC};
    FeedRtpRecords(pData, nSize, 1, aMedia, 1, &sink.m_BytesFed);
    return 0;
}

// JPEG depacketizer. Input: records [2-byte big-endian length][RTP packet],
// fed in order through the RTP header parser into a CRTPMJPEG that knows a
// picture size from its SDP. After every packet its invariants must hold;
// every delivered picture must start with SOI, end with EOI and be followed by
// the 32 zero bytes of a video frame.
#include "rtpmjpeg.h"
#include "fuzz_rtp_records.h"
#include "rtpsocket.h"

#include <cstdlib>
#include <cstring>

namespace {

class CFuzzSink : public CRTPSocket {
public:
    int OnRecvFrame(CPacket* pFrame) override
    {
        const uint8_t* p = pFrame->FrameGetData();
        const uint32_t n = pFrame->FrameGetLength();
        if (n < 4 || p[0] != 0xFF || p[1] != 0xD8 || p[n - 2] != 0xFF || p[n - 1] != 0xD9) {
            abort();
        }
        for (int i = 0; i < CRTPMediaVideo::kZeroTail; ++i) {
            if (p[n + i] != 0) {
                abort();
            }
        }
        return 0;
    }
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzSink sink;
    auto* pJpeg = new CRTPMJPEG(&sink);
    sink.m_Media = pJpeg;   // deleted with the stream
    pJpeg->Setup("x-dimensions=2064,48");
    CRTPMedia* aMedia[] = {pJpeg};
    FeedRtpRecords(pData, nSize, 0, aMedia, 1);
    return 0;
}

// H.264 depacketizer fed packet sequences (see fuzz_rtp_nal.h). The fmtp line
// gives a 352x288 SPS and a PPS, so frames are delivered from the start; in-band
// sets may replace them.
#include "fuzz_rtp_nal.h"
#include "rtph264.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzNalSink sink;
    FuzzNalRecords(sink, new CRTPH264(&sink),
                   "packetization-mode=1;sprop-parameter-sets=Z0LADdkBYJbARAAAAwAEAAADAMg8UKkg,aMuDyyA=", pData, nSize);
    return 0;
}

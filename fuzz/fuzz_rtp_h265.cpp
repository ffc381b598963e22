// H.265 depacketizer fed packet sequences (see fuzz_rtp_nal.h). The fmtp line
// gives a 640x360 VPS, SPS and PPS; in-band sets may replace them.
#include "fuzz_rtp_nal.h"
#include "rtph265.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzNalSink sink;
    FuzzNalRecords(sink, new CRTPH265(&sink),
                   "sprop-parameter-sets=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ,"
                   "QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh,RAHBcrRiQA==",
                   pData, nSize);
    return 0;
}

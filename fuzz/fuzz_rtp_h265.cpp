// H.265 depacketizer fed packet sequences (see fuzz_rtp_nal.h). The fmtp line
// gives a 640x360 VPS, SPS and PPS; in-band sets may replace them. An input
// whose first byte is kDonFlag (a record length no packet of the other inputs
// has) runs the rest with decoding-order numbers: DONL and DOND in every
// payload, units reordered within a frame.
#include "fuzz_rtp_nal.h"
#include "rtph265.h"

namespace {
constexpr uint8_t kDonFlag = 0xD0;
const char kSets[] = "sprop-parameter-sets=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ,"
                     "QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh,RAHBcrRiQA==";
const char kSetsDon[] = "sprop-parameter-sets=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ,"
                        "QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh,RAHBcrRiQA==;"
                        "sprop-max-don-diff=4";
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const bool bDon = nSize > 0 && pData[0] == kDonFlag;
    CFuzzNalSink sink;
    FuzzNalRecords(sink, new CRTPH265(&sink), bDon ? kSetsDon : kSets, bDon ? pData + 1 : pData,
                   bDon ? nSize - 1 : nSize);
    return 0;
}

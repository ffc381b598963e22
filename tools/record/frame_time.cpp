#include "frame_time.h"

#include "JXPacket.h"

namespace {

const int64_t kMsPerSecond = 1000;
const int64_t kMsPerDay = 86400 * kMsPerSecond;

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t nYear, unsigned nMonth, unsigned nDay)
{
    nYear -= nMonth <= 2 ? 1 : 0;
    const int64_t nEra = (nYear >= 0 ? nYear : nYear - 399) / 400;
    const unsigned nYoe = unsigned(nYear - nEra * 400);
    const unsigned nDoy = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const unsigned nDoe = nYoe * 365 + nYoe / 4 - nYoe / 100 + nDoy;
    return nEra * 146097 + int64_t(nDoe) - 719468;
}

}   // namespace

int64_t FrameTimeMs(const CPacket& frame)
{
    const YRTIME& t = frame.FrameGetTime();
    const unsigned nMonth = t.wMonth >= 1 && t.wMonth <= 12 ? t.wMonth : 1;
    const unsigned nDay = t.wDay >= 1 && t.wDay <= 31 ? t.wDay : 1;
    const int64_t nDays = DaysFromCivil(t.wYear, nMonth, nDay);
    const int64_t nSeconds = int64_t(t.wHour) * 3600 + int64_t(t.wMinute) * 60 + t.wSecond;
    return nDays * kMsPerDay + nSeconds * kMsPerSecond + t.wMilliseconds;
}

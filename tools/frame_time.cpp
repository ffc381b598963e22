#include "frame_time.h"

#include "JXPacket.h"

namespace {

const int64_t kMsPerSecond = 1000;
const int64_t kMsPerDay = 86400 * kMsPerSecond;
// A step this many intervals long or more means frames are missing.
const double kMissingStep = 1.5;
// Key frames are stamped when they arrive, so one may come this much late
// without a frame missing before it (a busy machine delays a pass by tens of
// ms). A single frame missing just before a key frame is then not counted:
// it cannot be told from a late key frame by the times alone.
const double kLateMs = 50.0;

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

uint64_t FramesMissing(int64_t nGapMs, double fFps)
{
    if (!(fFps > 0.0) || nGapMs <= 0) return 0;
    const double fIntervalMs = double(kMsPerSecond) / fFps;
    const double fIntervals = double(nGapMs) / fIntervalMs;
    if (fIntervals < kMissingStep || double(nGapMs) < fIntervalMs + kLateMs) return 0;
    return uint64_t(fIntervals + 0.5) - 1;
}

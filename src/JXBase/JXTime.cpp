// Wall-clock stamps, the monotonic millisecond clock (which tests may replace
// with a clock they drive) and time-outs built on it.
#include "JXTime.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace {
std::atomic<bool> s_UseTestClock{false};
std::atomic<uint64_t> s_TestClockMS{0};

constexpr uint32_t kMSPerSecond = 1000;

bool LocalTime(time_t t, struct tm& out)
{
#if defined(_WIN32)
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}
}   // namespace

CJXTime::CJXTime(const CJXTime* pTime, int32_t /*nFlags*/)
{
    if (pTime != nullptr) {
        m_Time = pTime->m_Time;
        m_MS = pTime->m_MS;
    }
}

void CJXTime::SetTime()
{
    using namespace std::chrono;
    const int64_t nNow = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const int64_t nSafe = nNow < 0 ? 0 : nNow;
    m_Time = static_cast<uint32_t>(nSafe / kMSPerSecond);
    m_MS = static_cast<uint32_t>(nSafe % kMSPerSecond);
}

void CJXTime::Add(uint32_t nMS)
{
    const uint64_t nTotal = static_cast<uint64_t>(m_MS % kMSPerSecond) + nMS;
    m_Time += static_cast<uint32_t>(nTotal / kMSPerSecond);
    m_MS = static_cast<uint32_t>(nTotal % kMSPerSecond);
}

void CJXTime::GetTime(YRTIME& out) const
{
    struct tm tmLocal {};
    if (!LocalTime(static_cast<time_t>(m_Time), tmLocal)) {
        out = YRTIME{};
        return;
    }
    out.wYear = static_cast<uint16_t>(tmLocal.tm_year + 1900);
    out.wMonth = static_cast<uint16_t>(tmLocal.tm_mon + 1);
    out.wDay = static_cast<uint16_t>(tmLocal.tm_mday);
    out.wHour = static_cast<uint16_t>(tmLocal.tm_hour);
    out.wMinute = static_cast<uint16_t>(tmLocal.tm_min);
    out.wSecond = static_cast<uint16_t>(tmLocal.tm_sec);
    out.wMilliseconds = static_cast<uint16_t>(m_MS % kMSPerSecond);
}

uint64_t CJXTime::GetTimeMS()
{
    if (s_UseTestClock.load(std::memory_order_acquire)) {
        return s_TestClockMS.load(std::memory_order_acquire);
    }
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CJXTime::UseTestClock(uint64_t nStartMS)
{
    s_TestClockMS.store(nStartMS, std::memory_order_release);
    s_UseTestClock.store(true, std::memory_order_release);
}

void CJXTime::AdvanceTestClock(uint64_t nMS)
{
    s_TestClockMS.fetch_add(nMS, std::memory_order_acq_rel);
}

void CJXTime::UseRealClock()
{
    s_UseTestClock.store(false, std::memory_order_release);
}

CJXTimeout::CJXTimeout(uint32_t nPeriod)
{
    Setup(nPeriod);
}

void CJXTimeout::Setup(uint32_t nMS)
{
    m_Period = nMS;
    m_Deadline = CJXTime::GetTimeMS() + nMS;
}

bool CJXTimeout::Check(uint32_t nMS, bool bRearm)
{
    if (m_Period == 0) {
        return false;
    }
    if (CJXTime::GetTimeMS() < m_Deadline) {
        return false;
    }
    if (bRearm) {
        Setup(nMS != 0 ? nMS : m_Period);
    }
    return true;
}

uint32_t CJXTimeout::Remaining() const
{
    if (m_Period == 0) {
        return 0;
    }
    const uint64_t nNow = CJXTime::GetTimeMS();
    if (nNow >= m_Deadline) {
        return 0;
    }
    const uint64_t nLeft = m_Deadline - nNow;
    return nLeft > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(nLeft);
}

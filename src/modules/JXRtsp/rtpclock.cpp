// RTP time to our time. Everything is kept in monotonic milliseconds (the
// clock time-outs use, which tests drive), and turned into wall-clock time
// only for the stamp, through one offset per session.
#include "rtpclock.h"

#include <algorithm>

namespace {
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kNtpUnixEpochSeconds = 2208988800LL;   // 1900-01-01 to 1970-01-01
constexpr uint64_t kNtpFractionOne = 1ULL << 32;

int64_t NtpToMs(uint64_t nNtp)
{
    const int64_t nSeconds = static_cast<int64_t>(nNtp >> 32) - kNtpUnixEpochSeconds;
    const int64_t nFractionMs = static_cast<int64_t>(((nNtp & 0xFFFFFFFFULL) * kMsPerSecond) / kNtpFractionOne);
    return nSeconds * kMsPerSecond + nFractionMs;
}

int64_t WallNowMs()
{
    CJXTime now;
    now.SetTime();
    return static_cast<int64_t>(now.m_Time) * kMsPerSecond + now.m_MS;
}

int64_t Magnitude(int64_t n)
{
    return n < 0 ? -n : n;
}
}   // namespace

// ---------------------------------------------------------------------------
// CRTPSessionClock

void CRTPSessionClock::Reset()
{
    m_HasCameraOffset = false;
    m_CameraOffsetMs = 0;
    m_HasWallOffset = false;
    m_WallOffsetMs = 0;
    m_HasVideo = false;
}

// ---------------------------------------------------------------------------
// CFrameRateMedian

void CFrameRateMedian::Reset()
{
    m_Count = 0;
    m_Next = 0;
    m_HasLast = false;
}

void CFrameRateMedian::OnFrame(uint32_t nTimeStamp)
{
    // Signed: frames sent out of presentation order step backwards, and are
    // no spacing.
    const int32_t nStep = static_cast<int32_t>(nTimeStamp - m_Last);
    if (m_HasLast && nStep > 0) {
        m_Spacing[m_Next] = static_cast<uint32_t>(nStep);
        m_Next = (m_Next + 1) % kWindow;
        m_Count = std::min(m_Count + 1, kWindow);
    }
    m_Last = nTimeStamp;
    m_HasLast = true;
}

double CFrameRateMedian::Rate(uint32_t nRate) const
{
    if (m_Count == 0 || nRate == 0) {
        return kDefaultRate;
    }
    uint32_t aSorted[kWindow];
    std::copy(m_Spacing, m_Spacing + m_Count, aSorted);
    // The lower middle of an even count: while the window fills, the usual
    // spacing wins over a single gap.
    uint32_t* pMiddle = aSorted + (m_Count - 1) / 2;
    std::nth_element(aSorted, pMiddle, aSorted + m_Count);
    return static_cast<double>(nRate) / *pMiddle;
}

// ---------------------------------------------------------------------------
// CRTPClock

CRTPClock::CRTPClock(uint32_t nRate) : m_Rate(nRate != 0 ? nRate : kVideoRate), m_Session(&m_OwnSession) {}

void CRTPClock::SetRate(uint32_t nRate)
{
    if (nRate != 0 && nRate != m_Rate) {
        m_Rate = nRate;
        Reset();
    }
}

void CRTPClock::SetSession(CRTPSessionClock* pSession)
{
    m_Session = pSession != nullptr ? pSession : &m_OwnSession;
}

void CRTPClock::Reset()
{
    m_HasLast = false;
    m_HasAnchor = false;
    m_HasReport = false;
    // m_LastOutMs stays: a new source must not take the stream's times back.
}

void CRTPClock::OnSenderReport(uint32_t nRtp, uint64_t nNtp)
{
    if (nNtp == 0) {
        return;   // a sender without a wall clock: its reports map nothing
    }
    m_ReportRaw = nRtp;
    m_ReportCameraMs = NtpToMs(nNtp);
    m_HasReport = true;
    // Placed on the stream's line when a frame has given one; else by the first frame.
    m_ReportTicks = m_HasLast ? m_LastTicks + static_cast<int32_t>(nRtp - m_LastRaw) : static_cast<int64_t>(nRtp);
}

int64_t CRTPClock::Unwrap(uint32_t nTimeStamp)
{
    if (!m_HasLast) {
        m_HasLast = true;
        m_LastTicks = nTimeStamp;
        if (m_HasReport) {
            m_ReportTicks = m_LastTicks + static_cast<int32_t>(m_ReportRaw - nTimeStamp);
        }
    } else {
        // The nearest value: a step of less than half the 32-bit range either way.
        m_LastTicks += static_cast<int32_t>(nTimeStamp - m_LastRaw);
    }
    m_LastRaw = nTimeStamp;
    return m_LastTicks;
}

int64_t CRTPClock::TicksToMs(int64_t nTicks) const
{
    // Rounded down whole ms on both sides of 0, so that equal steps stay equal.
    const int64_t nScaled = nTicks * kMsPerSecond;
    const int64_t nRate = static_cast<int64_t>(m_Rate);
    return nScaled >= 0 ? nScaled / nRate : -((-nScaled + nRate - 1) / nRate);
}

int64_t CRTPClock::CameraMs(int64_t nTicks) const
{
    return m_ReportCameraMs + TicksToMs(nTicks - m_ReportTicks);
}

void CRTPClock::Reanchor(int64_t nTicks, int64_t nNowMs, int64_t nDriftMs, bool bViaReport)
{
    ++m_Reanchors;
    JXPrintf("CRTPClock: frame times re-anchored at arrival: RTP time was %lld ms off (clock rate %u).\n",
             static_cast<long long>(nDriftMs), static_cast<unsigned>(m_Rate));
    m_AnchorTicks = nTicks;
    m_AnchorMs = nNowMs;
    m_HasAnchor = true;
    if (bViaReport) {   // the camera's clock itself moved: the session's offset goes with it
        m_Session->m_CameraOffsetMs = nNowMs - CameraMs(nTicks);
        m_Session->m_HasCameraOffset = true;
    }
}

int64_t CRTPClock::FrameTime(uint32_t nTimeStamp, int64_t nNowMs)
{
    const int64_t nTicks = Unwrap(nTimeStamp);
    if (!m_HasAnchor) {
        m_AnchorTicks = nTicks;
        m_AnchorMs = nNowMs;
        m_HasAnchor = true;
    }
    int64_t nTime = m_AnchorMs + TicksToMs(nTicks - m_AnchorTicks);
    // Video leads: its frames come when encoded, while a sound packet comes
    // only once its last sample was taken, later than its timestamp says.
    // Were the audio to set the camera's offset, the video would jump by
    // that much at the first report.
    const bool bLeads = m_Video || !m_Session->m_HasVideo;
    const bool bViaReport = m_HasReport && (bLeads || m_Session->m_HasCameraOffset);
    if (bViaReport) {
        if (!m_ReportLogged) {
            m_ReportLogged = true;
            JXPrintf("CRTPClock: frame times follow the sender's reports (clock rate %u).\n",
                     static_cast<unsigned>(m_Rate));
        }
        if (!m_Session->m_HasCameraOffset) {
            // The first stream to map through the camera's clock keeps its
            // own times; the other moves onto the same clock with it.
            m_Session->m_CameraOffsetMs = nTime - CameraMs(nTicks);
            m_Session->m_HasCameraOffset = true;
        }
        nTime = CameraMs(nTicks) + m_Session->m_CameraOffsetMs;
    }
    const int64_t nDrift = nTime - nNowMs;
    if (Magnitude(nDrift) > kMaxDriftMs) {
        Reanchor(nTicks, nNowMs, nDrift, bViaReport);
        nTime = nNowMs;
    }
    if (m_HasOut && nTime < m_LastOutMs) {
        nTime = m_LastOutMs;
    }
    m_HasOut = true;
    m_LastOutMs = nTime;
    return nTime;
}

int64_t CRTPClock::ToWallMs(int64_t nMonotonicMs)
{
    if (!m_Session->m_HasWallOffset) {
        m_Session->m_WallOffsetMs = WallNowMs() - static_cast<int64_t>(CJXTime::GetTimeMS());
        m_Session->m_HasWallOffset = true;
    }
    return nMonotonicMs + m_Session->m_WallOffsetMs;
}

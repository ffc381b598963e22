#include "retry_policy.h"

CRetryTracker::CRetryTracker(const JXRetryPolicy& policy, uint64_t nStartMs)
    : m_Policy(policy), m_NotPlayingSinceMs(nStartMs)
{}

void CRetryTracker::OnPlaying()
{
    m_Playing = true;
    m_FailuresInRow = 0;
}

std::string CRetryTracker::OnFailure(const JXFailureSummary& failure, uint64_t nNowMs)
{
    if (m_Playing.exchange(false)) m_NotPlayingSinceMs = nNowMs;
    ++m_FailuresInRow;
    if (m_Policy.bStopOnRefusal && failure.bRefused) return "refused (--stop-on-refusal)";
    if (m_Policy.nRetries != 0 && m_FailuresInRow >= m_Policy.nRetries) {
        return std::to_string(m_FailuresInRow) + " failed attempt" + (m_FailuresInRow == 1 ? "" : "s") +
               " (--retries " + std::to_string(m_Policy.nRetries) + ")";
    }
    return CheckIdle(nNowMs);
}

std::string CRetryTracker::CheckIdle(uint64_t nNowMs) const
{
    if (m_Policy.nGiveUpAfterS == 0 || m_Playing) return std::string();
    const uint64_t nSince = m_NotPlayingSinceMs;
    if (nNowMs < nSince || nNowMs - nSince < uint64_t(m_Policy.nGiveUpAfterS) * 1000) return std::string();
    return "not played for " + std::to_string(m_Policy.nGiveUpAfterS) + " s (--give-up-after)";
}

std::string CRetryTracker::NextStep(const std::string& sGiveUp)
{
    if (!sGiveUp.empty()) return "giving up: " + sGiveUp;
    return "next attempt in " + std::to_string(kRetryDelayS) + " s";
}

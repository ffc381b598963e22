// When record gives a failing stream up (--retries, --give-up-after,
// --stop-on-refusal). Without them the module retries every 10 s for as
// long as the run lasts.
#pragma once

#include "summary_json.h"

#include <atomic>
#include <cstdint>
#include <string>

struct JXRetryPolicy {
    uint32_t nRetries = 0;         // give up after this many failed attempts in a row; 0: never
    uint32_t nGiveUpAfterS = 0;    // give up on a stream that has not played for this long; 0: never
    bool bStopOnRefusal = false;   // an authentication refusal or a 404 ends the stream at once
};

// One stream's attempts as the policy sees them. The module's worker tells
// the attempts' outcomes, the host's thread asks about the time.
class CRetryTracker {
public:
    static const uint32_t kRetryDelayS = 10;   // the module's delay before the next attempt

    CRetryTracker(const JXRetryPolicy& policy, uint64_t nStartMs);

    void OnPlaying();
    // A failed attempt: empty when the next one follows, else why the stream is given up.
    std::string OnFailure(const JXFailureSummary& failure, uint64_t nNowMs);
    // Empty, or why the stream is given up now: it has not played for too long.
    std::string CheckIdle(uint64_t nNowMs) const;
    // What follows a failure, for its line: "next attempt in 10 s" or "giving up: ...".
    static std::string NextStep(const std::string& sGiveUp);

private:
    JXRetryPolicy m_Policy;
    std::atomic<bool> m_Playing{false};
    std::atomic<uint64_t> m_NotPlayingSinceMs;
    uint32_t m_FailuresInRow = 0;   // worker only
};

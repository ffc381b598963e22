// Wall-clock time stamps, the monotonic millisecond clock and time-outs.
#pragma once

#include "JXObject.h"

class JXBASE_API CJXTime : public CJXObject {
public:
    // pTime: copy from (null: zero time); nFlags: unused, kept for the contract.
    explicit CJXTime(const CJXTime* pTime = nullptr, int32_t nFlags = 0);
    CJXTime(const CJXTime& other) = default;
    CJXTime& operator=(const CJXTime& other) = default;

    uint32_t m_Time = 0;   // seconds since 1970-01-01 UTC
    uint32_t m_MS = 0;     // milliseconds within the second, 0..999

    // Set to now (wall clock).
    void SetTime();
    // Advance by nMS milliseconds.
    void Add(uint32_t nMS);
    // Local calendar time of this value.
    void GetTime(YRTIME& out) const;

    // Monotonic milliseconds. Never goes backwards; tests may drive it.
    static uint64_t GetTimeMS();

    // Test clock: while installed, GetTimeMS returns the value the test sets.
    static void UseTestClock(uint64_t nStartMS);
    static void AdvanceTestClock(uint64_t nMS);
    static void UseRealClock();
};

class JXBASE_API CJXTimeout : public CJXObject {
public:
    explicit CJXTimeout(uint32_t nPeriod = 0);

    // Period of the armed time-out in ms; 0 means disarmed (Check is false).
    uint32_t m_Period = 0;

    // Arm nMS ahead of now (0 disarms).
    void Setup(uint32_t nMS);
    // True once the armed time passed. With bRearm, an expired time-out is armed
    // again at once with nMS (0: the same period).
    bool Check(uint32_t nMS = 0, bool bRearm = false);
    // Milliseconds left until expiry (0 when expired or disarmed).
    uint32_t Remaining() const;

private:
    uint64_t m_Deadline = 0;
};

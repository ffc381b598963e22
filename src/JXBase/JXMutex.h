// Recursive mutex: a thread that holds it may enter again (subscriber callbacks
// can call back into the object that is delivering to them).
#pragma once

#include "JXObject.h"

#include <mutex>

class JXBASE_API CJXMutex : public CJXObject {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    CJXMutex() = default;
    CJXMutex(const CJXMutex&) = delete;
    CJXMutex& operator=(const CJXMutex&) = delete;

    // Wait at most nMS ms (kInfinite: no limit). True when entered.
    bool Enter(uint32_t nMS = kInfinite);
    void Leave();

private:
    std::recursive_timed_mutex m_Mutex;
};

// Holds a CJXMutex for one scope.
class CJXAutoLock {
public:
    explicit CJXAutoLock(CJXMutex& m) : m_Mutex(m) { m_Mutex.Enter(); }
    ~CJXAutoLock() { m_Mutex.Leave(); }
    CJXAutoLock(const CJXAutoLock&) = delete;
    CJXAutoLock& operator=(const CJXAutoLock&) = delete;

private:
    CJXMutex& m_Mutex;
};

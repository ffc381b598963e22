// Recursive mutex with an optional time limit on entering.
#include "JXMutex.h"

#include <chrono>

bool CJXMutex::Enter(uint32_t nMS)
{
    if (nMS == kInfinite) {
        m_Mutex.lock();
        return true;
    }
    // The plain attempt first: it covers re-entry and an uncontended mutex
    // without a timed wait.
    if (m_Mutex.try_lock()) {
        return true;
    }
    return nMS > 0 && m_Mutex.try_lock_for(std::chrono::milliseconds(nMS));
}

void CJXMutex::Leave()
{
    m_Mutex.unlock();
}

// Subscriber list. Commit holds the (recursive) mutex while it calls the
// subscribers, so a Detach from another thread waits until the running Commit
// is over, while a subscriber may Attach, Detach or Commit from inside its
// call. A Detach during a Commit blanks the entry; the outermost Commit
// compacts the list when it ends, so indices stay valid while calls run.
#include "JXSignal.h"

#include <cstdlib>

namespace {
constexpr int32_t kFirstCapacity = 4;
constexpr int32_t kMaxEntries = 0x100000;
}   // namespace

IJXSignal::IJXSignal(int32_t /*nFlags*/) {}

IJXSignal::~IJXSignal()
{
    free(m_Entries);
}

int32_t IJXSignal::Attach(CJXObject* pObject, JXSignalFunc pFunc)
{
    if (pObject == nullptr || pFunc == nullptr) {
        return JX_ERR_ARG;
    }
    CJXAutoLock lock(m_Mutex);
    for (int32_t i = 0; i < m_Count; ++i) {
        if (m_Entries[i].pObject == pObject && m_Entries[i].pFunc == pFunc) {
            return JX_OK;
        }
    }
    if (m_Count == m_Capacity) {
        if (m_Capacity >= kMaxEntries) {
            return JX_ERR_NOMEM;
        }
        const int32_t nCapacity = m_Capacity == 0 ? kFirstCapacity : m_Capacity * 2;
        Entry* pNew = static_cast<Entry*>(realloc(m_Entries, sizeof(Entry) * static_cast<size_t>(nCapacity)));
        if (pNew == nullptr) {
            return JX_ERR_NOMEM;
        }
        m_Entries = pNew;
        m_Capacity = nCapacity;
    }
    m_Entries[m_Count].pObject = pObject;
    m_Entries[m_Count].pFunc = pFunc;
    ++m_Count;
    return JX_OK;
}

int32_t IJXSignal::Detach(CJXObject* pObject, JXSignalFunc pFunc)
{
    if (pObject == nullptr || pFunc == nullptr) {
        return JX_ERR_ARG;
    }
    CJXAutoLock lock(m_Mutex);
    for (int32_t i = 0; i < m_Count; ++i) {
        if (m_Entries[i].pObject != pObject || m_Entries[i].pFunc != pFunc) {
            continue;
        }
        if (m_Depth > 0) {
            // A Commit on this thread is walking the list: blank, compact later.
            m_Entries[i].pObject = nullptr;
            m_Entries[i].pFunc = nullptr;
            m_Removed = true;
            return JX_OK;
        }
        for (int32_t j = i + 1; j < m_Count; ++j) {
            m_Entries[j - 1] = m_Entries[j];
        }
        --m_Count;
        return JX_OK;
    }
    return JX_ERR_STATE;
}

int32_t IJXSignal::Commit(CJXObject* pSender, uint32_t nCode, void* pParam1, void* pParam2)
{
    CJXAutoLock lock(m_Mutex);
    ++m_Depth;
    // Subscribers attached during this Commit are called from the next one.
    const int32_t nCount = m_Count;
    int32_t nCalled = 0;
    for (int32_t i = 0; i < nCount; ++i) {
        // Read the entry afresh: a call may have grown (moved) the array.
        const Entry entry = m_Entries[i];
        if (entry.pObject == nullptr) {
            continue;
        }
        (entry.pObject->*entry.pFunc)(pSender, nCode, pParam1, pParam2);
        ++nCalled;
    }
    --m_Depth;
    if (m_Depth == 0 && m_Removed) {
        Compact();
    }
    return nCalled;
}

int32_t IJXSignal::GetCount()
{
    CJXAutoLock lock(m_Mutex);
    int32_t nLive = 0;
    for (int32_t i = 0; i < m_Count; ++i) {
        if (m_Entries[i].pObject != nullptr) {
            ++nLive;
        }
    }
    return nLive;
}

void IJXSignal::Compact()
{
    int32_t nKept = 0;
    for (int32_t i = 0; i < m_Count; ++i) {
        if (m_Entries[i].pObject != nullptr) {
            m_Entries[nKept++] = m_Entries[i];
        }
    }
    m_Count = nKept;
    m_Removed = false;
}

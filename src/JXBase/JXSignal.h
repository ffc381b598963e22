// A list of subscribers, each an object and a member function, called in turn
// by Commit on the caller's thread.
#pragma once

#include "JXMutex.h"

class JXBASE_API IJXSignal : public CJXObject {
public:
    // nFlags: unused, kept for the contract.
    explicit IJXSignal(int32_t nFlags = 0);
    ~IJXSignal() override;
    IJXSignal(const IJXSignal&) = delete;
    IJXSignal& operator=(const IJXSignal&) = delete;

    // Subscribe; the same pair twice is kept once. 0, JX_ERR_ARG or JX_ERR_NOMEM.
    int32_t Attach(CJXObject* pObject, JXSignalFunc pFunc);
    // Unsubscribe; 0, or JX_ERR_STATE when the pair was not subscribed. Once it
    // returns on another thread, the pair is not called again; from inside a
    // call it takes effect for the rest of that Commit too.
    int32_t Detach(CJXObject* pObject, JXSignalFunc pFunc);
    // Call every subscriber with the arguments; returns how many were called.
    int32_t Commit(CJXObject* pSender, uint32_t nCode, void* pParam1, void* pParam2);
    int32_t GetCount();

private:
    struct Entry {
        CJXObject* pObject;
        JXSignalFunc pFunc;
    };
    void Compact();

    CJXMutex m_Mutex;
    Entry* m_Entries = nullptr;
    int32_t m_Count = 0;
    int32_t m_Capacity = 0;
    int32_t m_Depth = 0;      // Commit calls running on the owning thread
    bool m_Removed = false;   // entries blanked during a Commit, compacted after
};

// Host name lookups that never hold their caller: a small pool of threads of
// the resolver's own runs them, the caller polls for the result.
#pragma once

#include "JXNet.h"
#include "JXObject.h"

// Name lookups on a small, bounded set of threads of its own, so that the
// caller never waits on the name service. Every call may come from any
// thread. The lookup goes through JXNetGetResolver (getaddrinfo unless a test
// installed its own). Threads start with the first lookups, up to nThreads;
// a name service that hangs ties up at most nThreads of them, and further
// lookups wait in the queue (at most kMaxQueued).
class JXBASE_API CJXResolver : public CJXObject {
public:
    static constexpr int32_t kDefaultThreads = 4;
    static constexpr int32_t kMaxQueued = 256;
    // The most threads a resolver runs, whatever it is asked for.
    static constexpr int32_t kMaxThreads = 64;

    // nThreads below 1 means 1, above kMaxThreads means kMaxThreads.
    explicit CJXResolver(int32_t nThreads = kDefaultThreads);
    // Takes no more lookups, drops the queued ones, waits for the running
    // lookups to return and joins every thread: once it returns, no thread of
    // the resolver runs. Results not collected are freed.
    ~CJXResolver() override;
    CJXResolver(const CJXResolver&) = delete;
    CJXResolver& operator=(const CJXResolver&) = delete;

    // Queue a TCP lookup of a host name (at most 255 characters) and port. A
    // handle > 0, or JX_ERR_ARG (no host, too long, port 0), JX_ERR_NOMEM
    // (no memory or no thread could be started) or JX_ERR_STATE (queue full).
    int32_t Submit(const char* pHost, uint16_t nPort);
    // Never waits. 1: still queued or running. JX_OK: done, *ppList set (free
    // with freeaddrinfo). JX_ERR_FAIL: the name gave no address. The handle
    // is gone after JX_OK or a failure. JX_ERR_ARG: unknown handle or no
    // ppList.
    int32_t Collect(int32_t nHandle, addrinfo** ppList);
    // The result is no longer wanted: a queued lookup is dropped, a running
    // one's result is freed when it arrives, a finished one's at once. The
    // handle is gone. Unknown handles are ignored.
    void Cancel(int32_t nHandle);

private:
    struct CImpl;
    CImpl* m_pImpl = nullptr;
};

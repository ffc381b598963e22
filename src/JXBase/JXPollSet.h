// A readiness set: one wait for any number of sockets (epoll on Linux,
// WSAPoll on Windows), which another thread can end early.
#pragma once

#include "JXNet.h"

#include <memory>

class JXBASE_API CJXPollSet {
public:
    // What a socket is watched for and what Wait reports. kError comes
    // without being asked for: a hang-up, a socket error, or (Windows) a
    // handle that is no longer a socket, which is dropped from the set.
    static constexpr uint32_t kReadable = 1;
    static constexpr uint32_t kWritable = 2;
    static constexpr uint32_t kError = 4;
    // The most events one Wait reports; more ready sockets come in the next.
    static constexpr int32_t kMaxEvents = 256;
#if defined(_WIN32)
    // Older WSAPoll does not report a connect that failed: callers look at
    // connecting sockets on a short time-out of their own.
    static constexpr bool kReportsConnectFailure = false;
#else
    static constexpr bool kReportsConnectFailure = true;
#endif

    struct Event {
        uint64_t m_Tag = 0;      // as given to Set
        uint32_t m_Events = 0;   // kReadable, kWritable, kError
    };

    CJXPollSet();
    ~CJXPollSet();
    CJXPollSet(const CJXPollSet&) = delete;
    CJXPollSet& operator=(const CJXPollSet&) = delete;

    // JX_OK, or JX_ERR_FAIL when the system gave no set or no wake-up.
    int32_t Open();
    // Forgets every socket (they stay open: they are the callers').
    void Close();
    bool IsOpen() const;

    // Watch s for nEvents (kReadable and/or kWritable, level-triggered),
    // reporting nTag; a socket already in the set gets the new events and
    // tag; 0 removes it (JX_OK also when it was not in the set). Remove a
    // socket before closing it: a closed socket is forgotten by the system
    // on Linux, but its number may come back as another socket. Any thread.
    // JX_OK, JX_ERR_ARG, JX_ERR_STATE (not open), JX_ERR_NOMEM, JX_ERR_FAIL.
    int32_t Set(JXSOCKET s, uint32_t nEvents, uint64_t nTag);
    // Waits at most nTimeoutMs (negative: no limit, 0: only looks) for ready
    // sockets or a Wake; up to nMax events go to pOut. The count (0: time-out
    // or woken), or JX_ERR_ARG / JX_ERR_STATE / JX_ERR_FAIL. One thread at a time.
    int32_t Wait(int32_t nTimeoutMs, Event* pOut, int32_t nMax);
    // Ends the running Wait, or the next one, at once. Any thread.
    void Wake();

    struct Impl;

private:
    std::unique_ptr<Impl> m_Impl;
};

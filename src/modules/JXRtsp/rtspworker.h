// The shared worker that drives every stream of the process (CRTSPSocket).
#pragma once

#include "JXRtspDefs.h"

#include <atomic>
#include <memory>

// The control connection of one stream and its place on the shared worker:
// one pool thread named "RTSPSocket" calls OnWork of every started stream,
// one pass at a time.
class JXRTSP_API CRTSPSocket : public CJXSocketTCP {
public:
    CRTSPSocket();
    ~CRTSPSocket() override;

    // Join the worker (creating it for the first stream). 0 when already
    // attached, else the pool's result.
    int32_t AttachWorker();
    // Leave the worker. 0; 1 when called from inside this stream's own pass
    // (the pass runs to its end, and no other follows); JX_ERR_STATE when the
    // worker is already gone. No lock is held while it waits for a running
    // pass, so a subscriber may start and stop other streams from inside its
    // callback. The worker ends with the last stream's detach, once no other
    // detach is still under way, so a Start in between joins the same worker
    // and two workers never run passes at once.
    int32_t DetachWorker();
    // Ends the worker and the resolver when no stream is attached and no
    // detach is under way, waiting for the worker's thread. Does nothing on
    // that thread itself: a stream stopped from its own callback leaves the
    // end to the host's next Stop, Release or JXRTSPInvalidate.
    static void RetireWorker();
    // Whether the worker and its resolver exist now (read under the lock).
    static bool HasWorker();
    static bool HasResolver();
    // One pass of work; the base does nothing.
    virtual int OnWork(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait);

    // A socket the worker watches for this stream, with CJXPollSet events.
    struct CWatch {
        JXSOCKET m_Socket = JX_INVALID_SOCKET;
        uint32_t m_Events = 0;
        uint32_t m_Bit = 0;   // its bit in a pass's ready mask (the worker's)
    };
    // The control connection and two sockets for each of two media streams.
    static constexpr int32_t kMaxWatches = 5;
    // Makes the watched sockets those of pWant (at most kMaxWatches); only
    // what changed reaches the worker, so a pass that changed nothing makes
    // no system call. Off the worker (detached) it only forgets the table:
    // the detach stopped every watch. On the thread that runs the stream.
    void SetWatches(const CWatch* pWant, int32_t nWant);
    // Stops every watch; called before any watched socket is closed, so a
    // number the system gives to another stream's socket is never confused.
    void ClearWatches() { SetWatches(nullptr, 0); }
    // Whether a pass given nReadyMask should read s: a watched socket only
    // when the worker reported it ready; every socket when nothing is
    // watched (off the worker, or a watch the worker refused).
    bool IsReadable(JXSOCKET s, uint32_t nReadyMask) const;

    bool m_Attached = false;   // guarded by s_RTSPMutex
    // The worker while attached, for watching sockets from the stream's own
    // pass without s_RTSPMutex (which a retiring worker holds while it waits
    // for its thread). Cleared before the detach, which the worker outlives.
    std::atomic<CJXThreadPool*> m_Pool{nullptr};
    CWatch m_Watches[kMaxWatches];
    int32_t m_WatchCount = 0;
    CJXTimeout m_Reconnect;    // delay before the next connection attempt
    // The resolver this stream looks host names up with, taken when it joins
    // the worker and let go once its connection is closed after it left: the
    // last holder ends the resolver and waits for its threads.
    std::shared_ptr<CJXResolver> m_Resolver;

    // Shared by all streams, guarded by s_RTSPMutex. The pool is held by
    // shared pointer so that a detach can wait for it outside the lock.
    static std::shared_ptr<CJXThreadPool> s_RTSPThread;
    static int32_t s_RTSPCount;
    static CJXMutex s_RTSPMutex;
    // Detaches that wait for a pass outside the lock: the worker stays while
    // one is under way.
    static int32_t s_Detaching;
    // Host names are looked up here, never on the worker; made with the
    // worker, and ended when the worker has ended and the last stream has
    // let go of it.
    static std::shared_ptr<CJXResolver> s_Resolver;

    static constexpr int32_t kWorkerThreads = 1;
    // The longest a stream waits for its next pass: a stream's hint names
    // its nearest timer, and ready sockets end the wait at once, so this is
    // only a backstop.
    static constexpr int32_t kWorkerMaxWait = 1000;
};

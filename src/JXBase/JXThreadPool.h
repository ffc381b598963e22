// A pool of worker threads that call each attached member when its wait hint
// runs out or one of the sockets it watches is ready.
#pragma once

#include "JXObject.h"
#include "JXPollSet.h"

#include <memory>

class JXBASE_API CJXThreadPool : public CJXObject {
public:
    // nThreads threads (1 to 64) named pName (the name is cut to the 15
    // characters Linux takes). nFlags: unused. nMaxWait: the wait hint, in ms,
    // given to every member call. The hint a call leaves means "call me again
    // after at most this many ms (never more than nMaxWait; 0: at once), or
    // as soon as a socket I watch is ready". A round calls the members that
    // are due: just attached, hint run out, or a watched socket ready. Between
    // rounds one thread waits on the readiness set until the nearest member
    // is due; Attach, Detach and the destructor end that wait. With several
    // threads each member still runs on one thread at a time.
    CJXThreadPool(int32_t nThreads, const char* pName, int32_t nFlags = 0, int32_t nMaxWait = 24);
    // Stops the threads. On one of the pool's own threads it does not wait for
    // that thread: the thread ends once the running call returns.
    ~CJXThreadPool() override;
    CJXThreadPool(const CJXThreadPool&) = delete;
    CJXThreadPool& operator=(const CJXThreadPool&) = delete;

    // Add a member: pFunc is called on pObject again and again. The same pair
    // twice is kept once. 0, JX_ERR_ARG or JX_ERR_NOMEM (also when no thread
    // could be started).
    int32_t Attach(CJXObject* pObject, JXWorkFunc pFunc);
    // Remove a member. From another thread it returns once the member is not
    // running and will not be called again (0). From inside that member's own
    // call it returns at once with 1: the member is not called again after the
    // running call returns. JX_ERR_STATE when the pair was not attached.
    // A member that detaches another member running on a second thread waits
    // for it like any other caller.
    int32_t Detach(CJXObject* pObject, JXWorkFunc pFunc);
    // Watch s for nEvents (CJXPollSet::kReadable, kWritable; 0: no longer)
    // on behalf of an attached member: the member is called in the next
    // round once s is ready, and that call's nValue has bit (1 << position)
    // set for each of its sockets reported ready (0 for a call by hint or
    // attach). Detach stops every watch of the member. Stop watching a
    // socket before closing it. The socket's position (0 to 31, kept while
    // watched), JX_OK when a watch is stopped, JX_ERR_ARG, JX_ERR_STATE (the
    // pair is not attached), JX_ERR_NOMEM (32 watched already), or the
    // readiness set's error.
    int32_t Watch(CJXObject* pObject, JXWorkFunc pFunc, JXSOCKET s, uint32_t nEvents);
    // The number of attached members.
    int32_t GetCount() const;
    // The number of sockets the members watch.
    int32_t GetWatchCount() const;
    // True on one of this pool's threads.
    bool IsPoolThread() const;

    struct Core;

private:
    std::shared_ptr<Core> m_Core;
};

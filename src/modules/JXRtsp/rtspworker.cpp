// The shared worker: one pool thread that runs the passes of every started
// stream, and the resolver their host names are looked up on.
#include "rtspworker.h"

#include <new>

namespace {

const char kWorkerName[] = "RTSPSocket";

JXWorkFunc WorkFunc()
{
    return JX_WORK_FUNC(&CRTSPSocket::OnWork);
}

}   // namespace

std::shared_ptr<CJXThreadPool> CRTSPSocket::s_RTSPThread;
int32_t CRTSPSocket::s_RTSPCount = 0;
int32_t CRTSPSocket::s_Detaching = 0;
std::shared_ptr<CJXResolver> CRTSPSocket::s_Resolver;
CJXMutex CRTSPSocket::s_RTSPMutex;

CRTSPSocket::CRTSPSocket() : m_Reconnect(0) {}

CRTSPSocket::~CRTSPSocket() = default;

int32_t CRTSPSocket::AttachWorker()
{
    CJXAutoLock lock(s_RTSPMutex);
    if (m_Attached) return JX_OK;
    if (!s_RTSPThread) {
        CJXThreadPool* pPool = new (std::nothrow) CJXThreadPool(kWorkerThreads, kWorkerName, 0, kWorkerMaxWait);
        if (pPool == nullptr) return JX_ERR_NOMEM;
        s_RTSPThread.reset(pPool);
    }
    if (!s_Resolver) {
        CJXResolver* pResolver = new (std::nothrow) CJXResolver();
        if (pResolver == nullptr) return JX_ERR_NOMEM;
        s_Resolver.reset(pResolver);
    }
    m_Resolver = s_Resolver;
    const int32_t nRet = s_RTSPThread->Attach(static_cast<CJXObject*>(this), WorkFunc());
    if (nRet < 0) {
        if (s_RTSPCount < 1 && s_Detaching < 1) s_RTSPThread.reset();
        return nRet;
    }
    m_Attached = true;
    m_WatchCount = 0;   // a new member watches nothing yet
    m_Pool = s_RTSPThread.get();
    ++s_RTSPCount;
    return nRet;
}

int32_t CRTSPSocket::DetachWorker()
{
    std::shared_ptr<CJXThreadPool> pPool;
    {
        CJXAutoLock lock(s_RTSPMutex);
        if (!m_Attached) return JX_OK;
        m_Attached = false;
        m_Pool = nullptr;
        if (s_RTSPCount < 1 || !s_RTSPThread) return JX_ERR_STATE;
        --s_RTSPCount;
        ++s_Detaching;
        pPool = s_RTSPThread;
    }
    // Outside the lock: waiting here for a running pass must not keep a
    // subscriber of that pass from starting or stopping other streams.
    const int32_t nRet = pPool->Detach(static_cast<CJXObject*>(this), WorkFunc());
    pPool.reset();
    {
        CJXAutoLock lock(s_RTSPMutex);
        --s_Detaching;
    }
    RetireWorker();
    return nRet == 1 ? 1 : JX_OK;
}

void CRTSPSocket::RetireWorker()
{
    std::shared_ptr<CJXResolver> pResolver;
    {
        CJXAutoLock lock(s_RTSPMutex);
        if (s_RTSPCount > 0 || s_Detaching > 0 || !s_RTSPThread) return;
        // The worker's own thread (a stream stopped from its callback) leaves
        // the end to the host's thread, which waits for the worker's thread:
        // none is left running behind the host's back.
        if (s_RTSPThread->IsPoolThread()) return;
        // Under the lock, so that a Start cannot make a second worker while
        // this one ends; with no member left its thread needs nothing of the
        // lock.
        s_RTSPThread.reset();
        pResolver = std::move(s_Resolver);
    }
    // Outside the lock: if this is the last holder, a lookup still running
    // is waited for, and other hosts' starts and stops must not wait on it.
    pResolver.reset();
}

bool CRTSPSocket::HasWorker()
{
    CJXAutoLock lock(s_RTSPMutex);
    return s_RTSPThread != nullptr;
}

bool CRTSPSocket::HasResolver()
{
    CJXAutoLock lock(s_RTSPMutex);
    return s_Resolver != nullptr;
}

int CRTSPSocket::OnWork(CJXMessageT*, unsigned int, unsigned int&)
{
    return 0;
}

namespace {

const CRTSPSocket::CWatch* FindWatch(const CRTSPSocket::CWatch* pList, int32_t n, JXSOCKET s)
{
    for (int32_t i = 0; i < n; ++i) {
        if (pList[i].m_Socket == s) return &pList[i];
    }
    return nullptr;
}

}   // namespace

void CRTSPSocket::SetWatches(const CWatch* pWant, int32_t nWant)
{
    if (nWant > kMaxWatches) nWant = kMaxWatches;
    CJXThreadPool* pPool = m_Pool;
    if (pPool == nullptr) {
        m_WatchCount = 0;
        return;
    }
    for (int32_t i = 0; i < m_WatchCount; ++i) {
        if (FindWatch(pWant, nWant, m_Watches[i].m_Socket) == nullptr)
            pPool->Watch(static_cast<CJXObject*>(this), WorkFunc(), m_Watches[i].m_Socket, 0);
    }
    int32_t nKept = 0;
    CWatch kept[kMaxWatches];
    for (int32_t i = 0; i < nWant; ++i) {
        const CWatch* pOld = FindWatch(m_Watches, m_WatchCount, pWant[i].m_Socket);
        if (pOld != nullptr && pOld->m_Events == pWant[i].m_Events) {
            kept[nKept++] = *pOld;
            continue;
        }
        // A watch the worker refused is tried again by the next pass.
        const int32_t nPosition =
            pPool->Watch(static_cast<CJXObject*>(this), WorkFunc(), pWant[i].m_Socket, pWant[i].m_Events);
        if (nPosition < 0) continue;
        kept[nKept] = pWant[i];
        kept[nKept++].m_Bit = 1u << nPosition;
    }
    for (int32_t i = 0; i < nKept; ++i)
        m_Watches[i] = kept[i];
    m_WatchCount = nKept;
}

bool CRTSPSocket::IsReadable(JXSOCKET s, uint32_t nReadyMask) const
{
    const CWatch* pWatch = FindWatch(m_Watches, m_WatchCount, s);
    if (pWatch == nullptr) return true;
    return (pWatch->m_Bit & nReadyMask) != 0;
}

// Name lookups on threads of their own. The caller submits a name and polls
// for the addresses; nothing it calls waits on the name service. The threads
// belong to the resolver and are joined by its destructor, so none outlives
// it (and none can run code of an unloaded module).
#include "JXResolver.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Longest host text taken (a DNS name has at most 253 characters).
constexpr size_t kMaxHostLen = 255;
// Room for a port number as text ("65535" and the terminator).
constexpr size_t kPortText = 8;

enum class EJobState { Queued, Running, Done };

struct CJob {
    std::string m_Host;
    char m_Port[kPortText] = {};
    EJobState m_State = EJobState::Queued;
    bool m_Cancelled = false;   // running, and nobody wants the result
    bool m_Found = false;
    addrinfo* m_List = nullptr;
};

}   // namespace

struct CJXResolver::CImpl {
    std::mutex m_Mutex;
    std::condition_variable m_Work;
    std::map<int32_t, CJob> m_Jobs;   // every handle the caller may still use
    std::deque<int32_t> m_Queue;      // handles not yet taken by a thread
    std::vector<std::thread> m_Threads;
    int32_t m_MaxThreads = 1;
    int32_t m_Idle = 0;   // threads waiting for work
    int32_t m_NextHandle = 1;
    bool m_Stopping = false;

    void Run();
    int32_t NewHandle();
};

// A handle not in use, > 0; handles wrap around after INT32_MAX.
int32_t CJXResolver::CImpl::NewHandle()
{
    for (;;) {
        int32_t nHandle = m_NextHandle;
        m_NextHandle = m_NextHandle == INT32_MAX ? 1 : m_NextHandle + 1;
        if (m_Jobs.find(nHandle) == m_Jobs.end()) return nHandle;
    }
}

void CJXResolver::CImpl::Run()
{
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;

    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        ++m_Idle;
        m_Work.wait(lock, [this] { return m_Stopping || !m_Queue.empty(); });
        --m_Idle;
        if (m_Stopping) return;
        int32_t nHandle = m_Queue.front();
        m_Queue.pop_front();
        auto it = m_Jobs.find(nHandle);
        if (it == m_Jobs.end()) continue;
        // A running job stays in the map until this thread is done with it
        // (Cancel only marks it), so its text stays valid outside the lock.
        CJob& job = it->second;
        job.m_State = EJobState::Running;
        lock.unlock();

        addrinfo* pList = nullptr;
        int nResult = JXNetGetResolver()(job.m_Host.c_str(), job.m_Port, &hints, &pList);
        bool bFound = nResult == 0 && pList != nullptr;

        lock.lock();
        if (job.m_Cancelled) {
            if (bFound) freeaddrinfo(pList);
            m_Jobs.erase(nHandle);
            continue;
        }
        job.m_State = EJobState::Done;
        job.m_Found = bFound;
        job.m_List = bFound ? pList : nullptr;
    }
}

CJXResolver::CJXResolver(int32_t nThreads)
{
    JXNetStartup();   // Winsock must be up while the threads look names up
    m_pImpl = new (std::nothrow) CImpl;
    if (m_pImpl == nullptr) return;
    if (nThreads < 1) nThreads = 1;
    if (nThreads > kMaxThreads) nThreads = kMaxThreads;
    m_pImpl->m_MaxThreads = nThreads;
}

CJXResolver::~CJXResolver()
{
    if (m_pImpl != nullptr) {
        {
            std::lock_guard<std::mutex> lock(m_pImpl->m_Mutex);
            m_pImpl->m_Stopping = true;
            for (int32_t nHandle : m_pImpl->m_Queue)
                m_pImpl->m_Jobs.erase(nHandle);
            m_pImpl->m_Queue.clear();
        }
        m_pImpl->m_Work.notify_all();
        // Each thread returns once its running lookup has returned.
        for (std::thread& t : m_pImpl->m_Threads)
            t.join();
        for (auto& entry : m_pImpl->m_Jobs) {
            if (entry.second.m_List != nullptr) freeaddrinfo(entry.second.m_List);
        }
        delete m_pImpl;
    }
    JXNetCleanup();
}

int32_t CJXResolver::Submit(const char* pHost, uint16_t nPort)
{
    if (pHost == nullptr || pHost[0] == '\0' || nPort == 0) return JX_ERR_ARG;
    if (strlen(pHost) > kMaxHostLen) return JX_ERR_ARG;
    if (m_pImpl == nullptr) return JX_ERR_NOMEM;
    CImpl& impl = *m_pImpl;

    std::lock_guard<std::mutex> lock(impl.m_Mutex);
    if (impl.m_Stopping) return JX_ERR_STATE;
    if (impl.m_Queue.size() >= static_cast<size_t>(kMaxQueued)) return JX_ERR_STATE;

    int32_t nHandle = impl.NewHandle();
    try {
        CJob& job = impl.m_Jobs[nHandle];
        job.m_Host = pHost;
        snprintf(job.m_Port, sizeof(job.m_Port), "%u", static_cast<unsigned>(nPort));
        impl.m_Queue.push_back(nHandle);
    } catch (const std::bad_alloc&) {
        impl.m_Jobs.erase(nHandle);
        return JX_ERR_NOMEM;
    }

    // One more thread when the queue holds more than the idle threads can take.
    bool bWantThread = impl.m_Queue.size() > static_cast<size_t>(impl.m_Idle) &&
                       impl.m_Threads.size() < static_cast<size_t>(impl.m_MaxThreads);
    if (bWantThread) {
        try {
            impl.m_Threads.emplace_back(&CImpl::Run, &impl);
        } catch (const std::exception&) {
            // With no thread at all the lookup would never run.
            if (impl.m_Threads.empty()) {
                impl.m_Queue.pop_back();
                impl.m_Jobs.erase(nHandle);
                return JX_ERR_NOMEM;
            }
        }
    }
    impl.m_Work.notify_one();
    return nHandle;
}

int32_t CJXResolver::Collect(int32_t nHandle, addrinfo** ppList)
{
    if (ppList == nullptr || m_pImpl == nullptr) return JX_ERR_ARG;
    std::lock_guard<std::mutex> lock(m_pImpl->m_Mutex);
    auto it = m_pImpl->m_Jobs.find(nHandle);
    if (it == m_pImpl->m_Jobs.end() || it->second.m_Cancelled) return JX_ERR_ARG;
    CJob& job = it->second;
    if (job.m_State != EJobState::Done) return 1;
    int32_t nRet = job.m_Found ? JX_OK : JX_ERR_FAIL;
    *ppList = job.m_List;
    m_pImpl->m_Jobs.erase(it);
    return nRet;
}

void CJXResolver::Cancel(int32_t nHandle)
{
    if (m_pImpl == nullptr) return;
    std::lock_guard<std::mutex> lock(m_pImpl->m_Mutex);
    auto it = m_pImpl->m_Jobs.find(nHandle);
    if (it == m_pImpl->m_Jobs.end()) return;
    CJob& job = it->second;
    switch (job.m_State) {
    case EJobState::Queued:
        for (auto q = m_pImpl->m_Queue.begin(); q != m_pImpl->m_Queue.end(); ++q) {
            if (*q == nHandle) {
                m_pImpl->m_Queue.erase(q);
                break;
            }
        }
        m_pImpl->m_Jobs.erase(it);
        break;
    case EJobState::Running:
        job.m_Cancelled = true;   // the thread frees the result and the entry
        break;
    case EJobState::Done:
        if (job.m_List != nullptr) freeaddrinfo(job.m_List);
        m_pImpl->m_Jobs.erase(it);
        break;
    }
}

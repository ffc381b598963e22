// Worker threads that call the members that are due in rounds, and between
// rounds wait on the readiness set of the sockets the members watch, until
// the nearest member is due.
#include "JXThreadPool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <pthread.h>
#endif

namespace {

constexpr int32_t kMaxThreads = 64;
// Linux takes thread names of 15 characters (16 bytes with the NUL).
constexpr size_t kMaxNameLen = 15;
// A readiness event's tag: the member's slot in the low 32 bits, the socket's
// position among the member's watches in the next 8, the slot's generation
// above (an event of a member since detached is stale).
constexpr uint32_t kPositionShift = 32;
constexpr uint32_t kGenShift = 40;
constexpr uint64_t kSlotMask = 0xFFFFFFFFu;
constexpr uint64_t kPositionMask = 0xFFu;
constexpr uint32_t kGenMask = 0xFFFFFFu;
// Positions are the bits of the ready mask a call is given.
constexpr size_t kMaxWatchesPerMember = 32;

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#if defined(_WIN32)

typedef HRESULT(WINAPI* SetThreadDescriptionFunc)(HANDLE, PCWSTR);

// SetThreadDescription exists from Windows 10 1607 on; older systems go unnamed.
void SetThreadName(const char* pName)
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    if (hKernel == nullptr) return;
    auto pSet = reinterpret_cast<SetThreadDescriptionFunc>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "SetThreadDescription")));
    if (pSet == nullptr) return;
    wchar_t name[kMaxNameLen + 1];
    int n = MultiByteToWideChar(CP_UTF8, 0, pName, -1, name, static_cast<int>(kMaxNameLen + 1));
    if (n <= 0) return;
    pSet(GetCurrentThread(), name);
}

#else

void SetThreadName(const char* pName)
{
    pthread_setname_np(pthread_self(), pName);
}

#endif

}   // namespace

// The pool's state. The threads hold it as well as the pool object, so a pool
// destroyed from inside one of its own calls leaves it alive for the thread
// that is still returning from that call.
struct CJXThreadPool::Core {
    // One member. Slots are reused but never removed, so an index stays valid
    // while a thread runs the member without holding the mutex.
    struct Entry {
        CJXObject* m_Object = nullptr;
        JXWorkFunc m_Func = nullptr;
        bool m_Attached = false;   // called in rounds
        bool m_Running = false;    // a thread is inside the call
        std::thread::id m_Runner;
        uint64_t m_Ended = 0;   // calls finished, for Detach to wait on
        int64_t m_Due = 0;      // when the hint runs out (steady ms)
        bool m_Ready = false;   // a watched socket was reported ready
        uint32_t m_ReadyMask = 0;   // by position, for the next call
        uint32_t m_Gen = 0;         // counts detaches of the slot
        // Watched sockets by position; a position given up holds none.
        std::vector<JXSOCKET> m_Watched;
    };

    std::mutex m_Mutex;
    std::condition_variable m_Wake;        // a thread pausing between rounds
    std::condition_variable m_CallEnded;   // Detach waiting for a running call
    std::vector<Entry> m_Entries;
    std::vector<std::thread> m_Threads;
    std::vector<std::thread::id> m_ThreadIds;
    std::string m_Name;
    uint32_t m_MaxWait = 0;
    uint64_t m_Changes = 0;   // counts attaches and detaches
    int32_t m_Count = 0;
    int32_t m_Waiters = 0;
    bool m_Stop = false;
    // The readiness set; one thread at a time waits on it (m_Polling), the
    // others on m_Wake.
    CJXPollSet m_Poll;
    bool m_Polling = false;
    CJXPollSet::Event m_Events[CJXPollSet::kMaxEvents];

    // The index of the attached pair, or -1. bRunning: also a pair detached
    // while its call still runs.
    int32_t Find(const CJXObject* pObject, JXWorkFunc pFunc, bool bRunning = false) const
    {
        for (size_t i = 0; i < m_Entries.size(); ++i) {
            const Entry& e = m_Entries[i];
            if (!e.m_Attached && !(bRunning && e.m_Running)) continue;
            if (e.m_Object == pObject && e.m_Func == pFunc) return static_cast<int32_t>(i);
        }
        return -1;
    }

    void Run();
    // One round over the members that are due; the time the next one is due
    // (steady ms), or -1 when none waits. Entered and left with the lock held.
    int64_t RunRound(std::unique_lock<std::mutex>& lock);
    // Waits on the readiness set at most nTimeoutMs (negative: until woken)
    // and marks the members whose sockets are ready. Lock held on entry and exit.
    void WaitReady(std::unique_lock<std::mutex>& lock, int64_t nTimeoutMs);
    // A detached slot: its sockets leave the set, its events become stale.
    void Unwatch(Entry& e)
    {
        for (JXSOCKET s : e.m_Watched) {
            if (s != JX_INVALID_SOCKET) m_Poll.Set(s, 0, 0);
        }
        e.m_Watched.clear();
        e.m_Ready = false;
        e.m_ReadyMask = 0;
        e.m_Gen = (e.m_Gen + 1) & kGenMask;
    }
    // Ends the wait of whichever thread waits, on the set or the condition.
    void WakeAll()
    {
        ++m_Changes;
        m_Wake.notify_all();
        m_Poll.Wake();
    }
};

int64_t CJXThreadPool::Core::RunRound(std::unique_lock<std::mutex>& lock)
{
    const std::thread::id self = std::this_thread::get_id();
    const int64_t nNow = NowMs();
    int64_t nNext = -1;
    // By index: the vector may grow while a call runs without the lock, and
    // nothing is copied per round.
    for (size_t i = 0; i < m_Entries.size() && !m_Stop; ++i) {
        Entry& e = m_Entries[i];
        if (!e.m_Attached || e.m_Running) continue;   // running: on another thread
        if (!e.m_Ready && e.m_Due > nNow) {
            if (nNext < 0 || e.m_Due < nNext) nNext = e.m_Due;
            continue;
        }
        e.m_Running = true;
        e.m_Ready = false;   // readiness reported during the call calls it again
        const uint32_t nReadyMask = e.m_ReadyMask;
        e.m_ReadyMask = 0;
        e.m_Runner = self;
        CJXObject* pObject = e.m_Object;
        JXWorkFunc pFunc = e.m_Func;

        lock.unlock();
        unsigned int nHint = m_MaxWait;
        (pObject->*pFunc)(nullptr, nReadyMask, nHint);
        lock.lock();

        Entry& done = m_Entries[i];
        done.m_Running = false;
        done.m_Runner = std::thread::id();
        ++done.m_Ended;
        // Detached during the call: what it still watches leaves the set now,
        // before Detach returns and before the slot can be taken again.
        if (!done.m_Attached) Unwatch(done);
        if (m_Waiters > 0) m_CallEnded.notify_all();
        const uint32_t nAsked = nHint < m_MaxWait ? nHint : m_MaxWait;
        done.m_Due = NowMs() + nAsked;
        if (nNext < 0 || done.m_Due < nNext) nNext = done.m_Due;
    }
    return nNext;
}

void CJXThreadPool::Core::WaitReady(std::unique_lock<std::mutex>& lock, int64_t nTimeoutMs)
{
    m_Polling = true;
    lock.unlock();
    const int32_t nReady = m_Poll.Wait(static_cast<int32_t>(nTimeoutMs), m_Events, CJXPollSet::kMaxEvents);
    lock.lock();
    m_Polling = false;
    for (int32_t i = 0; i < nReady; ++i) {
        const size_t nSlot = static_cast<size_t>(m_Events[i].m_Tag & kSlotMask);
        const uint32_t nPosition = static_cast<uint32_t>((m_Events[i].m_Tag >> kPositionShift) & kPositionMask);
        const uint32_t nGen = static_cast<uint32_t>(m_Events[i].m_Tag >> kGenShift);
        if (nSlot >= m_Entries.size()) continue;
        Entry& e = m_Entries[nSlot];
        if (!e.m_Attached || e.m_Gen != nGen) continue;
        e.m_Ready = true;
        e.m_ReadyMask |= 1u << nPosition;
    }
    // Threads waiting on the condition may take the ready members, or the
    // set's wait once this thread is in a call.
    if (m_Threads.size() > 1) {
        ++m_Changes;
        m_Wake.notify_all();
    }
}

void CJXThreadPool::Core::Run()
{
    SetThreadName(m_Name.c_str());
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (!m_Stop) {
        const uint64_t nChanges = m_Changes;
        auto changed = [this, nChanges] { return m_Stop || m_Changes != nChanges; };
        const int64_t nNext = RunRound(lock);
        if (m_Stop) break;
        // Until the nearest member is due, at most the longest hint; with no
        // member due (none, or all in calls on other threads) until a member
        // comes or goes, or the longest hint when some are in calls.
        int64_t nTimeout = m_Count > 0 ? static_cast<int64_t>(m_MaxWait) : -1;
        if (nNext >= 0) nTimeout = std::min<int64_t>(std::max<int64_t>(nNext - NowMs(), 0), m_MaxWait);
        if (!m_Polling && m_Poll.IsOpen()) {
            WaitReady(lock, nTimeout);
        } else if (nTimeout < 0) {
            m_Wake.wait(lock, changed);
        } else if (nTimeout == 0) {
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        } else {
            m_Wake.wait_for(lock, std::chrono::milliseconds(nTimeout), changed);
        }
    }
}

CJXThreadPool::CJXThreadPool(int32_t nThreads, const char* pName, int32_t /*nFlags*/, int32_t nMaxWait)
{
    try {
        m_Core = std::make_shared<Core>();
        m_Core->m_Name = pName ? pName : "";
    } catch (const std::bad_alloc&) {
        m_Core.reset();
        return;
    }
    if (m_Core->m_Name.size() > kMaxNameLen) m_Core->m_Name.resize(kMaxNameLen);
    // Without a readiness set the threads pause on the condition alone, and
    // members are called at their hints only.
    m_Core->m_Poll.Open();
    m_Core->m_MaxWait = nMaxWait > 0 ? static_cast<uint32_t>(nMaxWait) : 0;
    if (nThreads < 1) nThreads = 1;
    if (nThreads > kMaxThreads) nThreads = kMaxThreads;

    std::lock_guard<std::mutex> lock(m_Core->m_Mutex);
    try {
        m_Core->m_Threads.reserve(static_cast<size_t>(nThreads));
        m_Core->m_ThreadIds.reserve(static_cast<size_t>(nThreads));
        for (int32_t i = 0; i < nThreads; ++i) {
            std::shared_ptr<Core> pCore = m_Core;
            m_Core->m_Threads.emplace_back([pCore] { pCore->Run(); });
            m_Core->m_ThreadIds.push_back(m_Core->m_Threads.back().get_id());
        }
    } catch (const std::exception&) {
        // Fewer threads than asked for; Attach refuses members when none runs.
    }
}

CJXThreadPool::~CJXThreadPool()
{
    if (!m_Core) return;
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_Core->m_Mutex);
        m_Core->m_Stop = true;
        threads.swap(m_Core->m_Threads);
        m_Core->WakeAll();
    }
    const std::thread::id self = std::this_thread::get_id();
    for (std::thread& t : threads) {
        // On a pool thread (a member ending the pool): do not wait for
        // ourselves; this thread leaves its loop once the call returns.
        if (t.get_id() == self) {
            t.detach();
        } else {
            t.join();
        }
    }
}

int32_t CJXThreadPool::Attach(CJXObject* pObject, JXWorkFunc pFunc)
{
    if (pObject == nullptr || pFunc == nullptr) return JX_ERR_ARG;
    if (!m_Core) return JX_ERR_NOMEM;
    Core& core = *m_Core;
    std::lock_guard<std::mutex> lock(core.m_Mutex);
    if (core.m_Threads.empty()) return JX_ERR_NOMEM;
    if (core.Find(pObject, pFunc) >= 0) return JX_OK;

    // A free slot is one neither attached nor still inside a call.
    size_t nSlot = 0;
    while (nSlot < core.m_Entries.size() && (core.m_Entries[nSlot].m_Attached || core.m_Entries[nSlot].m_Running)) {
        ++nSlot;
    }
    if (nSlot == core.m_Entries.size()) {
        try {
            core.m_Entries.emplace_back();
        } catch (const std::bad_alloc&) {
            return JX_ERR_NOMEM;
        }
    }
    Core::Entry& e = core.m_Entries[nSlot];
    e.m_Object = pObject;
    e.m_Func = pFunc;
    e.m_Attached = true;
    e.m_Due = 0;   // called in the next round
    e.m_Ready = false;
    ++core.m_Count;
    core.WakeAll();
    return JX_OK;
}

int32_t CJXThreadPool::Detach(CJXObject* pObject, JXWorkFunc pFunc)
{
    if (pObject == nullptr || pFunc == nullptr) return JX_ERR_ARG;
    if (!m_Core) return JX_ERR_STATE;
    Core& core = *m_Core;
    std::unique_lock<std::mutex> lock(core.m_Mutex);
    int32_t nSlot = core.Find(pObject, pFunc);
    if (nSlot < 0) return JX_ERR_STATE;

    Core::Entry& e = core.m_Entries[static_cast<size_t>(nSlot)];
    e.m_Attached = false;   // no thread starts it again from now on
    --core.m_Count;
    core.WakeAll();
    // A running call may still close its sockets: its watches leave the set
    // when the call has ended (RunRound), never while it may be closing one,
    // whose number another socket could take at once.
    if (!e.m_Running) {
        core.Unwatch(e);
        return 0;
    }
    if (e.m_Runner == std::this_thread::get_id()) return 1;   // from inside its own call

    // Wait for the running call to end. The slot is not reused while it runs,
    // so the count of ended calls tells when it did.
    const uint64_t nEnded = e.m_Ended;
    ++core.m_Waiters;
    core.m_CallEnded.wait(
        lock, [&core, nSlot, nEnded] { return core.m_Entries[static_cast<size_t>(nSlot)].m_Ended != nEnded; });
    --core.m_Waiters;
    return 0;
}

int32_t CJXThreadPool::Watch(CJXObject* pObject, JXWorkFunc pFunc, JXSOCKET s, uint32_t nEvents)
{
    if (pObject == nullptr || pFunc == nullptr || s == JX_INVALID_SOCKET) return JX_ERR_ARG;
    if (!m_Core) return JX_ERR_STATE;
    Core& core = *m_Core;
    std::lock_guard<std::mutex> lock(core.m_Mutex);
    // A member detached inside its call may still take its sockets out of
    // the set before it closes them; it adds none.
    const int32_t nSlot = core.Find(pObject, pFunc, nEvents == 0);
    if (nSlot < 0) return JX_ERR_STATE;
    Core::Entry& e = core.m_Entries[static_cast<size_t>(nSlot)];
    auto it = std::find(e.m_Watched.begin(), e.m_Watched.end(), s);
    if (nEvents == 0) {
        if (it == e.m_Watched.end()) return JX_OK;
        *it = JX_INVALID_SOCKET;   // the position stays for the next watch
        return core.m_Poll.Set(s, 0, 0);
    }
    const bool bKnown = it != e.m_Watched.end();
    if (!bKnown) it = std::find(e.m_Watched.begin(), e.m_Watched.end(), JX_INVALID_SOCKET);
    if (it == e.m_Watched.end()) {
        if (e.m_Watched.size() >= kMaxWatchesPerMember) return JX_ERR_NOMEM;
        try {
            it = e.m_Watched.insert(it, JX_INVALID_SOCKET);
        } catch (const std::bad_alloc&) {
            return JX_ERR_NOMEM;
        }
    }
    const uint64_t nPosition = static_cast<uint64_t>(it - e.m_Watched.begin());
    const uint64_t nTag =
        (static_cast<uint64_t>(e.m_Gen) << kGenShift) | (nPosition << kPositionShift) | static_cast<uint64_t>(nSlot);
    const int32_t nRet = core.m_Poll.Set(s, nEvents, nTag);
    if (nRet != JX_OK) return nRet;
    *it = s;
    return static_cast<int32_t>(nPosition);
}

int32_t CJXThreadPool::GetCount() const
{
    if (!m_Core) return 0;
    std::lock_guard<std::mutex> lock(m_Core->m_Mutex);
    return m_Core->m_Count;
}

int32_t CJXThreadPool::GetWatchCount() const
{
    if (!m_Core) return 0;
    std::lock_guard<std::mutex> lock(m_Core->m_Mutex);
    size_t n = 0;
    for (const Core::Entry& e : m_Core->m_Entries)
        n += static_cast<size_t>(std::count_if(e.m_Watched.begin(), e.m_Watched.end(),
                                               [](JXSOCKET s) { return s != JX_INVALID_SOCKET; }));
    return static_cast<int32_t>(n);
}

bool CJXThreadPool::IsPoolThread() const
{
    if (!m_Core) return false;
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(m_Core->m_Mutex);
    for (const std::thread::id& id : m_Core->m_ThreadIds) {
        if (id == self) return true;
    }
    return false;
}

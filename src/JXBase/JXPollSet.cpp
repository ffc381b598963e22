// The readiness set: epoll with an eventfd to wake it on Linux; on Windows
// WSAPoll over an array of any length, woken by a datagram a loopback socket
// sends to itself.
#include "JXPollSet.h"

#include <cstring>

#if defined(_WIN32)
#  include <mutex>
#  include <new>
#  include <vector>
#else
#  include <cerrno>
#  include <climits>
#  include <sys/epoll.h>
#  include <sys/eventfd.h>
#  include <unistd.h>
#endif

namespace {

int32_t ClampMax(int32_t nMax)
{
    return nMax > CJXPollSet::kMaxEvents ? CJXPollSet::kMaxEvents : nMax;
}

}   // namespace

#if defined(_WIN32)

struct CJXPollSet::Impl {
    std::mutex m_Mutex;
    // Slot 0 is the wake socket; the tags run beside the array.
    std::vector<WSAPOLLFD> m_Fds;
    std::vector<uint64_t> m_Tags;
    // The copy a Wait polls, so that Set need not wait for it.
    std::vector<WSAPOLLFD> m_WaitFds;
    std::vector<uint64_t> m_WaitTags;
    JXSOCKET m_Wake = JX_INVALID_SOCKET;
    bool m_Waiting = false;

    static short Wanted(uint32_t nEvents)
    {
        return static_cast<short>(((nEvents & kReadable) ? POLLRDNORM : 0) | ((nEvents & kWritable) ? POLLWRNORM : 0));
    }
    // The slot of s, or 0 (the wake socket's) when it is not in the set.
    size_t Find(JXSOCKET s) const
    {
        for (size_t i = 1; i < m_Fds.size(); ++i) {
            if (static_cast<JXSOCKET>(m_Fds[i].fd) == s) return i;
        }
        return 0;
    }
    void Remove(size_t nSlot)
    {
        m_Fds[nSlot] = m_Fds.back();
        m_Tags[nSlot] = m_Tags.back();
        m_Fds.pop_back();
        m_Tags.pop_back();
    }
    // A poll refused for a handle that is no longer a socket (closed without
    // being removed): such handles leave the set and are reported once. The
    // count, or JX_ERR_FAIL when every handle is a socket.
    int32_t DropClosed(Event* pOut, int32_t nMax)
    {
        int32_t nOut = 0;
        for (size_t i = m_Fds.size(); i-- > 1 && nOut < nMax;) {
            int32_t nType = 0;
            if (JXSocketGetOptInt(static_cast<JXSOCKET>(m_Fds[i].fd), SOL_SOCKET, SO_TYPE, &nType) == JX_OK) continue;
            pOut[nOut].m_Tag = m_Tags[i];
            pOut[nOut].m_Events = kError;
            ++nOut;
            Remove(i);
        }
        return nOut > 0 ? nOut : JX_ERR_FAIL;
    }
    void Drain()
    {
        char buf[16];
        while (JXSocketRecv(m_Wake, buf, sizeof(buf)) > 0) {
        }
    }
};

int32_t CJXPollSet::Open()
{
    if (m_Impl) return JX_OK;
    std::unique_ptr<Impl> pImpl(new (std::nothrow) Impl());
    if (!pImpl) return JX_ERR_NOMEM;
    // A socket that sends to itself: readable whenever a wake-up waits.
    JXNetStartup();
    JXSOCKET s = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int32_t nLen = sizeof(addr);
    sockaddr* pAddr = reinterpret_cast<sockaddr*>(&addr);
    if (s == JX_INVALID_SOCKET || JXSocketBind(s, pAddr, nLen) != JX_OK || JXSocketGetName(s, pAddr, &nLen) != JX_OK ||
        JXSocketConnect(s, pAddr, nLen) != JX_OK || JXSocketSetBlocking(s, 0) != JX_OK) {
        if (s != JX_INVALID_SOCKET) JXSocketClose(s);
        JXNetCleanup();
        return JX_ERR_FAIL;
    }
    try {
        WSAPOLLFD wake;
        wake.fd = static_cast<SOCKET>(s);
        wake.events = POLLRDNORM;
        wake.revents = 0;
        pImpl->m_Fds.push_back(wake);
        pImpl->m_Tags.push_back(0);
    } catch (const std::bad_alloc&) {
        JXSocketClose(s);
        JXNetCleanup();
        return JX_ERR_NOMEM;
    }
    pImpl->m_Wake = s;
    m_Impl = std::move(pImpl);
    return JX_OK;
}

void CJXPollSet::Close()
{
    if (!m_Impl) return;
    JXSocketClose(m_Impl->m_Wake);
    m_Impl.reset();
    JXNetCleanup();
}

int32_t CJXPollSet::Set(JXSOCKET s, uint32_t nEvents, uint64_t nTag)
{
    if (s == JX_INVALID_SOCKET) return JX_ERR_ARG;
    if (!m_Impl) return JX_ERR_STATE;
    Impl& impl = *m_Impl;
    {
        std::lock_guard<std::mutex> lock(impl.m_Mutex);
        const size_t nSlot = impl.Find(s);
        if (nEvents == 0) {
            if (nSlot == 0) return JX_OK;
            impl.Remove(nSlot);
        } else if (nSlot != 0) {
            impl.m_Fds[nSlot].events = Impl::Wanted(nEvents);
            impl.m_Tags[nSlot] = nTag;
        } else {
            WSAPOLLFD fd;
            fd.fd = static_cast<SOCKET>(s);
            fd.events = Impl::Wanted(nEvents);
            fd.revents = 0;
            try {
                impl.m_Fds.push_back(fd);
                impl.m_Tags.push_back(nTag);
            } catch (const std::bad_alloc&) {
                if (impl.m_Tags.size() < impl.m_Fds.size()) impl.m_Fds.pop_back();
                return JX_ERR_NOMEM;
            }
        }
        if (!impl.m_Waiting) return JX_OK;
    }
    // A wait under way polls the old array: it starts again with this one.
    Wake();
    return JX_OK;
}

int32_t CJXPollSet::Wait(int32_t nTimeoutMs, Event* pOut, int32_t nMax)
{
    if (pOut == nullptr || nMax < 1) return JX_ERR_ARG;
    if (!m_Impl) return JX_ERR_STATE;
    Impl& impl = *m_Impl;
    try {
        std::lock_guard<std::mutex> lock(impl.m_Mutex);
        impl.m_WaitFds = impl.m_Fds;
        impl.m_WaitTags = impl.m_Tags;
        impl.m_Waiting = true;
    } catch (const std::bad_alloc&) {
        return JX_ERR_NOMEM;
    }
    const int nReady = WSAPoll(impl.m_WaitFds.data(), static_cast<ULONG>(impl.m_WaitFds.size()),
                               nTimeoutMs < 0 ? -1 : nTimeoutMs);
    std::lock_guard<std::mutex> lock(impl.m_Mutex);
    impl.m_Waiting = false;
    if (nReady < 0) return impl.DropClosed(pOut, ClampMax(nMax));
    if (impl.m_WaitFds[0].revents != 0) impl.Drain();
    const int32_t nCap = ClampMax(nMax);
    int32_t nOut = 0;
    for (size_t i = 1; i < impl.m_WaitFds.size() && nOut < nCap; ++i) {
        const WSAPOLLFD& fd = impl.m_WaitFds[i];
        if (fd.revents == 0) continue;
        uint32_t nEvents = 0;
        if (fd.revents & (POLLRDNORM | POLLHUP)) nEvents |= kReadable;
        if (fd.revents & POLLWRNORM) nEvents |= kWritable;
        if (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) nEvents |= kError;
        // No longer a socket (closed without being removed): it leaves the
        // set, so that it is reported once and the wait does not spin on it.
        if (fd.revents & POLLNVAL) {
            const size_t nSlot = impl.Find(static_cast<JXSOCKET>(fd.fd));
            if (nSlot != 0) impl.Remove(nSlot);
        }
        pOut[nOut].m_Tag = impl.m_WaitTags[i];
        pOut[nOut].m_Events = nEvents;
        ++nOut;
    }
    return nOut;
}

void CJXPollSet::Wake()
{
    if (!m_Impl) return;
    const char b = 1;
    JXSocketSend(m_Impl->m_Wake, &b, 1);
}

#else   // Linux

struct CJXPollSet::Impl {
    int m_Epoll = -1;
    int m_Wake = -1;   // eventfd, in the set with kWakeTag
    epoll_event m_Events[kMaxEvents];
};

namespace {

// The wake-up's tag in the system's set; callers' tags are kept as given.
constexpr uint64_t kWakeTag = ~uint64_t(0);

int Native(JXSOCKET s)
{
    return s > static_cast<JXSOCKET>(INT_MAX) ? -1 : static_cast<int>(s);
}

}   // namespace

int32_t CJXPollSet::Open()
{
    if (m_Impl) return JX_OK;
    std::unique_ptr<Impl> pImpl(new (std::nothrow) Impl());
    if (!pImpl) return JX_ERR_NOMEM;
    pImpl->m_Epoll = epoll_create1(EPOLL_CLOEXEC);
    pImpl->m_Wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    if (pImpl->m_Epoll < 0 || pImpl->m_Wake < 0 || epoll_ctl(pImpl->m_Epoll, EPOLL_CTL_ADD, pImpl->m_Wake, &ev) != 0) {
        if (pImpl->m_Epoll >= 0) close(pImpl->m_Epoll);
        if (pImpl->m_Wake >= 0) close(pImpl->m_Wake);
        return JX_ERR_FAIL;
    }
    m_Impl = std::move(pImpl);
    return JX_OK;
}

void CJXPollSet::Close()
{
    if (!m_Impl) return;
    close(m_Impl->m_Epoll);
    close(m_Impl->m_Wake);
    m_Impl.reset();
}

int32_t CJXPollSet::Set(JXSOCKET s, uint32_t nEvents, uint64_t nTag)
{
    const int fd = Native(s);
    if (fd < 0 || nTag == kWakeTag) return JX_ERR_ARG;
    if (!m_Impl) return JX_ERR_STATE;
    if (nEvents == 0) {
        // Not in the set, or already gone with its close: nothing to remove.
        if (epoll_ctl(m_Impl->m_Epoll, EPOLL_CTL_DEL, fd, nullptr) == 0 || errno == ENOENT || errno == EBADF)
            return JX_OK;
        return JX_ERR_FAIL;
    }
    epoll_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.events = ((nEvents & kReadable) ? EPOLLIN : 0u) | ((nEvents & kWritable) ? EPOLLOUT : 0u);
    ev.data.u64 = nTag;
    if (epoll_ctl(m_Impl->m_Epoll, EPOLL_CTL_MOD, fd, &ev) == 0) return JX_OK;
    if (errno == ENOENT && epoll_ctl(m_Impl->m_Epoll, EPOLL_CTL_ADD, fd, &ev) == 0) return JX_OK;
    return errno == ENOMEM || errno == ENOSPC ? JX_ERR_NOMEM : JX_ERR_FAIL;
}

int32_t CJXPollSet::Wait(int32_t nTimeoutMs, Event* pOut, int32_t nMax)
{
    if (pOut == nullptr || nMax < 1) return JX_ERR_ARG;
    if (!m_Impl) return JX_ERR_STATE;
    Impl& impl = *m_Impl;
    const int nReady = epoll_wait(impl.m_Epoll, impl.m_Events, ClampMax(nMax), nTimeoutMs < 0 ? -1 : nTimeoutMs);
    if (nReady < 0) return errno == EINTR ? 0 : JX_ERR_FAIL;
    int32_t nOut = 0;
    for (int i = 0; i < nReady; ++i) {
        const epoll_event& ev = impl.m_Events[i];
        if (ev.data.u64 == kWakeTag) {
            uint64_t nCount = 0;
            if (read(impl.m_Wake, &nCount, sizeof(nCount)) < 0) {
                // Already read by an earlier wait: nothing to reset.
            }
            continue;
        }
        uint32_t nEvents = 0;
        if (ev.events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP)) nEvents |= kReadable;
        if (ev.events & EPOLLOUT) nEvents |= kWritable;
        if (ev.events & (EPOLLERR | EPOLLHUP)) nEvents |= kError;
        pOut[nOut].m_Tag = ev.data.u64;
        pOut[nOut].m_Events = nEvents;
        ++nOut;
    }
    return nOut;
}

void CJXPollSet::Wake()
{
    if (!m_Impl) return;
    const uint64_t nOne = 1;
    if (write(m_Impl->m_Wake, &nOne, sizeof(nOne)) < 0) {
        // The counter is full: a wake-up waits already.
    }
}

#endif

// Both platforms' Impl is complete here, as the owning pointer needs.
CJXPollSet::CJXPollSet() = default;

CJXPollSet::~CJXPollSet()
{
    Close();
}

bool CJXPollSet::IsOpen() const
{
    return m_Impl != nullptr;
}

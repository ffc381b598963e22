// The platform layer: BSD sockets with poll on Linux, Winsock 2 with select on
// Windows. Nothing above this file knows which one it runs on.
#include "JXNet.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#  include <mstcpip.h>
#else
#  include <cerrno>
#  include <fcntl.h>
#  include <poll.h>
#  include <unistd.h>
#endif

namespace {

// The platform error number of the last failed call made through this layer
// on this thread; kept here so that a log call in between cannot overwrite it.
thread_local int32_t s_LastError = 0;

#if defined(_WIN32)

#  ifndef SIO_UDP_CONNRESET
#    define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#  endif

typedef int JXSockLen;

void RecordError()
{
    s_LastError = WSAGetLastError();
}

SOCKET Native(JXSOCKET s)
{
    return static_cast<SOCKET>(s);
}

#else

typedef socklen_t JXSockLen;

void RecordError()
{
    s_LastError = errno;
}

// Descriptors are small non-negative ints; anything else (the invalid handle
// included) becomes -1, which every call rejects with EBADF.
int Native(JXSOCKET s)
{
    return s > static_cast<JXSOCKET>(INT_MAX) ? -1 : static_cast<int>(s);
}

#endif

int32_t ClampCount(int32_t n)
{
    if (n < 0) return 0;
    return n > CJXFdSet::kMax ? CJXFdSet::kMax : n;
}

int SystemResolve(const char* pHost, const char* pPort, const addrinfo* pHints, addrinfo** ppResult)
{
    return getaddrinfo(pHost, pPort, pHints, ppResult);
}

std::atomic<JXResolveFunc> s_Resolver{nullptr};

// The text of a numeric host without the brackets of an IPv6 literal, or
// false when it does not fit nCap bytes or a bracket is not closed.
bool StripBrackets(const char* pHost, char* pOut, size_t nCap)
{
    size_t n = strlen(pHost);
    if (pHost[0] == '[') {
        if (n < 2 || pHost[n - 1] != ']') return false;
        ++pHost;
        n -= 2;
    }
    if (n == 0 || n >= nCap) return false;
    memcpy(pOut, pHost, n);
    pOut[n] = '\0';
    return true;
}

}   // namespace

void CJXFdSet::Zero()
{
    m_Count = 0;
}

bool CJXFdSet::Add(JXSOCKET s)
{
    if (s == JX_INVALID_SOCKET) return false;
    int32_t nCount = ClampCount(m_Count);
    for (int32_t i = 0; i < nCount; ++i) {
        if (m_Sockets[i] == s) return true;
    }
    if (nCount >= kMax) return false;
    m_Sockets[nCount] = s;
    m_Ready[nCount] = true;   // like FD_SET: set until a check says otherwise
    m_Count = nCount + 1;
    return true;
}

bool CJXFdSet::IsSet(JXSOCKET s) const
{
    int32_t nCount = ClampCount(m_Count);
    for (int32_t i = 0; i < nCount; ++i) {
        if (m_Sockets[i] == s) return m_Ready[i];
    }
    return false;
}

#if defined(_WIN32)

namespace {
std::mutex& StartupMutex()
{
    static std::mutex s_Mutex;
    return s_Mutex;
}
int32_t s_StartupCount = 0;
}   // namespace

int32_t JXNetStartup()
{
    std::lock_guard<std::mutex> lock(StartupMutex());
    if (s_StartupCount == 0) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return JX_ERR_FAIL;
    }
    ++s_StartupCount;
    return JX_OK;
}

void JXNetCleanup()
{
    std::lock_guard<std::mutex> lock(StartupMutex());
    if (s_StartupCount > 0 && --s_StartupCount == 0) WSACleanup();
}

int32_t JXSelect(CJXFdSet* pRead, CJXFdSet* pWrite, int32_t nTimeoutMs)
{
    int32_t nRead = pRead ? ClampCount(pRead->m_Count) : 0;
    int32_t nWrite = pWrite ? ClampCount(pWrite->m_Count) : 0;
    if (nRead + nWrite == 0) {
        // select refuses three empty sets; a plain pause does the same job.
        if (nTimeoutMs < 0) return JX_ERR_ARG;
        if (nTimeoutMs > 0) Sleep(static_cast<DWORD>(nTimeoutMs));
        return 0;
    }

    // Windows sets hold up to FD_SETSIZE (64) handles of any value.
    fd_set readSet, writeSet, errorSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&errorSet);
    for (int32_t i = 0; i < nRead; ++i)
        FD_SET(Native(pRead->m_Sockets[i]), &readSet);
    // A failed non-blocking connect shows in the error set, not the write set.
    for (int32_t i = 0; i < nWrite; ++i) {
        FD_SET(Native(pWrite->m_Sockets[i]), &writeSet);
        FD_SET(Native(pWrite->m_Sockets[i]), &errorSet);
    }

    timeval tv;
    timeval* pTv = nullptr;
    if (nTimeoutMs >= 0) {
        tv.tv_sec = nTimeoutMs / 1000;
        tv.tv_usec = (nTimeoutMs % 1000) * 1000;
        pTv = &tv;
    }
    int rc = select(0, nRead ? &readSet : nullptr, nWrite ? &writeSet : nullptr, nWrite ? &errorSet : nullptr, pTv);
    if (rc == SOCKET_ERROR) {
        RecordError();
        return JX_ERR_FAIL;
    }

    int32_t nReady = 0;
    for (int32_t i = 0; i < nRead; ++i) {
        pRead->m_Ready[i] = FD_ISSET(Native(pRead->m_Sockets[i]), &readSet) != 0;
        nReady += pRead->m_Ready[i] ? 1 : 0;
    }
    for (int32_t i = 0; i < nWrite; ++i) {
        SOCKET s = Native(pWrite->m_Sockets[i]);
        pWrite->m_Ready[i] = FD_ISSET(s, &writeSet) || FD_ISSET(s, &errorSet);
        nReady += pWrite->m_Ready[i] ? 1 : 0;
    }
    return nReady;
}

JXSOCKET JXSocketCreate(int32_t nFamily, int32_t nType, int32_t nProtocol)
{
    SOCKET s = socket(nFamily, nType, nProtocol);
    if (s == INVALID_SOCKET) {
        RecordError();
        return JX_INVALID_SOCKET;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (nType == SOCK_DGRAM) {
        // Without this an ICMP "port unreachable" for an earlier datagram makes
        // the next recvfrom fail with WSAECONNRESET.
        BOOL bReport = FALSE;
        DWORD nBytes = 0;
        WSAIoctl(s, SIO_UDP_CONNRESET, &bReport, sizeof(bReport), nullptr, 0, &nBytes, nullptr, nullptr);
    }
    return static_cast<JXSOCKET>(s);
}

int32_t JXSocketClose(JXSOCKET s)
{
    if (closesocket(Native(s)) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

int32_t JXSocketSetBlocking(JXSOCKET s, int32_t bBlock)
{
    u_long nNonBlocking = bBlock ? 0 : 1;
    if (ioctlsocket(Native(s), FIONBIO, &nNonBlocking) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

int32_t JXSocketErrorKind(int32_t nRaw)
{
    switch (nRaw) {
    case 0:
        return JX_NET_ERR_NONE;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
    case WSAEINTR:
        return JX_NET_ERR_WOULDBLOCK;
    case WSAECONNREFUSED:
        return JX_NET_ERR_REFUSED;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAESHUTDOWN:
        return JX_NET_ERR_RESET;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return JX_NET_ERR_UNREACHABLE;
    case WSAETIMEDOUT:
        return JX_NET_ERR_TIMEDOUT;
    default:
        return JX_NET_ERR_OTHER;
    }
}

int32_t JXSocketSend(JXSOCKET s, const void* pData, int32_t n)
{
    int rc = send(Native(s), static_cast<const char*>(pData), n, 0);
    if (rc == SOCKET_ERROR) {
        RecordError();
        return -1;
    }
    return rc;
}

int32_t JXSocketRecv(JXSOCKET s, void* pBuf, int32_t n)
{
    int rc = recv(Native(s), static_cast<char*>(pBuf), n, 0);
    if (rc == SOCKET_ERROR) {
        RecordError();
        return -1;
    }
    return rc;
}

int32_t JXSocketSendTo(JXSOCKET s, const void* pData, int32_t n, const sockaddr* pTo, int32_t nToLen)
{
    int rc = sendto(Native(s), static_cast<const char*>(pData), n, 0, pTo, nToLen);
    if (rc == SOCKET_ERROR) {
        RecordError();
        return -1;
    }
    return rc;
}

int32_t JXSocketRecvFrom(JXSOCKET s, void* pBuf, int32_t n, sockaddr* pFrom, int32_t* pFromLen)
{
    JXSockLen nLen = pFromLen ? static_cast<JXSockLen>(*pFromLen) : 0;
    int rc = recvfrom(Native(s), static_cast<char*>(pBuf), n, 0, pFrom, pFrom ? &nLen : nullptr);
    if (rc == SOCKET_ERROR) {
        RecordError();
        return -1;
    }
    if (pFromLen) *pFromLen = static_cast<int32_t>(nLen);
    return rc;
}

int32_t JXSocketRecvBatch(JXSOCKET s, char* pBuf, int32_t nSlot, int32_t nCount, int32_t* pLens, sockaddr_in* pFrom)
{
    if (pBuf == nullptr || nSlot < 1 || nCount < 1 || pLens == nullptr || pFrom == nullptr) return -1;
    // Winsock has no batch read: one datagram per call.
    int32_t nFrom = sizeof(*pFrom);
    const int32_t nGot = JXSocketRecvFrom(s, pBuf, nSlot, reinterpret_cast<sockaddr*>(pFrom), &nFrom);
    if (nGot < 0) return -1;
    pLens[0] = nGot;
    return 1;
}

#else   // Linux and other POSIX systems

int32_t JXNetStartup()
{
    return JX_OK;
}

void JXNetCleanup() {}

int32_t JXSelect(CJXFdSet* pRead, CJXFdSet* pWrite, int32_t nTimeoutMs)
{
    int32_t nRead = pRead ? ClampCount(pRead->m_Count) : 0;
    int32_t nWrite = pWrite ? ClampCount(pWrite->m_Count) : 0;
    if (nRead + nWrite == 0 && nTimeoutMs < 0) return JX_ERR_ARG;   // would never return

    // poll instead of select: an fd_set cannot hold descriptors of FD_SETSIZE
    // (1024) and above, which a process with hundreds of streams reaches.
    pollfd fds[2 * CJXFdSet::kMax];
    for (int32_t i = 0; i < nRead; ++i) {
        fds[i].fd = Native(pRead->m_Sockets[i]);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }
    for (int32_t i = 0; i < nWrite; ++i) {
        fds[nRead + i].fd = Native(pWrite->m_Sockets[i]);
        fds[nRead + i].events = POLLOUT;
        fds[nRead + i].revents = 0;
    }

    typedef std::chrono::steady_clock Clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs > 0 ? nTimeoutMs : 0);
    int nWait = nTimeoutMs;
    int rc;
    for (;;) {
        rc = poll(fds, static_cast<nfds_t>(nRead + nWrite), nWait);
        if (rc >= 0) break;
        if (errno != EINTR) {
            RecordError();
            return JX_ERR_FAIL;
        }
        if (nTimeoutMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            nWait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }

    // A closed or failed socket counts as ready, so that the following recv or
    // send reports what happened.
    const short kReadable = POLLIN | POLLHUP | POLLERR | POLLNVAL;
    const short kWritable = POLLOUT | POLLHUP | POLLERR | POLLNVAL;
    int32_t nReady = 0;
    for (int32_t i = 0; i < nRead; ++i) {
        pRead->m_Ready[i] = (fds[i].revents & kReadable) != 0;
        nReady += pRead->m_Ready[i] ? 1 : 0;
    }
    for (int32_t i = 0; i < nWrite; ++i) {
        pWrite->m_Ready[i] = (fds[nRead + i].revents & kWritable) != 0;
        nReady += pWrite->m_Ready[i] ? 1 : 0;
    }
    return nReady;
}

JXSOCKET JXSocketCreate(int32_t nFamily, int32_t nType, int32_t nProtocol)
{
    int fd = socket(nFamily, nType | SOCK_CLOEXEC, nProtocol);
    if (fd < 0) {
        RecordError();
        return JX_INVALID_SOCKET;
    }
    return static_cast<JXSOCKET>(fd);
}

int32_t JXSocketClose(JXSOCKET s)
{
    if (close(Native(s)) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

int32_t JXSocketSetBlocking(JXSOCKET s, int32_t bBlock)
{
    int fd = Native(s);
    int nFlags = fcntl(fd, F_GETFL, 0);
    if (nFlags < 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    nFlags = bBlock ? (nFlags & ~O_NONBLOCK) : (nFlags | O_NONBLOCK);
    if (fcntl(fd, F_SETFL, nFlags) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

int32_t JXSocketErrorKind(int32_t nRaw)
{
    switch (nRaw) {
    case 0:
        return JX_NET_ERR_NONE;
    case EAGAIN:
#  if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#  endif
    case EINPROGRESS:
    case EALREADY:
    case EINTR:
        return JX_NET_ERR_WOULDBLOCK;
    case ECONNREFUSED:
        return JX_NET_ERR_REFUSED;
    case ECONNRESET:
    case ECONNABORTED:
    case ENETRESET:
    case EPIPE:
        return JX_NET_ERR_RESET;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return JX_NET_ERR_UNREACHABLE;
    case ETIMEDOUT:
        return JX_NET_ERR_TIMEDOUT;
    default:
        return JX_NET_ERR_OTHER;
    }
}

int32_t JXSocketSend(JXSOCKET s, const void* pData, int32_t n)
{
    // MSG_NOSIGNAL: a peer that closed gives EPIPE here instead of killing the
    // host process with SIGPIPE.
    ssize_t rc = send(Native(s), pData, n > 0 ? static_cast<size_t>(n) : 0, MSG_NOSIGNAL);
    if (rc < 0) {
        RecordError();
        return -1;
    }
    return static_cast<int32_t>(rc);
}

int32_t JXSocketRecv(JXSOCKET s, void* pBuf, int32_t n)
{
    ssize_t rc = recv(Native(s), pBuf, n > 0 ? static_cast<size_t>(n) : 0, 0);
    if (rc < 0) {
        RecordError();
        return -1;
    }
    return static_cast<int32_t>(rc);
}

int32_t JXSocketSendTo(JXSOCKET s, const void* pData, int32_t n, const sockaddr* pTo, int32_t nToLen)
{
    ssize_t rc =
        sendto(Native(s), pData, n > 0 ? static_cast<size_t>(n) : 0, MSG_NOSIGNAL, pTo, static_cast<JXSockLen>(nToLen));
    if (rc < 0) {
        RecordError();
        return -1;
    }
    return static_cast<int32_t>(rc);
}

int32_t JXSocketRecvFrom(JXSOCKET s, void* pBuf, int32_t n, sockaddr* pFrom, int32_t* pFromLen)
{
    JXSockLen nLen = pFromLen && *pFromLen > 0 ? static_cast<JXSockLen>(*pFromLen) : 0;
    ssize_t rc = recvfrom(Native(s), pBuf, n > 0 ? static_cast<size_t>(n) : 0, 0, pFrom, pFrom ? &nLen : nullptr);
    if (rc < 0) {
        RecordError();
        return -1;
    }
    if (pFromLen) *pFromLen = static_cast<int32_t>(nLen);
    return static_cast<int32_t>(rc);
}

int32_t JXSocketRecvBatch(JXSOCKET s, char* pBuf, int32_t nSlot, int32_t nCount, int32_t* pLens, sockaddr_in* pFrom)
{
    constexpr int32_t kMaxBatch = 64;
    if (pBuf == nullptr || nSlot < 1 || nCount < 1 || pLens == nullptr || pFrom == nullptr) return -1;
    if (nCount > kMaxBatch) nCount = kMaxBatch;
    // The message headers live on the stack: nothing is allocated per read.
    mmsghdr msgs[kMaxBatch];
    iovec iov[kMaxBatch];
    memset(msgs, 0, sizeof(mmsghdr) * static_cast<size_t>(nCount));
    for (int32_t i = 0; i < nCount; ++i) {
        iov[i].iov_base = pBuf + static_cast<size_t>(i) * static_cast<size_t>(nSlot);
        iov[i].iov_len = static_cast<size_t>(nSlot);
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &pFrom[i];
        msgs[i].msg_hdr.msg_namelen = sizeof(pFrom[i]);
    }
    const int rc = recvmmsg(Native(s), msgs, static_cast<unsigned int>(nCount), MSG_DONTWAIT, nullptr);
    if (rc < 0) {
        RecordError();
        return -1;
    }
    for (int i = 0; i < rc; ++i) {
        pLens[i] = static_cast<int32_t>(msgs[i].msg_len);
        // A sender of another family is reported as none: callers drop it.
        if (msgs[i].msg_hdr.msg_namelen != sizeof(pFrom[i])) pFrom[i].sin_family = AF_UNSPEC;
    }
    return rc;
}

#endif

// The calls below read the same on both platforms: the differences sit in the
// types (socklen_t, char* option values) and in Native().

int32_t JXSocketLastErrorRaw()
{
    return s_LastError;
}

int32_t JXSocketLastError()
{
    return JXSocketErrorKind(s_LastError);
}

int32_t JXSocketSetOptInt(JXSOCKET s, int32_t nLevel, int32_t nName, int32_t nValue)
{
    int nInt = nValue;
    return JXSocketSetOpt(s, nLevel, nName, &nInt, static_cast<int32_t>(sizeof(nInt)));
}

int32_t JXSocketSetOpt(JXSOCKET s, int32_t nLevel, int32_t nName, const void* pValue, int32_t nLen)
{
    if (pValue == nullptr || nLen < 0) return JX_ERR_ARG;
    if (setsockopt(Native(s), nLevel, nName, static_cast<const char*>(pValue), static_cast<JXSockLen>(nLen)) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

int32_t JXSocketGetOptInt(JXSOCKET s, int32_t nLevel, int32_t nName, int32_t* pValue)
{
    if (pValue == nullptr) return JX_ERR_ARG;
    int nInt = 0;
    JXSockLen nLen = sizeof(nInt);
    if (getsockopt(Native(s), nLevel, nName, reinterpret_cast<char*>(&nInt), &nLen) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    *pValue = nInt;
    return JX_OK;
}

int32_t JXSocketBind(JXSOCKET s, const sockaddr* pAddr, int32_t nLen)
{
    if (pAddr == nullptr || nLen <= 0) return JX_ERR_ARG;
    if (bind(Native(s), pAddr, static_cast<JXSockLen>(nLen)) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

int32_t JXSocketConnect(JXSOCKET s, const sockaddr* pAddr, int32_t nLen)
{
    if (pAddr == nullptr || nLen <= 0) return JX_ERR_ARG;
    if (connect(Native(s), pAddr, static_cast<JXSockLen>(nLen)) != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

namespace {

// getsockname or getpeername, with the arguments checked and the error recorded.
int32_t SocketAddress(JXSOCKET s, sockaddr* pAddr, int32_t* pLen, bool bPeer)
{
    if (pAddr == nullptr || pLen == nullptr || *pLen <= 0) return JX_ERR_ARG;
    JXSockLen nLen = static_cast<JXSockLen>(*pLen);
    const int nRet = bPeer ? getpeername(Native(s), pAddr, &nLen) : getsockname(Native(s), pAddr, &nLen);
    if (nRet != 0) {
        RecordError();
        return JX_ERR_FAIL;
    }
    *pLen = static_cast<int32_t>(nLen);
    return JX_OK;
}

}   // namespace

int32_t JXSocketGetName(JXSOCKET s, sockaddr* pAddr, int32_t* pLen)
{
    return SocketAddress(s, pAddr, pLen, false);
}

int32_t JXSocketGetPeer(JXSOCKET s, sockaddr* pAddr, int32_t* pLen)
{
    return SocketAddress(s, pAddr, pLen, true);
}

void JXNetSetResolver(JXResolveFunc pFunc)
{
    s_Resolver.store(pFunc);
}

JXResolveFunc JXNetGetResolver()
{
    JXResolveFunc pFunc = s_Resolver.load();
    return pFunc ? pFunc : &SystemResolve;
}

namespace {
// Bind, listen and read the port back; false (socket left open) on failure.
bool SetupListener(JXSOCKET s, const addrinfo* pAddr, int32_t nBacklog, uint16_t* pPort)
{
#if !defined(_WIN32)
    // On Windows SO_REUSEADDR would let another process take the port over.
    JXSocketSetOptInt(s, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    if (JXSocketBind(s, pAddr->ai_addr, static_cast<int32_t>(pAddr->ai_addrlen)) != JX_OK) return false;
    if (listen(Native(s), nBacklog < 0 ? SOMAXCONN : nBacklog) != 0) {
        RecordError();
        return false;
    }
    sockaddr_storage addr;
    int32_t nLen = static_cast<int32_t>(sizeof(addr));
    if (JXSocketGetName(s, reinterpret_cast<sockaddr*>(&addr), &nLen) != JX_OK) return false;
    if (JXSocketSetBlocking(s, 0) != JX_OK) return false;
    if (pPort) {
        *pPort = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                                            : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    }
    return true;
}
}   // namespace

JXSOCKET JXSocketListenTCP(const char* pHost, uint16_t nPort, int32_t nBacklog, uint16_t* pPort)
{
    char host[64];
    if (!StripBrackets(pHost ? pHost : "127.0.0.1", host, sizeof(host))) return JX_INVALID_SOCKET;
    char port[8];
    snprintf(port, sizeof(port), "%u", static_cast<unsigned>(nPort));

    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* pList = nullptr;
    if (getaddrinfo(host, port, &hints, &pList) != 0 || pList == nullptr) return JX_INVALID_SOCKET;

    JXSOCKET s = JXSocketCreate(pList->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (s != JX_INVALID_SOCKET && !SetupListener(s, pList, nBacklog, pPort)) {
        JXSocketClose(s);
        s = JX_INVALID_SOCKET;
    }
    freeaddrinfo(pList);
    return s;
}

JXSOCKET JXSocketAccept(JXSOCKET s)
{
#if defined(_WIN32)
    SOCKET c = accept(Native(s), nullptr, nullptr);
    if (c == INVALID_SOCKET) {
        RecordError();
        return JX_INVALID_SOCKET;
    }
    // An accepted socket is inheritable like any new handle; keep it from
    // child processes as JXSocketCreate does.
    SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
    JXSOCKET h = static_cast<JXSOCKET>(c);
    if (JXSocketSetBlocking(h, 0) != JX_OK) {
        JXSocketClose(h);
        return JX_INVALID_SOCKET;
    }
    return h;
#else
    int fd = accept4(Native(s), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        RecordError();
        return JX_INVALID_SOCKET;
    }
    return static_cast<JXSOCKET>(fd);
#endif
}
